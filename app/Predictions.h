// Scoring results: decoding the component's per-target result vectors and writing them as CSV.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "IdentifierTexts.h"
#include "Settings.h"

namespace knncli {

// The targets in the order of the component's results: categorical targets first, then
// continuous ones, each group in the order of the settings document.
std::vector<int> ResultOrder(const AnalysisSettings& settings);

// One per-target result vector taken apart. Its layout, with n neighbours: n identifiers,
// n distances, the predictions, n case labels. The predictions are, for a categorical target
// with m categories, m probabilities and then the predicted category for k = 1 ... n; for a
// continuous target the predicted value for k = 1 ... n; nothing without a target.
struct TargetResult {
    std::vector<double> ids;
    std::vector<double> distances;
    std::vector<double> probabilities;
    std::vector<double> predictions;  // the last one is for the model's full K
    std::vector<double> labels;
};

// `categories`: m for a categorical target, 0 for a continuous one, -1 without a target.
// False when the vector's size fits no such layout.
bool DecodeResult(const std::vector<double>& values, int categories, TargetResult& result);

struct ScoredRecord {
    std::string id;                     // as it is written in the output
    std::vector<TargetResult> results;  // empty when the record could not be scored
};

// Writes predictions as CSV, one line per record: the identifier; per target the prediction
// for its K (the category text for a categorical target, then the probability of each
// category); then the neighbours' identifiers and distances (and case labels when the settings
// name a label field). With several targets the prediction and neighbour columns carry the
// target's name. Identifiers are written in full; other numbers exactly, or distances and
// probabilities with `digits` > 0 significant digits. With text identifiers,
// `neighbourTexts` holds the text of each training record (record number n at n - 1).
class PredictionWriter {
public:
    PredictionWriter(std::ostream& out, const AnalysisSettings& settings, std::string idColumn,
                     int digits = 0, const IdentifierTexts* neighbourTexts = nullptr);

    // Records that come before the first scored one wait for it: it tells how many neighbour
    // columns the header needs.
    void Add(ScoredRecord record);
    // Writes whatever still waits (with the header, if it has not been written yet).
    void Finish();

private:
    void WriteHeader();
    void WriteRecord(const ScoredRecord& record);
    std::string Number(double value, int digits) const;
    std::string Identifier(double value) const;

    std::ostream& out_;
    const AnalysisSettings& settings_;
    std::string idColumn_;
    int digits_;
    const IdentifierTexts* neighbourTexts_;
    std::vector<int> order_;
    size_t resultCount_;
    std::vector<size_t> neighbours_;  // per result; known once the header is written
    bool headerWritten_ = false;
    std::vector<ScoredRecord> waiting_;
};

}  // namespace knncli
