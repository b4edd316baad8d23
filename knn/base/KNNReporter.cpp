#include "knn/base/KNNReporter.h"

#include <algorithm>
#include <ctime>

#include "VelMV.h"

namespace KNN_800 {

namespace {

// Stage codes indexed by counter position; the counters follow the order of kStageNames, the
// codes follow the order in which a run passes the stages.
constexpr int kStageCodes[KNNReporter::kStageCount] = {0, 1, 4, 6, 5, 7, 8, 2, 3, 11, 9, 10};

int CounterOf(const std::string& name) {
    for (int i = 0; i < KNNReporter::kStageCount; ++i) {
        if (name == KNNReporter::kStageNames[i]) {
            return i;
        }
    }
    return -1;
}

}  // namespace

const char* const KNNReporter::kStageNames[kStageCount] = {
    "cases",         "modelSelection", "kselection",      "kandFeatselection",
    "featSelection", "featImportance", "featWeight",      "buildModel",
    "scoreTraining", "writePMML",      "writeOrigToDisk", "compDisSaveToDisk"};

KNNReporter::KNNReporter() {
    std::fill(std::begin(counters), std::end(counters), -1);
}

KNNReporter::KNNReporter(const KNNReporter& other) = default;
KNNReporter::KNNReporter(KNNReporter&& other) noexcept = default;
KNNReporter& KNNReporter::operator=(const KNNReporter& other) = default;
KNNReporter& KNNReporter::operator=(KNNReporter&& other) noexcept = default;
KNNReporter::~KNNReporter() = default;

int KNNReporter::DiscreteMeasure(const std::string& name) {
    if (name == "ReportStage") {
        return stage;
    }
    const int counter = CounterOf(name);
    return counter < 0 ? -1 : counters[counter];
}

double KNNReporter::ScaleMeasure(const std::string& name) {
    if (name != "elapsedTime") {
        return VelCommon_940::VelMV::Missing();
    }
    double elapsed = lastTime;
    if (elapsed < stageStart) {
        elapsed += 2147483647.0;  // the 32-bit tick counter wrapped
    }
    return (elapsed - stageStart) / 1000.0;
}

void KNNReporter::Reset() {
    std::fill(std::begin(counters), std::end(counters), -1);
    stageStart = 0.0;
    lastTime = 0.0;
}

void KNNReporter::SetStartTime(double ticks) {
    stageStart = ticks;
}

void KNNReporter::SetValues(const std::string& name, int count, double ticks) {
    const int counter = CounterOf(name);
    if (counter >= 0) {
        counters[counter] = count;
        stage = kStageCodes[counter];
    }
    lastTime = ticks;
}

double KNNReporter::Clock() {
    return static_cast<double>(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
}

}  // namespace KNN_800
