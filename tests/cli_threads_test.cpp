// knn run --threads: the settings text handed to the component carries the thread count, the
// user's file stays as it is, and the outputs are the same for every count.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <string>

#include "Errors.h"
#include "ThreadsOption.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

const char* const kThreadsOne = "<Parameter key=\"Threads\" type=\"int\" value=\"1\"/>";

// The key goes into the parameters however they are written, on the line of their end, and a
// key the document sets itself is left to it unless --threads says otherwise too.
TEST(SettingsWithThreads, AddsTheKeyOnlyWhereTheDocumentHasNone) {
    const std::string document = kSettings;
    const std::string added = SettingsWithThreads(document, 3);
    EXPECT_EQ(added, Replace(document, "</Parameters>",
                             "<Parameter key=\"Threads\" type=\"int\" value=\"3\"/></Parameters>"));
    EXPECT_TRUE(
        Contains(SettingsWithThreads(document, std::nullopt), "value=\"0\"/></Parameters>"));

    const std::string empty =
        Replace(document,
                document.substr(document.find("<Parameters>"), document.find("</Parameters>") + 13 -
                                                                   document.find("<Parameters>")),
                "<Parameters/>");
    EXPECT_TRUE(Contains(SettingsWithThreads(empty, 2),
                         "<Parameters><Parameter key=\"Threads\" type=\"int\" value=\"2\"/>"
                         "</Parameters>"));

    const std::string own =
        Replace(document, "</Parameters>", std::string(kThreadsOne) + "</Parameters>");
    EXPECT_EQ(SettingsWithThreads(own, std::nullopt), own);
    try {
        SettingsWithThreads(own, 2);
        ADD_FAILURE() << "--threads and the key together were accepted";
    } catch (const CliError& error) {
        EXPECT_EQ(error.Code(), kExitUsage);
    }
}

TEST_F(Program, GivesTheSameOutputsForEveryThreadCountAndRefusesANegativeOne) {
    dir.Write("new.csv", "x1,x2,colour\n1,1,blue\n9,9,red\n2,2,green\n");
    const std::string settings = ReadFile(dir / "s.xml");
    std::string first;
    for (const char* threads : {"1", "2", "5", "0"}) {
        const Outcome run = Run("train.csv", {"--threads", threads, "--score", "new.csv",
                                              "--predictions", "out.csv", "--pmml", "m.pmml"});
        ASSERT_EQ(run.code, 0) << run.err;
        const std::string outputs = run.out + ReadFile(dir / "out.csv") + ReadFile(dir / "m.pmml");
        if (first.empty()) {
            first = outputs;
        }
        EXPECT_EQ(outputs, first) << "--threads " << threads;
    }
    EXPECT_EQ(ReadFile(dir / "s.xml"), settings);

    for (const char* bad : {"-1", "two", "1.5"}) {
        const Outcome run = Run("train.csv", {"--threads", bad});
        EXPECT_EQ(run.code, kExitUsage) << bad;
        EXPECT_TRUE(Contains(run.err, "--threads")) << run.err;
    }
    dir.Write("s.xml",
              Replace(settings, "</Parameters>",
                      "<Parameter key=\"Threads\" type=\"int\" value=\"-2\"/></Parameters>"));
    const Outcome refused = Run("train.csv");
    EXPECT_EQ(refused.code, kExitSettings);
    EXPECT_TRUE(Contains(refused.err, "Threads")) << refused.err;
}

}  // namespace

#endif  // KNN_CLI_PATH
