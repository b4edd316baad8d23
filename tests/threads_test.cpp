// Builds, exports and scores with the setting Threads at 1, 2, 3 and 8 (more threads than the
// machine has processors is allowed) and compares everything with a run without the key: the
// whole model document to the byte and the scores to the bit, for every way of choosing K and
// features, on data full of equal distances. Then the host's side of it: its interruption
// checker and progress sink are called on the calling thread only, a stop in each threaded stage
// ends the work, and no thread of the component is left once a call has returned, nor after the
// library is unloaded.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IVelAlgorithm.h"
#include "PmmlTestSupport.h"
#include "SettingsDocument.h"
#include "TestSources.h"
#include "knn/api/KNNFactory.h"
#include "knn/base/StatusCodes.h"

using KNN_800::test::GeneratedRecordSource;
using knn_test::ScratchDir;
using knn_test::SettingsDocument;
using VelCommon_940::IVelAlgorithm;
using VelCommon_940::Record;
using VelCommon_940::VelStatus;

namespace {

// Cases on a coarse grid, so that many distances are equal and ties decide neighbours and
// votes; the continuous target has no pattern that would make its sums come out the same in
// every order of addition. Fields: id, x1, x2, x3, c, y, cls, focal, fold, label.
GeneratedRecordSource Cases(int count) {
    return GeneratedRecordSource(count, 10, [](int i, std::vector<double>& v) {
        const double x1 = (i * 7) % 11;
        const double x2 = (i % 5) - 2.0;
        const double x3 = ((i * 3) % 4) / 4.0;
        v = {i + 1.0,
             x1,
             x2,
             x3,
             static_cast<double>(i % 3),
             x1 * 9.0 + ((i * 37) % 101) / 7.0 + x3,
             (x1 + x2 + (i % 7 == 0 ? 4 : 0)) > 6 ? 1.0 : 0.0,
             1.0,
             static_cast<double>(i % 3),
             static_cast<double>(i % 2)};
    });
}

// One way of choosing K and features, by its parameters.
struct Mode {
    const char* name;
    SettingsDocument (*settings)();
    int cases;
};

// Test names show the mode's name.
void PrintTo(const Mode& mode, std::ostream* out) {
    *out << mode.name;
}

SettingsDocument WithPredictors(SettingsDocument d) {
    return d.Predictor("x1").Predictor("x2").Predictor("x3").Predictor("c");
}

const Mode kModes[] = {
    // Fixed K for two targets, one categorical and one continuous; enough cases for the
    // model document's pass to run in more than one wave.
    {"FixedKTwoTargets",
     [] {
         SettingsDocument d;
         d.Roles().Target("cls").Target("y").Param("SpecifiedK", "int", "6");
         return WithPredictors(d);
     },
     9000},
    {"AutoKCategorical", [] { return knn_test::AutoK("cls", 1, 9); }, 1500},
    {"AutoKTwoTargetsMedian",
     [] {
         return knn_test::AutoK("cls", 2, 7)
             .Target("y")
             .Param("ComputePredValFunc", "string", "Median");
     },
     1500},
    {"ForwardSelectionTwoTargetsWeighted",
     [] {
         return knn_test::FeatureSelection("cls")
             .Target("y")
             .Param("IsFeatureWeight", "bool", "true")
             .Param("NSpecifiedFeatures", "int", "2")
             .Param("SpecifiedK", "int", "4");
     },
     1200},
    {"AutoFeatureSelectionMedian",
     [] {
         return knn_test::FeatureSelection("y")
             .Param("IsAutoFeatureSelection", "bool", "true")
             .Param("ComputePredValFunc", "string", "Median");
     },
     1200},
    {"JointKAndFeatures",
     [] {
         return knn_test::FeatureSelection("cls")
             .Param("IsAutoKSelection", "bool", "true")
             .Param("MinK", "int", "2")
             .Param("MaxK", "int", "5")
             .Param("NSpecifiedFeatures", "int", "2");
     },
     800},
    {"ImportanceAndWeights",
     [] {
         SettingsDocument d;
         d.Roles().Target("cls").Target("y").Param("IsFeatureWeight", "bool", "true");
         return WithPredictors(d);
     },
     1500},
};

const Record kQueries[] = {
    Record({0, 4.5, 0.5, 0.5, 1, 0, 0, 1, 0, 0}),
    Record({0, 3.0, -2.0, 0.25, 0, 0, 0, 1, 0, 0}),
    Record({0, 10.0, 2.0, 0.75, 2, 0, 0, 1, 0, 0}),
};

// What a build gives: the whole model document and the scores of the queries.
struct Outcome {
    std::string document;
    std::vector<std::vector<std::vector<double>>> scores;
};

Outcome BuildExportScore(const Mode& mode, const ScratchDir& scratch, const char* threads) {
    SettingsDocument d = mode.settings();
    d.Param("TempFileDir", "string", scratch.Prefix());
    if (threads != nullptr) {
        d.Param("Threads", "int", threads);
    }
    KNN_800::KNNFactory factory;
    std::istringstream in(d.Xml());
    std::unique_ptr<IVelAlgorithm> algorithm(factory.CreateVelAlgorithm(in));
    Outcome outcome;
    EXPECT_NE(algorithm, nullptr) << factory.GetStatus().GetMessage();
    if (algorithm == nullptr) {
        return outcome;
    }
    GeneratedRecordSource source = Cases(mode.cases);
    const VelStatus built = algorithm->Build(source);
    EXPECT_FALSE(built.IsError()) << built.GetErrorCode() << " " << built.GetMessage();
    std::ostringstream out;
    VelCommon_940::ExportOptions exportOptions;
    EXPECT_TRUE(algorithm->Export(out, &exportOptions).IsOK());
    outcome.document = out.str();
    VelCommon_940::ScoreOptions scoreOptions;
    for (const Record& query : kQueries) {
        outcome.scores.emplace_back();
        EXPECT_TRUE(algorithm->Score(query, &scoreOptions, outcome.scores.back()).IsOK());
    }
    return outcome;
}

class EveryThreadCount : public ::testing::TestWithParam<Mode> {};

// Byte for byte and bit for bit: every error sum, tie and vote as with one thread.
TEST_P(EveryThreadCount, GivesTheDocumentAndScoresOfOneThread) {
    ScratchDir scratch;
    const Outcome reference = BuildExportScore(GetParam(), scratch, nullptr);
    ASSERT_FALSE(reference.document.empty());
    for (const char* threads : {"1", "2", "3", "8", "0"}) {
        SCOPED_TRACE(std::string("Threads = ") + threads);
        const Outcome outcome = BuildExportScore(GetParam(), scratch, threads);
        EXPECT_TRUE(outcome.document == reference.document);
        EXPECT_EQ(outcome.scores, reference.scores);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryThreadCount, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param.name);
                         });

