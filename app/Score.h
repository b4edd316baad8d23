// The "score" command: score new records with a model document written by `knn run --pmml`,
// without the training data. The document's training cases are handed to the component as
// training records, with each model's K, features and weights fixed as the document gives
// them, so that the predictions are those `knn run --score` gives with the same model.
#pragma once

#include <ostream>
#include <string>

namespace knncli {

struct ModelScoringOptions {
    std::string model;        // the model document
    std::string data;         // the records to score
    std::string predictions;  // "-" for standard output
    std::string library;      // empty: the default locations
    bool quiet = false;       // no progress
};

// Runs the whole command: `summary` receives the report, `progress` the progress lines and
// `terminal` tells whether it is a terminal. Throws CliError or CsvError.
void ScoreWithModel(const ModelScoringOptions& options, std::ostream& summary,
                    std::ostream& progress, bool terminal);

}  // namespace knncli
