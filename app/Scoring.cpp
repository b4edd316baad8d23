#include "Scoring.h"

#include <map>
#include <sstream>

#include "Errors.h"
#include "Evaluation.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Predictions.h"
#include "VelMV.h"
#include "knn/base/StatusCodes.h"

namespace knncli {

namespace Code = KNN_800::Code;
using VelCommon_940::VelMV;
using VelCommon_940::VelStatus;

void Interrupted() {
    throw CliError(kExitInterrupted, "interrupted; no output file was written");
}

// Notes on the values of a file that lie outside their field's declared range.
void PrintRangeNotes(std::ostream& out, const LoadedData& data, const AnalysisSettings& settings) {
    if (data.outOfRange.empty()) {
        return;
    }
    out << "Notes on " << data.file << ":\n";
    for (const auto& [field, count] : data.outOfRange) {
        out << "  - " << count << (count == 1 ? " value" : " values") << " of the field "
            << "\"" << settings.FieldName(field) << "\"" << (count == 1 ? " lies" : " lie")
            << " outside its declared range; rescaling puts " << (count == 1 ? "it" : "them")
            << " beyond -1 ... 1\n";
    }
}

namespace {

// A copy of a record in which the targets are missing: the component is asked for them, and
// a known target value must not count as an observed outcome of a prediction.
VelCommon_940::Record WithoutTargets(const AnalysisSettings& settings, const double* row,
                                     int width) {
    VelCommon_940::Record record(std::vector<double>(row, row + width));
    for (const int target : settings.targets) {
        record.Values()[static_cast<size_t>(target)] =
            settings.IsCategorical(target) ? -1.0 : VelMV::Missing();
    }
    return record;
}

}  // namespace

ScoringFacts ScoreFile(const RecordScorer& scorer, const ScoringRequest& request,
                       const AnalysisSettings& settings, const LoadedData* training,
                       const std::vector<DocumentModel>& models, OutputFile& file,
                       std::ostream& summary, ConsoleProgress& progress) {
    progress.Step("reading " + request.file);
    const LoadedData data =
        LoadData(request.file, settings, DataRole::kScoring, InterruptRequested, training);
    progress.Step("scoring " + std::to_string(data.Records()) + " records");
    const std::vector<int> order = ResultOrder(settings);
    if (!request.heading.empty()) {
        progress.Finish();
        summary << request.heading << '\n' << std::flush;
    }
    PredictionWriter writer(
        file.Stream(), settings,
        settings.caseId >= 0 ? settings.FieldName(settings.caseId) : "record", request.digits,
        training != nullptr && training->textIds ? &training->idTexts : nullptr);
    std::vector<bool> knownTargets;
    for (const int target : order) {
        knownTargets.push_back(data.HasColumn(target));
    }
    Evaluation evaluation(settings, order, knownTargets);

    std::map<std::string, long> failures;
    for (long i = 0; i < data.Records(); ++i) {
        if (InterruptRequested()) {
            Interrupted();
        }
        progress.Advance("scoring", i, data.Records());
        const double* row = data.Record(i);
        ScoredRecord scored;
        if (data.caseIdFromRecordNumber || settings.caseId < 0) {
            scored.id = std::to_string(i + 1);
        } else if (data.textIds) {
            scored.id = static_cast<size_t>(i) < data.idTexts.size() ? data.idTexts[i] : "";
        } else if (!VelMV::IsMissing(row[settings.caseId])) {
            scored.id = FormatIdentifier(row[settings.caseId]);
        }
        std::vector<std::vector<double>> results;
        const VelStatus status = scorer(WithoutTargets(settings, row, data.width), results);
        if (status.IsError()) {
            const long field = status.GetDiscreteDatum(0);
            std::string reason;
            if (status.GetErrorCode() == Code::BadScoreRecord && field >= 0) {
                const bool unknown = data.unknownCells.count({i, static_cast<int>(field)}) > 0;
                reason = DescribeDropReason(
                    {unknown ? DropReason::kUnknownCategory : DropReason::kMissingValue,
                     static_cast<int>(field)},
                    settings);
            } else {
                reason = DescribeStatus(status, &settings);
            }
            ++failures[reason];
        } else {
            for (size_t r = 0; r < results.size(); ++r) {
                const int categories = r < order.size() ? settings.CategoryCount(order[r]) : -1;
                TargetResult decoded;
                if (!DecodeResult(results[r], categories, decoded)) {
                    throw CliError(kExitModelUse, "the component returned a scoring result of " +
                                                      std::to_string(results[r].size()) +
                                                      " values, which fits no known layout");
                }
                scored.results.push_back(std::move(decoded));
            }
            evaluation.Add(row, scored.results);
        }
        writer.Add(std::move(scored));
    }
    writer.Finish();
    if (InterruptRequested()) {
        Interrupted();
    }
    progress.Finish();

    long failed = 0;
    for (const auto& entry : failures) {
        failed += entry.second;
    }
    ScoringFacts facts;
    facts.file = request.file;
    facts.records = data.Records();
    facts.failed = failed;
    facts.failures = failures;
    facts.outOfRange = data.outOfRange;
    std::ostringstream report;
    report << "Scored " << data.Records() - failed << " of " << data.Records() << " records of "
           << request.file << "; predictions "
           << (file.IsStandardOutput() ? "written above" : "written to " + request.predictions)
           << '\n';
    if (failed > 0) {
        report << "  " << failed << (failed == 1 ? " record" : " records")
               << " could not be scored (their prediction cells are empty):\n";
        for (const auto& [reason, count] : failures) {
            report << "      " << count << "  " << reason << '\n';
        }
    }
    evaluation.Print(report, request.file, models);
    PrintRangeNotes(report, data, settings);
    facts.report = report.str();
    facts.evaluation.emplace(std::move(evaluation));
    return facts;
}

}  // namespace knncli
