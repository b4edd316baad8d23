// Progress report of the component: per stage, a count written at the stage's end (or every
// 30000 records while reading), plus the processor-clock times that give the elapsed seconds.
// Exported so that a host can copy it.
#pragma once

#include <string>

#include "ProgressReport.h"
#include "knn/base/Export.h"

namespace KNN_800 {

class KNN_EXPORT KNNReporter : public VelCommon_940::ProgressReport {
public:
    // Stage names in counter order.
    static constexpr int kStageCount = 12;
    static const char* const kStageNames[kStageCount];

    KNNReporter();
    KNNReporter(const KNNReporter& other);
    KNNReporter(KNNReporter&& other) noexcept;
    KNNReporter& operator=(const KNNReporter& other);
    KNNReporter& operator=(KNNReporter&& other) noexcept;
    ~KNNReporter() override;

    // "ReportStage" gives the code of the stage last reported; a stage name its count (-1 when
    // nothing was reported); any other name -1.
    int DiscreteMeasure(const std::string& name) override;
    // "elapsedTime" gives the seconds from the stage's start to the last report; any other
    // name the missing value.
    double ScaleMeasure(const std::string& name) override;

    void Reset();
    void SetStartTime(double ticks);
    void SetValues(const std::string& name, int count, double ticks);

    // The processor clock in ticks of 1/1000 second.
    static double Clock();

private:
    int counters[kStageCount];
    double stageStart = 0.0;
    double lastTime = 0.0;
    int stage = -1;
};

}  // namespace KNN_800