TEST(ThreadsSetting, IsRefusedWhenNegativeOrNotAWholeNumber) {
    for (const auto& [type, value] : {std::pair{"int", "-1"}, std::pair{"string", "2"}}) {
        SettingsDocument d;
        d.Roles().Target("cls").Predictor("x1").Param("Threads", type, value);
        KNN_800::KNNFactory factory;
        std::istringstream in(d.Xml());
        std::unique_ptr<IVelAlgorithm> algorithm(factory.CreateVelAlgorithm(in));
        EXPECT_EQ(algorithm, nullptr);
        EXPECT_EQ(factory.GetStatus().GetErrorCode(), KNN_800::Code::BadThreads);
        EXPECT_NE(factory.GetStatus().GetMessage().find("Threads"), std::string::npos);
    }
}

// The threads of this process, from /proc/self/task. A thread is started and joined first, so
// that the helper threads a sanitizer's runtime starts with the first thread are counted
// before and after alike.
int ThreadCount() {
    std::thread([] {}).join();
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(tasks);
    }
    return count;
}

// A host checker and sink that note every call made from another thread than the one that
// made them; the checker asks to stop at its call number `stopAt` (0: never).
class CallingThreadHost : public VelCommon_940::InterruptChecker,
                          public VelCommon_940::ProgressSink {
public:
    explicit CallingThreadHost(int stopAt) : stopAt(stopAt) {}
    bool IsInterrupted() override {
        Note();
        return stopAt > 0 && ++calls >= stopAt;
    }
    void Notify(VelCommon_940::ProgressReport*) override { Note(); }

    const std::thread::id caller = std::this_thread::get_id();
    int calls = 0;
    std::atomic<int> fromOtherThreads{0};

private:
    void Note() {
        if (std::this_thread::get_id() != caller) {
            ++fromOtherThreads;
        }
    }
    int stopAt;
};

// A stop asked for by the host's checker in each threaded stage of a build. The checker is
// asked once per record while the data are read, then by the calling thread before each of
// its chunks of cases: a stop a few calls after the last record falls into the selection
// stage of the mode (the first threaded pass).
class StopInEachStage : public ::testing::TestWithParam<Mode> {};

