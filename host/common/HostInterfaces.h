// The objects a host hands to an algorithm: where the training records come from, where
// progress goes, and who may ask a running build to stop.
#pragma once

#include <string>

#include "ProgressReport.h"
#include "Record.h"
#include "VelExport.h"

namespace VelCommon_940 {

class VEL_API RecordSource {
public:
    virtual ~RecordSource();
    // Makes the source ready to deliver its records from the first one; false when it cannot.
    virtual bool Reset() = 0;
    // The next record, or null when the data are exhausted. Valid until the next call.
    virtual const Record* Next() = 0;
};

class VEL_API ProgressSink {
public:
    virtual ~ProgressSink();
    virtual void Notify(ProgressReport* report) = 0;
};

class VEL_API InterruptChecker {
public:
    virtual ~InterruptChecker();
    // True when the host wants the running work to stop.
    virtual bool IsInterrupted() = 0;
};

// Options of a score call, handed over through the call's `options` argument; a null pointer
// keeps the defaults. `size` tells the algorithm that the pointer is really one of these, so
// that a host passing something else gets an error instead of a misreading.
struct ScoreOptions {
    unsigned size = sizeof(ScoreOptions);
    // When one search serves several targets it is made for the largest K, and by default every
    // target's result covers those neighbours. With this flag each target's result holds only
    // its own K nearest neighbours, its predictions for k = 1 ... its K, and (for a categorical
    // target) the probabilities of the vote of its K neighbours.
    bool perTargetK = false;
};

// Options of an export call; the algorithm accepts a null pointer for "all defaults".
struct ExportOptions {
    bool utf8 = false;
    std::string applicationName;
    std::string applicationVersion;
    std::string copyright;
    // False leaves the per-case tables out of the model document: the training cases
    // ("originalData"), every case's neighbours and distances, and the prediction
    // probabilities. Everything else, the model-quality tables included, is as in the full
    // document: the training cases are still scored for them, but no row is written.
    bool caseTables = true;
    // True writes the numbers that make the model (the declared ranges, the values of the
    // training cases, the importances and weights) so that each reads back as exactly the
    // double the component holds: the shortest such text instead of 15 significant digits,
    // and for a rescaled value one that its range rescales to exactly the prepared value. A
    // model built again from such a document is the same model, to the bit.
    bool exactNumbers = false;
    // False, together with caseTables false, leaves out the model-quality tables as well, and
    // with them the scoring pass of the training cases: the document then tells K, the
    // features, their weights and how they were chosen, at no cost beyond writing that. With
    // caseTables true it changes nothing, since the case tables come from the same pass.
    bool qualityTables = true;
};

}  // namespace VelCommon_940
