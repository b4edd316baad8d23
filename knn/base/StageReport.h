// Bracketing of a reported stage: the reporter is reset and stamped when the stage starts, and
// at its end records the stage's name with the clock and is handed to the host's sink. Nothing
// happens without a sink.
#pragma once

#include "knn/base/KNNReporter.h"
#include "knn/base/RunContext.h"

namespace KNN_800 {

inline void StartStage(const RunContext& context) {
    if (KNNReporter* reporter = context.Reporter()) {
        reporter->Reset();
        reporter->SetStartTime(KNNReporter::Clock());
    }
}

inline void EndStage(const RunContext& context, const char* stage) {
    if (KNNReporter* reporter = context.Reporter()) {
        reporter->SetValues(stage, 1, KNNReporter::Clock());
        context.sink->Notify(reporter);
    }
}

}  // namespace KNN_800
