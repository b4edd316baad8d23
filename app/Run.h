// The "run" command: build a model from training data, report on it, and optionally write
// the model document and score new records.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace knncli {

struct RunOptions {
    std::string settings;
    std::string data;
    std::string pmml;         // empty: no model document
    bool compact = false;     // the model document without its per-case tables
    std::string importances;  // "field=value,...": importances handed to the component
    std::string score;        // empty: nothing to score
    std::string predictions;  // "-" for standard output
    std::string summaryJson;  // empty: no summary as JSON; "-" for standard output
    std::string library;      // empty: the default locations
    bool quiet = false;       // no progress
    int digits = 0;           // significant digits of predictions; 0: exact
    std::string heading;      // shown in the summary just before the predictions

    // --threads; not given: one per processor (ThreadsOption.h)
    std::optional<int> threads;
};

// Runs the whole command. `summary` receives the report on the model (and the predictions
// when they go to standard output, after the report); `progress` the progress lines and
// `terminal` tells whether it is a terminal. Throws CliError or CsvError.
void RunModel(const RunOptions& options, std::ostream& summary, std::ostream& progress,
              bool terminal);

}  // namespace knncli
