// The progress reporter: what a host reads back after each notification.
#include <gtest/gtest.h>

#include "VelMV.h"
#include "knn/base/KNNReporter.h"
#include "knn/base/RunContext.h"

using KNN_800::KNNReporter;
using VelCommon_940::VelMV;

TEST(Reporter, CountersStartUnreportedAndUnknownNamesAreNeutral) {
    KNNReporter reporter;
    for (const char* stage : KNNReporter::kStageNames) {
        EXPECT_EQ(reporter.DiscreteMeasure(stage), -1) << stage;
    }
    EXPECT_EQ(reporter.DiscreteMeasure("nonsense"), -1);
    EXPECT_TRUE(VelMV::IsMissing(reporter.ScaleMeasure("ElapsedTime")));
}

TEST(Reporter, EveryStageReportsItsOwnCode) {
    const std::pair<const char*, int> codes[] = {
        {"cases", 0},      {"modelSelection", 1},  {"buildModel", 2},         {"scoreTraining", 3},
        {"kselection", 4}, {"featSelection", 5},   {"kandFeatselection", 6},  {"featImportance", 7},
        {"featWeight", 8}, {"writeOrigToDisk", 9}, {"compDisSaveToDisk", 10}, {"writePMML", 11}};
    KNNReporter reporter;
    for (const auto& [name, code] : codes) {
        reporter.SetValues(name, 7, 1.0);
        EXPECT_EQ(reporter.DiscreteMeasure("ReportStage"), code) << name;
        EXPECT_EQ(reporter.DiscreteMeasure(name), 7) << name;
    }
}

TEST(Reporter, ElapsedTimeAndClockWrap) {
    KNNReporter reporter;
    reporter.SetStartTime(200.0);
    reporter.SetValues("buildModel", 1, 500.0);
    EXPECT_EQ(reporter.DiscreteMeasure("ReportStage"), 2);
    EXPECT_EQ(reporter.DiscreteMeasure("buildModel"), 1);
    EXPECT_DOUBLE_EQ(reporter.ScaleMeasure("elapsedTime"), 0.3);

    reporter.SetStartTime(2147483647.0 - 647.0);
    reporter.SetValues("cases", 10, 353.0);
    EXPECT_DOUBLE_EQ(reporter.ScaleMeasure("elapsedTime"), 1.0);
}

TEST(Reporter, NamesMatchExactlyAndResetKeepsTheStage) {
    KNNReporter reporter;
    reporter.SetValues("featWeight", 1, 10.0);
    reporter.SetValues("KSelection", 1, 30.0);  // wrong case: only the time moves
    EXPECT_EQ(reporter.DiscreteMeasure("kselection"), -1);
    EXPECT_EQ(reporter.DiscreteMeasure("ReportStage"), 8);
    EXPECT_DOUBLE_EQ(reporter.ScaleMeasure("elapsedTime"), 0.03);

    KNNReporter copy(reporter);
    reporter.Reset();
    EXPECT_EQ(reporter.DiscreteMeasure("featWeight"), -1);
    EXPECT_EQ(reporter.DiscreteMeasure("ReportStage"), 8);
    EXPECT_DOUBLE_EQ(reporter.ScaleMeasure("elapsedTime"), 0.0);
    EXPECT_EQ(copy.DiscreteMeasure("featWeight"), 1);
}

namespace {
struct NullSink : VelCommon_940::ProgressSink {
    void Notify(VelCommon_940::ProgressReport*) override {}
};
}  // namespace

TEST(Reporter, TheRunContextOwnsTheReporterOfItsSink) {
    KNN_800::RunContext context;
    EXPECT_EQ(context.Reporter(), nullptr);
    NullSink sink;
    context.SetProgressSink(&sink);
    ASSERT_NE(context.Reporter(), nullptr);
    context.SetProgressSink(nullptr);
    EXPECT_EQ(context.Reporter(), nullptr);
    EXPECT_EQ(context.sink, nullptr);
}
