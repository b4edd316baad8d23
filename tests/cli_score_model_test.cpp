// Scoring from a saved model document: `knn score --model` must give, cell for cell, the
// predictions that `knn run --score` gives with the same model, and must refuse a document it
// cannot rebuild the model from, saying why and leaving no output behind.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CliTestSupport.h"
#include "Errors.h"

using namespace knncli_test;
using knncli::kExitInterrupted;

namespace {

// Runs `knn run` with --pmml and --score, then `knn score` on the document, and expects the
// same predictions file from both.
void ExpectSamePredictions(const TempDir& dir, const std::string& settings,
                           const std::string& training, const std::string& records) {
    const Outcome run = Knn(dir, {"run", "-q", "--settings", settings, "--data", training, "--pmml",
                                  "model.pmml", "--score", records, "--predictions", "run.csv"});
    ASSERT_EQ(run.code, 0) << run.err;
    const Outcome score = Knn(dir, {"score", "-q", "--model", "model.pmml", "--data", records,
                                    "--predictions", "score.csv"});
    ASSERT_EQ(score.code, 0) << score.err;
    EXPECT_TRUE(Contains(score.out, "Model read from model.pmml")) << score.out;
    const std::string expected = ReadFile(dir / "run.csv");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ReadFile(dir / "score.csv"), expected) << settings << " on " << records;
}

TEST(ScoreModel, GivesThePredictionsOfRunOnEveryExample) {
    TempDir dir;
    const std::string examples = std::string(KNN_SOURCE_DIR) + "/examples/";
    for (const std::string example : {"iris", "breast_cancer", "diabetes", "wine"}) {
        const std::string data = examples + example + "/" + example + ".csv";
        ExpectSamePredictions(dir, examples + example + "/" + example + ".xml", data, data);
    }
    ExpectSamePredictions(dir, examples + "iris/iris.xml", examples + "iris/iris.csv",
                          examples + "iris/NEW.csv");
}

// Fields for generated data: measurements on a coarse grid (many equal distances), one with
// values of 17 significant digits, a category text with the table's separator in it, declared
// missing values, two targets and the program's record number, focal field and folds.
const char* const kDictionary = R"(<Dictionary>
    <Field name="x1" kind="continuous" min="0" max="10"/>
    <Field name="x2" kind="continuous" min="-5" max="5"><Missing value="-99"/></Field>
    <Field name="x3" kind="continuous" min="0" max="1"/>
    <Field name="colour" kind="categorical-string">
      <Category value="blue"/><Category value="red;dark"/><Category value="back\slash"/>
      <Missing text="none"/>
    </Field>
    <Field name="grade" kind="categorical-numeric">
      <Category value="1"/><Category value="2"/><Category value="3"/>
    </Field>
    <Field name="class" kind="categorical-string">
      <Category value="a"/><Category value="b"/><Category value="c"/>
    </Field>
    <Field name="y" kind="continuous" min="0" max="100"/>
    <Field name="_row" kind="continuous" min="1" max="1000"/>
    <Field name="_focal" kind="categorical-numeric"><Category value="1"/></Field>
    <Field name="_fold" kind="categorical-numeric">
      <Category value="1"/><Category value="2"/><Category value="3"/><Category value="4"/>
    </Field>
  </Dictionary>
  <Predictors>
    <Predictor name="x1"/><Predictor name="x2"/><Predictor name="x3"/>
    <Predictor name="colour"/><Predictor name="grade"/>
  </Predictors>)";

std::string Settings(const std::string& targets, const std::string& parameters) {
    return std::string("<Settings version=\"1\">\n  ") + kDictionary + "\n  <Targets>" + targets +
           "</Targets>\n  <Parameters>\n"
           "    <Parameter key=\"CaseIDVar\" type=\"string\" value=\"_row\"/>\n"
           "    <Parameter key=\"FocalVar\" type=\"string\" value=\"_focal\"/>\n"
           "    <Parameter key=\"VFoldVar\" type=\"string\" value=\"_fold\"/>\n"
           "    <Parameter key=\"VFoldValue\" type=\"int\" value=\"4\"/>\n" +
           parameters + "  </Parameters>\n</Settings>\n";
}

