// Ctrl-C at every stage of a run of the knn program: whatever the stage, the run either stops
// with exit code 130 and leaves no output and no temporary file, or (when the signal comes
// after the last check) completes with all its outputs.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Errors.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

// Four measurements and a continuous target, enough records that every stage takes a while.
std::string Measurements(int records) {
    std::string data = "a,b,c,d,y\n";
    unsigned state = 12345;
    const auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return static_cast<double>((state >> 8) % 100000) / 100000.0;
    };
    for (int i = 0; i < records; ++i) {
        const double a = next();
        const double b = next();
        data += std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(next()) + "," +
                std::to_string(next()) + "," + std::to_string(3 * a - b) + "\n";
    }
    return data;
}

struct Stage {
    const char* name;
    std::vector<std::string> initOptions;  // how the settings are written
    const char* trigger;                   // the progress line after which the stage runs
};

class InterruptAtEveryStage : public ::testing::TestWithParam<Stage> {
protected:
    static void SetUpTestSuite() {
        data_ = new TempDir;
        data_->Write("big.csv", Measurements(150000));
        data_->Write("new.csv", Measurements(150000));
    }
    static void TearDownTestSuite() {
        delete data_;
        data_ = nullptr;
    }
    static TempDir* data_;
};

TempDir* InterruptAtEveryStage::data_ = nullptr;

TEST_P(InterruptAtEveryStage, StopsCleanlyOrCompletes) {
    const Stage& stage = GetParam();
    TempDir dir;
    fs::create_directory(dir / "tmp");
    std::vector<std::string> init{"init",     "-q", "--data", *data_ / "big.csv",
                                  "--target", "y",  "--out",  "s.xml"};
    init.insert(init.end(), stage.initOptions.begin(), stage.initOptions.end());
    const Outcome written = Knn(dir, init);
    ASSERT_EQ(written.code, 0) << written.err;
    // init wrote the run's own temporary directory ($TMPDIR) as TempFileDir.
    ASSERT_TRUE(Contains(ReadFile(dir / "s.xml"), dir / "tmp/"));
    dir.Write("old.pmml", "previous model");
    const std::vector<std::string> before = dir.Files();

    const pid_t pid =
        Start(dir, {"run", "--settings", "s.xml", "--data", *data_ / "big.csv", "--pmml",
                    "old.pmml", "--score", *data_ / "new.csv", "--predictions", "p.csv"});
    bool seen = false;
    for (int i = 0; i < 6000 && !seen; ++i) {
        seen = Contains(ReadFile(dir / "stderr.txt"), stage.trigger);
        if (!seen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    kill(pid, SIGINT);
    const Outcome run = Finish(dir, pid);
    ASSERT_TRUE(seen) << "the run never reached \"" << stage.trigger << "\":\n" << run.err;
    if (run.code == 0) {
        // The signal came after the last check: everything was written.
        EXPECT_TRUE(Contains(ReadFile(dir / "old.pmml"), "</PMML>"));
        EXPECT_TRUE(fs::exists(dir / "p.csv"));
    } else {
        EXPECT_EQ(run.code, kExitInterrupted) << run.err;
        EXPECT_TRUE(Contains(run.err, "no output file was written")) << run.err;
        EXPECT_EQ(ReadFile(dir / "old.pmml"), "previous model");
        EXPECT_EQ(dir.Files(), before);
    }
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Stages, InterruptAtEveryStage,
    ::testing::Values(
        Stage{"ReadingTheFile", {}, "knn: reading "},
        Stage{"ReadingCases", {}, "knn: building the model from"},
        Stage{"ChoosingK", {}, "knn: reading cases: done"},
        Stage{"ChoosingFeatures", {"--k", "5", "--select", "auto"}, "knn: reading cases: done"},
        Stage{"ChoosingKAndFeatures", {"--select", "auto"}, "knn: reading cases: done"},
        Stage{"ComputingImportance", {"--k", "5", "--weight"}, "knn: reading cases: done"},
        Stage{"WritingTrainingData", {"--k", "5"}, "knn: writing the model document"},
        Stage{"WritingNeighbours", {"--k", "5"}, "knn: writing the training data: done"},
        Stage{"WritingTheDocument", {"--k", "5"}, "knn: writing neighbours and distances: done"},
        Stage{"Scoring", {"--k", "5"}, "knn: scoring "}),
    [](const ::testing::TestParamInfo<Stage>& info) { return std::string(info.param.name); });

}  // namespace

#endif  // KNN_CLI_PATH
