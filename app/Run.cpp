#include "Run.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>

#include "Component.h"
#include "Csv.h"
#include "Data.h"
#include "Errors.h"
#include "Importances.h"
#include "Interrupt.h"
#include "Messages.h"
#include "ModelDocument.h"
#include "ModelSummary.h"
#include "Output.h"
#include "Progress.h"
#include "RunFacts.h"
#include "Scoring.h"
#include "Settings.h"
#include "SummaryJson.h"
#include "ThreadsOption.h"
#include "TrainingSource.h"
#include "knn/base/StatusCodes.h"

namespace knncli {

namespace {

namespace Code = KNN_800::Code;
using VelCommon_940::VelStatus;

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

void PrintDropped(std::ostream& out, const std::map<DropReason, long>& dropped,
                  const LoadedData& data, const AnalysisSettings& settings) {
    for (const auto& [reason, count] : dropped) {
        out << "      " << count << "  " << DescribeDropReason(reason, settings);
        const auto examples = data.unknownExamples.find(reason.field);
        if (reason.kind == DropReason::kUnknownCategory && examples != data.unknownExamples.end()) {
            std::string list;
            for (const std::string& text : examples->second) {
                list += (list.empty() ? "" : ", ") + Quoted(text);
            }
            out << " (for example " << list << ")";
        }
        out << '\n';
    }
}

std::string DataContext(const LoadedData& data, const AnalysisSettings& settings) {
    std::ostringstream text;
    text << data.file << " has " << data.Records() << " records, of which " << data.validCases
         << " are valid cases";
    if (!data.dropped.empty()) {
        text << "; dropped:\n";
        PrintDropped(text, data.dropped, data, settings);
    }
    std::string context = text.str();
    while (!context.empty() && context.back() == '\n') {
        context.pop_back();
    }
    return context;
}

void PrintSummary(std::ostream& out, const RunOptions& options, const AnalysisSettings& settings,
                  const LoadedData& data, const ModelFacts& facts,
                  const std::vector<VelStatus>& warnings) {
    out << "Model built from " << options.data << " with the settings " << options.settings << '\n';
    out << "  records read    " << data.Records() << '\n';
    out << "  valid cases     " << data.validCases << '\n';
    out << "  cases dropped   " << data.Records() - data.validCases << '\n';
    PrintDropped(out, data.dropped, data, settings);
    if (data.caseIdFromRecordNumber && settings.caseId >= 0) {
        out << "  identifier      the record number (the data have no column "
            << Quote(settings.FieldName(settings.caseId)) << ")\n";
    }
    if (data.foldSupplied && settings.UsesFolds()) {
        const int folds = settings.CategoryCount(settings.fold);
        out << "  folds           by record number: 1, 2, ..., " << folds
            << ", 1, 2, ... (the data have no column " << Quote(settings.FieldName(settings.fold))
            << ")\n";
    }

    PrintModels(out, settings, facts.models, facts.problem);

    if (!warnings.empty()) {
        out << "Warnings:\n";
        for (const VelStatus& warning : warnings) {
            out << "  - " << DescribeStatus(warning, &settings) << '\n';
        }
    }
    PrintRangeNotes(out, data, settings);
}

// Has the component write its model document into `document` and reads K, the features and
// the selection histories back from it. A document that cannot be written or read leaves the
// reason in `problem`; only an interruption stops the run here.
ModelFacts ExportAndRead(VelCommon_940::IVelAlgorithm& algorithm, OutputFile& document,
                         bool caseTables, bool qualityTables, const AnalysisSettings& settings,
                         ConsoleProgress& progress) {
    ModelFacts facts;
    VelCommon_940::ExportOptions exportOptions;
    exportOptions.utf8 = true;
    exportOptions.caseTables = caseTables;
    exportOptions.qualityTables = qualityTables;
    // The numbers that make the model read back exactly, so that `knn score` builds the very
    // model again from the document.
    exportOptions.exactNumbers = true;
    exportOptions.applicationName = "knn";
    exportOptions.applicationVersion = "1.0";
    facts.exported = algorithm.Export(document.Stream(), &exportOptions);
    if (InterruptRequested() || facts.exported.GetErrorCode() == Code::Interrupted) {
        Interrupted();
    }
    // A failed write is told with its cause, whatever the component made of it.
    facts.writeError = document.Flush();
    if (facts.writeError != 0) {
        facts.problem = "the model document could not be stored in " + document.TemporaryPath() +
                        ": " + std::strerror(facts.writeError);
        return facts;
    }
    if (facts.exported.IsError()) {
        facts.problem = "the component could not write the model document: " +
                        DescribeStatus(facts.exported, &settings);
        return facts;
    }
    progress.Step("reading the model document back");
    try {
        facts.models = ReadModelDocument(document.TemporaryPath(), InterruptRequested);
    } catch (const ModelDocumentError& e) {
        facts.problem = std::string("the model document cannot be read back: ") + e.what();
    }
    return facts;
}

// Commits the outputs in turn, those written directly first: a failed write to one of them is
// known before any file is renamed into place. A commit that fails after another one succeeded
// says which file was written all the same.
void CommitAll(std::vector<OutputFile*> outputs) {
    std::stable_partition(outputs.begin(), outputs.end(),
                          [](const OutputFile* output) { return output->IsDirect(); });
    std::vector<std::string> written;
    for (OutputFile* output : outputs) {
        try {
            output->Commit();
        } catch (const CliError& e) {
            std::string message = e.what();
            if (!written.empty()) {
                message += "; only " + written.front() + " was written";
            }
            throw CliError(e.Code(), message);
        }
        if (!output->IsStandardOutput()) {
            written.push_back(output->Path());
        }
    }
}

}  // namespace

void RunModel(const RunOptions& options, std::ostream& summary, std::ostream& progressStream,
              bool terminal) {
    const AnalysisSettings settings = LoadSettings(options.settings);
    ComponentLibrary library(options.library);

    std::istringstream settingsStream(SettingsWithThreads(settings.text, options.threads));
    // Declared after the library, so that it is deleted while the library's code is loaded.
    std::unique_ptr<VelCommon_940::IVelAlgorithm> algorithm(
        library.Factory().CreateVelAlgorithm(settingsStream));
    const VelStatus created = library.Factory().GetStatus();
    if (algorithm == nullptr) {
        throw CliError(kExitSettings, "the settings " + options.settings +
                                          " cannot be used: " + DescribeStatus(created, &settings));
    }
    if (!options.importances.empty()) {
        algorithm->SetModelValues(ParseImportances(options.importances, settings));
    }
    std::vector<VelStatus> warnings;
    if (created.IsWarning()) {
        warnings.push_back(created);
    }

    // A run is all or nothing: the outputs are written to temporary files, opened first so
    // that an unwritable path is reported before the work, and committed together only when
    // the whole run has succeeded.
    std::unique_ptr<OutputFile> pmml;
    std::unique_ptr<OutputFile> predictions;
    std::unique_ptr<OutputFile> summaryJson;
    if (!options.pmml.empty()) {
        pmml = std::make_unique<OutputFile>(options.pmml);
    }
    if (!options.summaryJson.empty()) {
        summaryJson = std::make_unique<OutputFile>(options.summaryJson);
    }
    if (!options.predictions.empty()) {
        predictions = std::make_unique<OutputFile>(options.predictions);
    }
    // A file to score that lacks a feature's column is found before the build. Standard input
    // can be read only once: its header is checked when the records are read.
    if (!options.score.empty() && options.score != "-") {
        CheckHeader(options.score, settings, DataRole::kScoring);
    }

    ConsoleProgress progress(progressStream, terminal, options.quiet);
    SignalInterruptChecker checker;
    algorithm->SetProgressSink(&progress);
    algorithm->SetInterruptChecker(&checker);

    // The training records go to the component as they are read. An error in the file stops
    // the build, and it is that error that is reported, not the build's; so is a file without
    // records.
    const std::string input = options.data == "-" ? std::string("standard input") : options.data;
    progress.Step("reading " + input);
    TrainingSource source(options.data, settings, progress, InterruptRequested);
    progress.Step("building the model from " + input);
    progress.PlanStages(BuildStagePlan(settings));
    const VelStatus built = algorithm->Build(source);
    progress.Finish();
    const LoadedData data = source.Finish();
    if (data.Records() == 0) {
        throw CliError(kExitData, data.file + ": the file has a header line but no records");
    }
    if (InterruptRequested() || built.GetErrorCode() == Code::Interrupted) {
        Interrupted();
    }
    if (built.IsError()) {
        throw CliError(kExitBuild, "no model could be built: " + DescribeStatus(built, &settings) +
                                       "\n  " + DataContext(data, settings));
    }
    if (const std::vector<VelStatus>* list = algorithm->GetWarnings()) {
        for (const VelStatus& warning : *list) {
            if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) {
                warnings.push_back(warning);
            }
        }
    }