// `count` records from `seed`; every seventh one misses x2 or has no colour.
std::string Records(int count, int seed) {
    const char* colours[] = {"blue", "\"red;dark\"", "back\\slash"};
    const char* classes[] = {"a", "b", "c"};
    std::string text = "x1,x2,x3,colour,grade,class,y\n";
    for (int i = 0; i < count; ++i) {
        const int r = i * 7 + seed;
        const int x1 = r % 11;
        const int x2 = (r * 3) % 9 - 4;
        char x3[32];
        std::snprintf(x3, sizeof x3, "%.17g", ((r * 13) % 17) / 17.0);
        char y[32];
        std::snprintf(y, sizeof y, "%.17g", x1 * 3.3 + (r % 3) / 3.0);
        text += std::to_string(x1) + "," + (i % 7 == 3 ? "-99" : std::to_string(x2)) + "," + x3 +
                "," + (i % 7 == 5 ? "none" : colours[r % 3]) + "," + std::to_string(r % 3 + 1) +
                "," + classes[(x1 + x2 + 9) / 7 % 3] + "," + y + "\n";
    }
    return text;
}

TEST(ScoreModel, GivesThePredictionsOfRunOnDataWithTiesInEverySelectionMode) {
    TempDir dir;
    fs::create_directory(dir / "tmp");
    const std::string temp =
        "    <Parameter key=\"TempFileDir\" type=\"string\" value=\"" + dir / "tmp/" + "\"/>\n";
    const std::string both = "<Target name=\"class\"/><Target name=\"y\"/>";
    const std::vector<std::string> settings{
        // K chosen by cross-validation over the folds, for two targets.
        Settings(both, temp + "<Parameter key=\"IsAutoKSelection\" type=\"bool\" value=\"true\"/>"
                              "<Parameter key=\"MinK\" type=\"int\" value=\"2\"/>"
                              "<Parameter key=\"MaxK\" type=\"int\" value=\"7\"/>"),
        // K and features chosen together, the features weighted by their importance: each
        // target has its own K, features and weights.
        Settings(both, temp + "<Parameter key=\"IsAutoKSelection\" type=\"bool\" value=\"true\"/>"
                              "<Parameter key=\"IsFeatureSelection\" type=\"bool\" value=\"true\"/>"
                              "<Parameter key=\"NSpecifiedFeatures\" type=\"int\" value=\"3\"/>"
                              "<Parameter key=\"IsFeatureWeight\" type=\"bool\" value=\"true\"/>"),
        // Forward selection with a forced feature, city-block distances, medians.
        Settings(both, temp + "<Parameter key=\"IsFeatureSelection\" type=\"bool\" value=\"true\"/>"
                              "<Array key=\"ForcedVariables\" type=\"string\">"
                              "<Item value=\"x3\"/></Array>"
                              "<Parameter key=\"IsAutoFeatureSelection\" type=\"bool\" "
                              "value=\"true\"/>"
                              "<Parameter key=\"DistMetric\" type=\"string\" value=\"CityBlock\"/>"
                              "<Parameter key=\"ComputePredValFunc\" type=\"string\" "
                              "value=\"Median\"/>"
                              "<Parameter key=\"SpecifiedK\" type=\"int\" value=\"4\"/>"),
        // Fixed features out of dictionary order with their own weights, no rescaling.
        Settings("<Target name=\"y\"/>",
                 temp + "<Array key=\"SpecifiedFeature\" type=\"string\"><Item value=\"grade\"/>"
                        "<Item value=\"x3\"/><Item value=\"x1\"/></Array>"
                        "<Array key=\"SpecifiedFeatureWeight\" type=\"double\">"
                        "<Item value=\"2\"/><Item value=\"0.3\"/><Item value=\"1.7\"/></Array>"
                        "<Parameter key=\"RescaleMethod\" type=\"bool\" value=\"false\"/>"
                        "<Parameter key=\"SpecifiedK\" type=\"int\" value=\"5\"/>"),
        // Neighbours only, without a target.
        Settings("", temp + "<Parameter key=\"SpecifiedK\" type=\"int\" value=\"3\"/>"),
    };
    dir.Write("train.csv", Records(150, 1));
    dir.Write("new.csv", Records(60, 4) + "11,0,0.5,unknown,1,a,1\n");
    for (size_t i = 0; i < settings.size(); ++i) {
        SCOPED_TRACE("settings " + std::to_string(i));
        dir.Write("s.xml", settings[i]);
        ExpectSamePredictions(dir, "s.xml", "train.csv", "new.csv");
        ExpectSamePredictions(dir, "s.xml", "train.csv", "train.csv");
    }
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST(ScoreModel, CtrlCStopsCleanlyOrCompletesInEveryStage) {
    TempDir dir;
    fs::create_directory(dir / "tmp");
    dir.Write("s.xml", Settings("<Target name=\"class\"/>",
                                "    <Parameter key=\"TempFileDir\" type=\"string\" value=\"" +
                                    dir / "tmp/" +
                                    "\"/>\n"
                                    "<Parameter key=\"SpecifiedK\" type=\"int\" value=\"9\"/>"));
    dir.Write("train.csv", Records(60000, 1));
    dir.Write("new.csv", Records(60000, 2));
    ASSERT_EQ(
        Knn(dir, {"run", "-q", "--settings", "s.xml", "--data", "train.csv", "--pmml", "m.pmml"})
            .code,
        0);
    const std::vector<std::string> before = dir.Files();
    for (const char* trigger :
         {"knn: reading the model document", "knn: building the model", "knn: scoring "}) {
        const pid_t pid = Start(
            dir, {"score", "--model", "m.pmml", "--data", "new.csv", "--predictions", "p.csv"});
        bool seen = false;
        for (int i = 0; i < 6000 && !seen; ++i) {
            seen = Contains(ReadFile(dir / "stderr.txt"), trigger);
            if (!seen) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        kill(pid, SIGINT);
        const Outcome outcome = Finish(dir, pid);
        ASSERT_TRUE(seen) << "never reached \"" << trigger << "\":\n" << outcome.err;
        if (outcome.code == 0) {
            fs::remove(dir / "p.csv");  // the signal came after the last check
        } else {
            EXPECT_EQ(outcome.code, kExitInterrupted) << trigger << ": " << outcome.err;
            EXPECT_TRUE(Contains(outcome.err, "interrupted")) << outcome.err;
        }
        EXPECT_EQ(dir.Files(), before) << trigger;
    }
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

class Refusal : public Program {
protected:
    // Writes the model document of the fixture's settings to `name`, with `more` options.
    void WriteModel(const std::string& name, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--pmml", name, "-q"};
        args.insert(args.end(), more.begin(), more.end());
        ASSERT_EQ(Run("train.csv", args).code, 0);
    }
    // Scores with `model` and expects exit 4 with `message`, and no predictions file.
    void ExpectRefused(const std::string& model, const std::string& message) {
        const Outcome outcome = Knn(dir, {"score", "-q", "--model", model, "--data", "train.csv",
                                          "--predictions", "out.csv"});
        EXPECT_EQ(outcome.code, 4) << model << ": " << outcome.err;
        EXPECT_TRUE(Contains(outcome.err, message)) << outcome.err;
        EXPECT_FALSE(fs::exists(dir / "out.csv"));
    }
};

TEST_F(Refusal, CompactForeignDamagedAndHostileDocumentsAreRefusedWithTheReason) {
    WriteModel("compact.pmml", {"--compact"});
    ExpectRefused("compact.pmml", "it was written with --compact");

    WriteModel("full.pmml");
    const std::string full = ReadFile(dir / "full.pmml");
    dir.Write("cut.pmml", full.substr(0, full.size() / 2));
    ExpectRefused("cut.pmml", "cannot score with the model document cut.pmml: line ");

    const std::string echo = "name=\"Orvex Model Settings\"";
    dir.Write("foreign.pmml", Replace(full, echo, "name=\"Other Settings\""));
    ExpectRefused("foreign.pmml", "is not a model document written by knn run --pmml");

    const size_t row = full.find("<Row>1;");
    ASSERT_NE(row, std::string::npos);
    std::string damaged = full;
    damaged.replace(row, 7, "<Row>1;x");
    dir.Write("damaged.pmml", damaged);
    ExpectRefused("damaged.pmml", "the training case 1 of the table originalData gives the field");

    // Entities that would expand to gigabytes: the declaration alone is refused.
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE PMML [\n<!ENTITY e0 \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        const std::string prior = "&e" + std::to_string(level - 1) + ";";
        std::string body;
        for (int i = 0; i < 10; ++i) {
            body += prior;
        }
        bomb += "<!ENTITY e" + std::to_string(level) + " \"" + body + "\">\n";
    }
    dir.Write("bomb.pmml", bomb + "]>\n<PMML><Header copyright=\"&e9;\"/></PMML>\n");
    ExpectRefused("bomb.pmml", "cannot score with the model document bomb.pmml: line ");
    dir.Write("declared.pmml",
              Replace(full, "<PMML", "<!DOCTYPE PMML [<!ENTITY e \"x\">]>\n<PMML"));
    ExpectRefused("declared.pmml", "document type declaration");

    ExpectRefused("absent.pmml", "cannot open");
}

}  // namespace

#endif  // KNN_CLI_PATH
