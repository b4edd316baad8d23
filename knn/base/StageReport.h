// Bracketing of a reported stage: the reporter is reset and stamped when the stage starts, and
// at its end records the stage's name with the clock and is handed to the host's sink. Nothing
// happens without a reporter (no sink attached).
#pragma once

#include "knn/base/KNNReporter.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

inline void StartStage(KNNReporter* reporter) {
    if (reporter != nullptr) {
        reporter->Reset();
        reporter->SetStartTime(KNNReporter::Clock());
    }
}

inline void EndStage(const KNNSettings* settings, const char* stage) {
    KNNReporter* reporter = settings->Reporter();
    if (reporter != nullptr && settings->Sink != nullptr) {
        reporter->SetValues(stage, 1, KNNReporter::Clock());
        settings->Sink->Notify(reporter);
    }
}

}  // namespace KNN_800
