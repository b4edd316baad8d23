// Scoring a file of new records: each record is read, handed to a model without its targets,
// and its predictions written as CSV; the facts of the scoring (records scored, failures,
// error on known targets) are gathered for the summary. Shared by `knn run --score` and
// `knn score`.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Data.h"
#include "ModelDocument.h"
#include "Output.h"
#include "Progress.h"
#include "Record.h"
#include "RunFacts.h"
#include "Settings.h"
#include "VelStatus.h"

namespace knncli {

// What to score, and how the predictions are written.
struct ScoringRequest {
    std::string file;         // the records to score ("-": standard input)
    std::string predictions;  // where the predictions go ("-": standard output), for the report
    int digits = 0;           // significant digits of distances and probabilities; 0: exact
    std::string heading;      // shown in the summary just before the predictions
};

// Scores one record: the model's result per target, in the order of ResultOrder, or an error.
using RecordScorer = std::function<VelCommon_940::VelStatus(
    const VelCommon_940::Record& record, std::vector<std::vector<double>>& results)>;

// Scores every record of `request.file` into `file`. `training` (may be null) tells how the
// training data wrote their identifiers; `models` what the model document said of the models.
// Throws CsvError for a file that does not fit the settings, CliError on an interruption.
ScoringFacts ScoreFile(const RecordScorer& scorer, const ScoringRequest& request,
                       const AnalysisSettings& settings, const LoadedData* training,
                       const std::vector<DocumentModel>& models, OutputFile& file,
                       std::ostream& summary, ConsoleProgress& progress);

// Notes on the values of a file that lie outside their field's declared range.
void PrintRangeNotes(std::ostream& out, const LoadedData& data, const AnalysisSettings& settings);

// Throws CliError(kExitInterrupted): the run was asked to stop, and no output file is left.
[[noreturn]] void Interrupted();

}  // namespace knncli
