#include "SummaryJson.h"

#include "Json.h"
#include "Messages.h"
#include "ModelSummary.h"

namespace knncli {

using VelCommon_940::VelStatus;

void WriteSummaryJson(std::ostream& out, const RunOptions& options,
                      const AnalysisSettings& settings, const LoadedData& data,
                      const ModelFacts& facts, const std::vector<VelStatus>& warnings,
                      const ScoringFacts* scoring) {
    JsonWriter json(out);
    const auto rangeNotes = [&](const std::map<int, long>& outOfRange) {
        json.Key("outOfRange");
        json.BeginArray();
        for (const auto& [field, count] : outOfRange) {
            json.BeginObject();
            json.Member("field", settings.FieldName(field));
            json.Member("values", count);
            json.EndObject();
        }
        json.EndArray();
    };
    const auto fieldOrNull = [&](int field) {
        if (field >= 0) {
            json.String(settings.FieldName(field));
        } else {
            json.Null();
        }
    };

    json.BeginObject();
    json.Member("settings", options.settings);
    json.Member("data", options.data);
    json.Member("recordsRead", data.Records());
    json.Member("validCases", data.validCases);
    json.Member("casesDropped", data.Records() - data.validCases);
    json.Key("dropped");
    json.BeginArray();
    for (const auto& [reason, count] : data.dropped) {
        json.BeginObject();
        json.Member("reason", DescribeDropReason(reason, settings));
        json.Member("kind", reason.kind == DropReason::kUnknownCategory ? "unknownCategory"
                                                                        : "missingValue");
        json.Member("field", settings.FieldName(reason.field));
        json.Member("count", count);
        json.Key("examples");
        json.BeginArray();
        const auto examples = data.unknownExamples.find(reason.field);
        if (reason.kind == DropReason::kUnknownCategory && examples != data.unknownExamples.end()) {
            for (const std::string& text : examples->second) {
                json.String(text);
            }
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();

    json.Key("identifier");
    json.BeginObject();
    json.Key("field");
    fieldOrNull(settings.caseId);
    json.Member("source", settings.caseId < 0           ? "none"
                          : data.caseIdFromRecordNumber ? "recordNumber"
                                                        : "column");
    json.Member("texts", data.textIds);
    json.EndObject();

    json.Key("folds");
    json.BeginObject();
    const bool folds = settings.UsesFolds();
    json.Key("field");
    fieldOrNull(folds ? settings.fold : -1);
    json.Member("source", !folds ? "none" : data.foldSupplied ? "recordNumber" : "column");
    json.Key("count");
    if (folds) {
        json.Integer(settings.CategoryCount(settings.fold));
    } else {
        json.Null();
    }
    json.EndObject();
    rangeNotes(data.outOfRange);

    json.Key("modelProblem");
    if (facts.problem.empty()) {
        json.Null();
    } else {
        json.String(facts.problem);
    }
    json.Key("targets");
    WriteModelsJson(json, settings, facts.models, facts.problem);

    json.Key("warnings");
    json.BeginArray();
    for (const VelStatus& warning : warnings) {
        json.BeginObject();
        json.Member("code", static_cast<long long>(warning.GetErrorCode()));
        json.Member("message", DescribeStatus(warning, &settings));
        json.EndObject();
    }
    json.EndArray();

    json.Key("scoring");
    if (scoring == nullptr) {
        json.Null();
    } else {
        json.BeginObject();
        json.Member("file", scoring->file);
        json.Member("records", scoring->records);
        json.Member("scored", scoring->records - scoring->failed);
        json.Member("notScored", scoring->failed);
        json.Key("notScoredReasons");
        json.BeginArray();
        for (const auto& [reason, count] : scoring->failures) {
            json.BeginObject();
            json.Member("reason", reason);
            json.Member("count", count);
            json.EndObject();
        }
        json.EndArray();
        json.Key("evaluation");
        scoring->evaluation->WriteJson(json, facts.models);
        rangeNotes(scoring->outOfRange);
        json.EndObject();
    }
    json.EndObject();
    json.Finish();
}

}  // namespace knncli