    // K, the features and how they were chosen are known only from the model document, so it
    // is always written: into the temporary file of --pmml, or else into a scratch file in the
    // system's temporary directory, which is never committed (and, like every temporary file,
    // removed on an error or Ctrl-C). The scratch document leaves out the per-case tables,
    // which the summary does not need and which are most of the export's time. A --pmml that is
    // written directly gets a copy of the scratch file at the end. Without --pmml the model facts
    // are best effort: a document that cannot be written or read leaves them out of the summary,
    // and the run goes on.
    std::unique_ptr<OutputFile> scratch;
    OutputFile* document = pmml != nullptr && !pmml->IsDirect() ? pmml.get() : nullptr;
    ModelFacts facts;
    if (document == nullptr) {
        try {
            scratch = std::make_unique<OutputFile>(SystemTemporaryDirectory() + "knn-model.pmml",
                                                   OutputFile::Kind::kScratch);
            document = scratch.get();
        } catch (const CliError& e) {
            if (pmml != nullptr) {
                throw;
            }
            facts.problem = std::string("no temporary file for the model document: ") + e.what();
        }
    }
    if (document != nullptr) {
        progress.Step(pmml != nullptr ? "writing the model document " + options.pmml
                                      : "writing the model document to read K and the features");
        progress.PlanStages(ExportStagePlan());
        const bool caseTables = pmml != nullptr && !options.compact;
        // The error of the training cases (the model-quality tables) costs one more search of
        // every case; only the document and the summary's JSON form show it.
        const bool qualityTables = pmml != nullptr || summaryJson != nullptr;
        facts = ExportAndRead(*algorithm, *document, caseTables, qualityTables, settings, progress);
        progress.Finish();
    }

