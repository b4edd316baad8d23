// What the stages of a build or an export share with the host: the stop signal, and the host's
// progress sink with the reporter that is handed to it. Owned by the algorithm; every stage
// gets it by reference.
#pragma once

#include <memory>

#include "HostInterfaces.h"
#include "knn/base/InterruptionProbe.h"
#include "knn/base/KNNReporter.h"

namespace KNN_800 {

struct RunContext {
    InterruptionProbe probe;
    VelCommon_940::ProgressSink* sink = nullptr;  // not owned
    std::unique_ptr<KNNReporter> reporter;        // exists while a sink is attached

    // Replaces the sink; a new reporter comes with a non-null sink. When the reporter cannot
    // be made (std::bad_alloc), sink and reporter stay as they were.
    void SetProgressSink(VelCommon_940::ProgressSink* newSink) {
        std::unique_ptr<KNNReporter> made =
            newSink != nullptr ? std::make_unique<KNNReporter>() : nullptr;
        reporter = std::move(made);
        sink = newSink;
    }
    // The reporter to fill, or null when nobody listens.
    KNNReporter* Reporter() const { return sink != nullptr ? reporter.get() : nullptr; }
};

}  // namespace KNN_800
