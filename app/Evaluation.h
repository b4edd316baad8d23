// How well the model predicts records to score whose target value is known (a test file):
// per target, the misclassified records with the counts of observed against predicted
// categories, or the sum and mean of squared errors.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ModelDocument.h"
#include "Predictions.h"
#include "Settings.h"

namespace knncli {

class JsonWriter;

class Evaluation {
public:
    // `targets`: the targets in the order of the component's results, with a flag per target
    // telling whether the file has its column (a target without one is not evaluated).
    Evaluation(const AnalysisSettings& settings, const std::vector<int>& targets,
               const std::vector<bool>& known);

    // One scored record: `row` holds the record's values as read (the observed targets among
    // them), `results` the decoded result of each target.
    void Add(const double* row, const std::vector<TargetResult>& results);

    // True when no record had a known target value.
    bool Empty() const;

    // The evaluation of each target with a known value, beside the cross-validated error the
    // model document gives for the chosen K (automatic K selection).
    void Print(std::ostream& out, const std::string& file,
               const std::vector<DocumentModel>& models) const;

    // The same as an array with one object per evaluated target (docs/cli.md, "Summary as
    // JSON").
    void WriteJson(JsonWriter& json, const std::vector<DocumentModel>& models) const;

private:
    struct Target {
        int field = -1;
        bool categorical = false;
        long records = 0;
        long wrong = 0;                         // categorical
        std::vector<std::vector<long>> counts;  // categorical: [observed][predicted]
        double squares = 0.0;                   // continuous: sum of squared errors
    };

    const AnalysisSettings& settings_;
    std::vector<Target> targets_;  // one per result; field -1 when not evaluated
};

}  // namespace knncli
