// knn run --importances: importances handed to the component instead of computed, and every
// way of giving them wrongly.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Errors.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

class Importances : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        weighted = Replace(ReadFile(dir / "s.xml"), "<Parameters>",
                           "<Parameters><Parameter key=\"IsFeatureWeight\" type=\"bool\" "
                           "value=\"true\"/>");
        dir.Write("s.xml", weighted);
    }
    std::string weighted;
};

TEST_F(Importances, GivenOnesReplaceTheComputedOnesInTheDocument) {
    const Outcome run =
        Run("train.csv", {"--importances", "colour=2,x1=0.5,x2=1.25", "--pmml", "m.pmml", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string document = ReadFile(dir / "m.pmml");
    EXPECT_TRUE(Contains(document, "<MiningField name=\"x1\" importance=\"0.5\"")) << document;
    EXPECT_TRUE(Contains(document, "<MiningField name=\"x2\" importance=\"1.25\""));
    EXPECT_TRUE(Contains(document, "<MiningField name=\"colour\" importance=\"2\""));

    // Computed, they are others.
    ASSERT_EQ(Run("train.csv", {"--pmml", "c.pmml", "-q"}).code, 0);
    EXPECT_FALSE(Contains(ReadFile(dir / "c.pmml"), "<MiningField name=\"x1\" importance=\"0.5\""));
}

TEST_F(Importances, MistakesAreRefusedNamingTheFieldAndNothingIsWritten) {
    const std::vector<std::pair<std::string, std::string>> mistakes = {
        {"x1=1,x2=1,colour=1,size=1", "\"size\" is not a feature of the settings"},
        {"x1=1,x2=1", "no importance for the feature \"colour\""},
        {"x1=1,x2=1,colour=1,x1=2", "\"x1\" is given twice"},
        {"x1=-1,x2=1,colour=1", "the importance of \"x1\" must be a number above 0, not \"-1\""},
        {"x1=0,x2=1,colour=1", "the importance of \"x1\" must be a number above 0, not \"0\""},
        {"x1=1,x2=nan,colour=1", "the importance of \"x2\" must be a number above 0"},
        {"x1=1,x2=1e999,colour=1", "the importance of \"x2\" must be a number above 0"},
        {"x1=1,x2=2 ,colour=1", "the importance of \"x2\" must be a number above 0"},
        {"x1,x2=1,colour=1", "\"x1\" is not field=value"},
        {"x1=1,,x2=1,colour=1", "\"\" is not field=value"},
    };
    const std::vector<std::string> before = dir.Files();
    for (const auto& [list, message] : mistakes) {
        const Outcome run = Run("train.csv", {"--importances", list, "--pmml", "m.pmml"});
        EXPECT_EQ(run.code, kExitUsage) << list;
        EXPECT_TRUE(Contains(run.err, "--importances: " + message)) << list << "\n" << run.err;
    }
    EXPECT_EQ(dir.Files(), before);

    // Only where the component uses them: features weighted by importance, one target, no
    // selection.
    dir.Write("s.xml", Replace(weighted, "value=\"true\"/>", "value=\"false\"/>"));
    Outcome run = Run("train.csv", {"--importances", "x1=1,x2=1,colour=1"});
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_TRUE(Contains(run.err, "do not weight the features by importance")) << run.err;
    dir.Write("s.xml", Replace(weighted, "<Target name=\"class\"/>",
                               "<Target name=\"class\"/><Target name=\"grade\"/>"));
    run = Run("train.csv", {"--importances", "x1=1,x2=1,colour=1"});
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_TRUE(Contains(run.err, "one target only")) << run.err;
}

}  // namespace

#endif  // KNN_CLI_PATH