TEST_P(StopInEachStage, EndsTheBuildOnTheCallingThreadAndLeavesNoThread) {
    SettingsDocument d = GetParam().settings();
    d.Param("Threads", "int", "3");
    KNN_800::KNNFactory factory;
    std::istringstream in(d.Xml());
    std::unique_ptr<IVelAlgorithm> algorithm(factory.CreateVelAlgorithm(in));
    ASSERT_NE(algorithm, nullptr);
    const int cases = GetParam().cases;
    CallingThreadHost host(cases + 3);
    algorithm->SetInterruptChecker(&host);
    algorithm->SetProgressSink(&host);
    const int threadsBefore = ThreadCount();
    GeneratedRecordSource source = Cases(cases);
    EXPECT_EQ(algorithm->Build(source).GetErrorCode(), KNN_800::Code::Interrupted);
    EXPECT_EQ(host.calls, cases + 3) << "not asked again once it said stop";
    EXPECT_EQ(host.fromOtherThreads.load(), 0);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

INSTANTIATE_TEST_SUITE_P(Stages, StopInEachStage,
                         ::testing::Values(kModes[1], kModes[3], kModes[4], kModes[5], kModes[6]),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param.name);
                         });

// The model document's scoring pass: stopped by the checker on the calling thread, and by the
// host's Interrupt from another thread, which the threads see between their chunks.
TEST(StopInTheExport, EndsTheExportEitherWay) {
    ScratchDir scratch;
    SettingsDocument d = kModes[0].settings();
    d.Param("Threads", "int", "3").Param("TempFileDir", "string", scratch.Prefix());
    KNN_800::KNNFactory factory;
    std::istringstream in(d.Xml());
    std::unique_ptr<IVelAlgorithm> algorithm(factory.CreateVelAlgorithm(in));
    ASSERT_NE(algorithm, nullptr);
    GeneratedRecordSource source = Cases(kModes[0].cases);
    ASSERT_TRUE(algorithm->Build(source).IsOK());
    const int threadsBefore = ThreadCount();

    CallingThreadHost host(kModes[0].cases + 40);  // into the scoring pass after the cases
    algorithm->SetInterruptChecker(&host);
    algorithm->SetProgressSink(&host);
    std::ostringstream out;
    VelCommon_940::ExportOptions options;
    // A stop in the scoring pass fails the case tables, with the cause in the message.
    const VelStatus stopped = algorithm->Export(out, &options);
    EXPECT_EQ(stopped.GetErrorCode(), KNN_800::Code::CaseTablesFailed);
    EXPECT_NE(stopped.GetMessage().find("interrupted"), std::string::npos);
    EXPECT_EQ(host.fromOtherThreads.load(), 0);
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_TRUE(scratch.Files().empty());

    // Interrupt from another thread while the export runs: it stops, or has finished before
    // the flag was seen; either way it does not hang and leaves no thread.
    algorithm->SetInterruptChecker(nullptr);
    std::atomic<bool> started{false};
    std::thread interrupter([&] {
        while (!started.load()) {
            std::this_thread::yield();
        }
        algorithm->Interrupt();
    });
    started.store(true);
    const VelStatus exported = algorithm->Export(out, &options);
    interrupter.join();
    EXPECT_TRUE(exported.IsOK() || exported.GetErrorCode() == KNN_800::Code::CaseTablesFailed ||
                exported.GetErrorCode() == KNN_800::Code::Interrupted);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

// Loaded by name, used with threads and unloaded: the threads it started are gone, both after
// the call and after dlclose (the library keeps no pool).
TEST(ThreadsOfTheLoadedLibrary, AreGoneAfterEachCallAndAfterUnloading) {
    const std::string library = std::string(KNN_LIBRARY_DIR) + "/libknn800.so";
    const int threadsBefore = ThreadCount();
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto get =
        reinterpret_cast<VelCommon_940::GetVelFactoryFunction>(dlsym(handle, "GetVelFactory"));
    ASSERT_NE(get, nullptr);
    {
        std::unique_ptr<VelCommon_940::IVelFactory> factory(get());
        SettingsDocument d = kModes[6].settings();
        ScratchDir scratch;
        d.Param("Threads", "int", "4").Param("TempFileDir", "string", scratch.Prefix());
        std::istringstream in(d.Xml());
        std::unique_ptr<IVelAlgorithm> algorithm(factory->CreateVelAlgorithm(in));
        ASSERT_NE(algorithm, nullptr);
        GeneratedRecordSource source = Cases(kModes[6].cases);
        ASSERT_TRUE(algorithm->Build(source).IsOK());
        EXPECT_EQ(ThreadCount(), threadsBefore);
        std::ostringstream out;
        VelCommon_940::ExportOptions options;
        ASSERT_TRUE(algorithm->Export(out, &options).IsOK());
        EXPECT_EQ(ThreadCount(), threadsBefore);
    }
    EXPECT_EQ(dlclose(handle), 0);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

}  // namespace