    PrintSummary(summary, options, settings, data, facts, warnings);
    if (pmml != nullptr && facts.writeError != 0) {
        const std::string through =
            document == pmml.get() ? "" : " (through " + document->TemporaryPath() + ")";
        throw CliError(kExitOutput, "cannot write the model document " + options.pmml + through +
                                        ": " + std::strerror(facts.writeError));
    }
    if (pmml != nullptr && facts.exported.IsError()) {
        throw CliError(kExitModelUse, "cannot write the model document " + options.pmml + ": " +
                                          DescribeStatus(facts.exported, &settings));
    }

    std::optional<ScoringFacts> scoring;
    if (predictions != nullptr) {
        ScoringRequest request{options.score, options.predictions, options.digits, options.heading};
        const RecordScorer scorer = [&algorithm](const VelCommon_940::Record& record,
                                                 std::vector<std::vector<double>>& results) {
            // Each target gets its own K nearest neighbours, also when one search serves them
            // all.
            VelCommon_940::ScoreOptions scoreOptions;
            scoreOptions.perTargetK = true;
            return algorithm->Score(record, &scoreOptions, results);
        };
        scoring.emplace(ScoreFile(scorer, request, settings, &data, facts.models, *predictions,
                                  summary, progress));
    }
    if (summaryJson != nullptr) {
        WriteSummaryJson(summaryJson->Stream(), options, settings, data, facts, warnings,
                         scoring ? &*scoring : nullptr);
    }

    std::vector<OutputFile*> outputs;
    if (pmml != nullptr) {
        if (pmml->IsDirect()) {
            scratch->CopyTo(*pmml);
        }
        outputs.push_back(pmml.get());
    }
    if (predictions != nullptr) {
        outputs.push_back(predictions.get());
    }
    if (summaryJson != nullptr) {
        outputs.push_back(summaryJson.get());
    }
    CommitAll(outputs);
    scratch.reset();
    if (pmml != nullptr) {
        summary << "Model document written to " << options.pmml << '\n';
    }
    if (scoring) {
        summary << scoring->report;
    }
}

}  // namespace knncli
