#include "Score.h"

#include <memory>
#include <sstream>

#include "Component.h"
#include "DocumentCases.h"
#include "Errors.h"
#include "Interrupt.h"
#include "Messages.h"
#include "ModelSummary.h"
#include "Output.h"
#include "Predictions.h"
#include "Progress.h"
#include "SavedModel.h"
#include "Scoring.h"
#include "Settings.h"
#include "knn/base/StatusCodes.h"

namespace knncli {

namespace {

using VelCommon_940::IVelAlgorithm;
using VelCommon_940::VelStatus;

std::string ModelName(const DocumentModel& model) {
    return model.response.empty() ? std::string("of neighbours") : "\"" + model.response + "\"";
}

// The model of each result, in the order of the component's results: the document writes
// one model per target, named by its response (one without a target for neighbours only).
std::vector<size_t> ModelOfResult(const SavedModel& saved, const AnalysisSettings& settings) {
    std::vector<size_t> models;
    if (settings.targets.empty()) {
        if (saved.models.size() != 1 || !saved.models.front().response.empty()) {
            throw CliError(kExitSettings, "the model document " + saved.path +
                                              " names no target, but its models have responses");
        }
        return {0};
    }
    for (const int target : ResultOrder(settings)) {
        const std::string name = settings.FieldName(target);
        size_t m = 0;
        while (m < saved.models.size() && saved.models[m].response != name) {
            ++m;
        }
        if (m == saved.models.size()) {
            throw CliError(kExitSettings, "the model document " + saved.path +
                                              " holds no model for its target \"" + name + "\"");
        }
        models.push_back(m);
    }
    return models;
}

}  // namespace

void ScoreWithModel(const ModelScoringOptions& options, std::ostream& summary,
                    std::ostream& progressStream, bool terminal) {
    ConsoleProgress progress(progressStream, terminal, options.quiet);
    progress.Step("reading the model document " + options.model);
    SavedModel saved;
    try {
        saved = ReadSavedModel(options.model, InterruptRequested);
    } catch (const ModelDocumentError& e) {
        throw CliError(kExitSettings,
                       "cannot score with the model document " + options.model + ": " + e.what());
    }
    const AnalysisSettings settings = ParseSettings(saved.settingsText, options.model);
    const std::vector<size_t> modelOfResult = ModelOfResult(saved, settings);
    ComponentLibrary library(options.library);

    // The predictions are written to a temporary file, opened first so that an unwritable path
    // is reported before the work, and committed only when every record has been scored.
    OutputFile predictions(options.predictions);
    if (options.data != "-") {
        CheckHeader(options.data, settings, DataRole::kScoring);
    }

    SignalInterruptChecker checker;
    // Declared after the library, so that they are deleted while the library's code is loaded.
    std::vector<std::unique_ptr<IVelAlgorithm>> algorithms;
    for (const DocumentModel& model : saved.models) {
        std::istringstream text(saved.modelSettings[algorithms.size()]);
        std::unique_ptr<IVelAlgorithm> algorithm(library.Factory().CreateVelAlgorithm(text));
        if (algorithm == nullptr) {
            throw CliError(
                kExitSettings,
                "the model " + ModelName(model) + " of " + options.model +
                    " cannot be used: " + DescribeStatus(library.Factory().GetStatus(), &settings));
        }
        algorithm->SetProgressSink(&progress);
        algorithm->SetInterruptChecker(&checker);
        progress.Step("building the model " + ModelName(model) + " from the training cases of " +
                      options.model);
        progress.PlanStages(BuildStagePlan(settings));
        DocumentCases cases(options.model, settings, progress, InterruptRequested);
        const VelStatus built = algorithm->Build(cases);
        progress.Finish();
        try {
            cases.Finish();
        } catch (const ModelDocumentError& e) {
            throw CliError(kExitSettings, "cannot read the training cases of the model document " +
                                              options.model + ": " + e.what());
        }
        if (InterruptRequested() || built.GetErrorCode() == KNN_800::Code::Interrupted) {
            Interrupted();
        }
        if (built.IsError()) {
            throw CliError(kExitBuild, "the model " + ModelName(model) + " of " + options.model +
                                           " cannot be built again from its training cases: " +
                                           DescribeStatus(built, &settings));
        }
        algorithms.push_back(std::move(algorithm));
    }

    summary << "Model read from " << options.model << '\n';
    summary << "  training cases  " << saved.setup.originalRows << '\n';
    PrintModels(summary, settings, saved.models, "");

    // Each model answers for its own target, with its own K nearest neighbours.
    std::vector<std::vector<double>> own;
    const RecordScorer scorer = [&](const VelCommon_940::Record& record,
                                    std::vector<std::vector<double>>& results) {
        results.clear();
        for (const size_t m : modelOfResult) {
            VelCommon_940::ScoreOptions scoreOptions;
            scoreOptions.perTargetK = true;
            const VelStatus status = algorithms[m]->Score(record, &scoreOptions, own);
            if (status.IsError()) {
                return status;
            }
            if (own.size() != 1) {
                throw CliError(kExitModelUse, "the component returned " +
                                                  std::to_string(own.size()) +
                                                  " results for a model of one target");
            }
            results.push_back(std::move(own.front()));
        }
        return VelStatus();
    };
    const ScoringRequest request{options.data, options.predictions, 0, ""};
    const ScoringFacts scoring =
        ScoreFile(scorer, request, settings, nullptr, saved.models, predictions, summary, progress);
    predictions.Commit();
    summary << scoring.report;
}

}  // namespace knncli
