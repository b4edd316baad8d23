#include "knn/settings/SettingsReader.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <istream>
#include <memory>

#include "VelLimits.h"
#include "VelSettingsParser.h"
#include "knn/base/KNNWarning.h"
#include "knn/base/StatusCodes.h"
#include "knn/settings/FieldUse.h"
#include "knn/settings/SettingsKeys.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;
using VelXML_940::VelSettingsParser;

namespace {

bool Contains(const std::vector<int>& list, int value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

void Remove(std::vector<int>& list, int value) {
    list.erase(std::remove(list.begin(), list.end(), value), list.end());
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// The shortest text that reads back as `value`.
std::string FormatNumber(double value) {
    char buffer[32];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

}  // namespace

SettingsReader::SettingsReader()
    : settings(std::make_unique<KNNSettings>()),
      dictionary(std::make_unique<VelXML_940::VelVarList>()) {}

SettingsReader::~SettingsReader() = default;

VelStatus SettingsReader::Read(std::istream& document) {
    status = VelStatus();
    featureCountReduced = false;
    dictionary = std::make_unique<VelXML_940::VelVarList>();
    settings = std::make_unique<KNNSettings>();

    if (!document.good()) {
        Fail(Code::BadSettingsStream, "the settings stream cannot be read");
        return status;
    }
    auto owned = std::make_unique<VelSettingsParser>();
    parser = owned.get();
    status = parser->ParseToDOM(document);
    if (Ok()) {
        status = parser->FillVarList(*dictionary, false);
    }
    if (Ok()) {
        parser->FillTransDict(*dictionary);
        ReadCaseIdentifier();
    }
    if (Ok())
        ReadCaseLabel();
    if (Ok())
        ReadFocalField();
    if (Ok())
        ReadTargets();
    if (Ok())
        ReadPredictors();
    if (Ok())
        ReadGeneralOptions();
    if (Ok()) {
        if (!settings->Features.empty()) {
            ReadPredictionFunction();
            if (Ok())
                ReadFeatureOptions();
            if (Ok())
                ReadKOptions();
            if (Ok())
                ReadSpecifiedFeatures();
        } else {
            ReadKOptions();
        }
    }
    if (Ok())
        CheckDeclaredRanges();
    if (Ok())
        CheckFoldCount();
    if (Ok())
        CheckCategoryCounts();
    if (Ok()) {
        settings->TotalVarNum = dictionary->Size();
        settings->UsedVariables = UsedFields({.caseId = settings->CaseIDVariable,
                                              .caseLabel = settings->CaseLabelVariable,
                                              .focal = settings->FocalCaseVariable,
                                              .fold = settings->VFoldVariable,
                                              .targets = settings->Responses,
                                              .features = settings->Features,
                                              .forced = settings->ForcedVariables,
                                              .specified = settings->SpecifiedFeature,
                                              .autoK = settings->IsAutoKSelection,
                                              .featureSelection = settings->IsFeaSelection});
    }
    if (Ok())
        CheckSelectionNeedsTarget();
    parser = nullptr;

    if (Ok()) {
        status = featureCountReduced ? Warning(Code::FeatureCountReduced) : VelStatus();
    }
    return status;
}

void SettingsReader::ReadCaseIdentifier() {
    std::string name;
    if (parser->GetParameter(Key::CaseIDVar, name, nullptr).IsError()) {
        FailFromParser(Code::BadCaseID, "the case identifier field (CaseIDVar) cannot be read");
        return;
    }
    if (name.empty()) {
        Fail(Code::EmptyCaseID, "no case identifier field (CaseIDVar) is given");
        return;
    }
    const int field = dictionary->FindVariable(name);
    if (field < 0) {
        Fail(Code::UnknownCaseID,
             "the case identifier field " + Quoted(name) + " is not in the dictionary");
        return;
    }
    if (!IsContinuous(field)) {
        Fail(Code::CaseIDNotContinuous,
             "the case identifier field " + Quoted(name) + " is not continuous");
        return;
    }
    settings->CaseIDVariable = field;
}

void SettingsReader::ReadCaseLabel() {
    bool useLabels = false;
    if (parser->GetParameter(Key::UseCaseLabels, useLabels, nullptr).IsError()) {
        useLabels = false;
    }
    if (!useLabels) {
        return;
    }
    const int field = ReadFieldKey(Key::CaseLabelVar, Code::BadCaseLabel, Code::UnknownCaseLabel);
    if (field < 0) {
        return;
    }
    if (!IsCategorical(field)) {
        Fail(Code::CaseLabelNotCategorical,
             "the case label field " + Quoted(FieldName(field)) + " is not categorical");
        return;
    }
    settings->CaseLabelVariable = field;
}

void SettingsReader::ReadFocalField() {
    const int field = ReadFieldKey(Key::FocalVar, Code::BadFocalVar, Code::UnknownFocalVar);
    if (field >= 0) {
        settings->SetFocalCaseVariable(field);
    }
    // Kept only for the model document; the value is not checked.
    parser->GetParameter(Key::FocalCaseValue, settings->FocalCaseValueText, nullptr);
}

void SettingsReader::ReadTargets() {
    std::vector<std::string> names;
    if (parser->GetTargetVars(names).IsError()) {
        FailFromParser(Code::BadTargetList, "the target list cannot be read");
        return;
    }
    SortFields(names, "target", Code::UnknownTarget, settings->CatResponses,
               settings->ContResponses);
    if (!Ok()) {
        return;
    }
    settings->Responses = settings->CatResponses;
    settings->Responses.insert(settings->Responses.end(), settings->ContResponses.begin(),
                               settings->ContResponses.end());
}

void SettingsReader::ReadPredictors() {
    std::vector<std::string> names;
    if (parser->GetPredictors(names).IsError()) {
        FailFromParser(Code::BadPredictorList, "the predictor list cannot be read");
        return;
    }
    std::vector<int> categorical;
    std::vector<int> continuous;
    SortFields(names, "predictor", Code::UnknownPredictor, categorical, continuous);
    if (!Ok()) {
        return;
    }
    std::vector<bool> isTarget(static_cast<size_t>(dictionary->Size()), false);
    for (int field : settings->Responses) {
        isTarget[static_cast<size_t>(field)] = true;
    }
    for (const std::vector<int>* list : {&categorical, &continuous}) {
        for (int field : *list) {
            if (isTarget[static_cast<size_t>(field)]) {
                Fail(Code::PredictorIsTarget,
                     "the field " + Quoted(FieldName(field)) + " is both a predictor and a target");
                return;
            }
        }
    }
    settings->CatPredictors = categorical;
    settings->ContPredictors = continuous;
    if (categorical.empty() && continuous.empty()) {
        Fail(Code::NoPredictor, "no predictor is given");
        return;
    }
    std::vector<int>& features = settings->Features;
    features = categorical;
    features.insert(features.end(), continuous.begin(), continuous.end());
    std::sort(features.begin(), features.end());
    // The identifier, label and focal fields describe cases; they never measure distance.
    for (int role :
         {settings->CaseIDVariable, settings->CaseLabelVariable, settings->FocalCaseVariable}) {
        if (role >= 0) {
            Remove(settings->CatPredictors, role);
            Remove(settings->ContPredictors, role);
            Remove(features, role);
        }
    }
    if (features.empty()) {
        Fail(Code::NoFeatureLeft,
             "no predictor remains once the case identifier, case label and focal fields are "
             "taken out");
        return;
    }
    settings->FeatureNum = static_cast<int>(features.size());
}

void SettingsReader::ReadGeneralOptions() {
    bool rescale = true;
    if (parser->GetParameter(Key::RescaleMethod, rescale, nullptr).IsError()) {
        FailFromParser(Code::BadRescale, "RescaleMethod cannot be read");
        return;
    }
    settings->RescaleMethod = rescale ? 0 : 1;

    std::string metric = KeyValue::Euclidean;
    const bool metricError = parser->GetParameter(Key::DistMetric, metric, nullptr).IsError();
    if (!metricError && metric == KeyValue::Euclidean) {
        settings->DistMetric = 0;
    } else if (!metricError && metric == KeyValue::CityBlock) {
        settings->DistMetric = 1;
    } else {
        Fail(Code::BadDistMetric,
             metricError
                 ? "DistMetric cannot be read" + std::string(": ") + parser->GetLastMessage()
                 : "DistMetric is " + Quoted(metric) + "; it must be 'Euclidean' or 'CityBlock'");
        return;
    }

    int threads = 1;
    const bool threadsError = parser->GetParameter(Key::Threads, threads, nullptr).IsError();
    if (threadsError || threads < 0) {
        Fail(Code::BadThreads,
             threadsError ? "Threads cannot be read: " + parser->GetLastMessage()
                          : "Threads is " + std::to_string(threads) +
                                "; it must be 0 (one per processor) or a number of threads");
        return;
    }
    settings->Threads = threads;

    std::string tempDir = ".\\temp";
    if (parser->GetParameter(Key::TempFileDir, tempDir, nullptr).IsError()) {
        FailFromParser(Code::BadTempDir, "TempFileDir cannot be read");
        return;
    }
    settings->FileTempDir = tempDir;
    // The model document takes fieldFormat verbatim, so it must be well-formed by itself.
    std::string fieldFormat;
    if (!parser->GetParameter(Key::FieldFormat, fieldFormat, nullptr).IsError()) {
        std::string reason;
        if (!VelXML_940::CheckXMLContent(fieldFormat, reason)) {
            Fail(Code::BadFieldFormat, "fieldFormat is not well-formed XML content: " + reason);
            return;
        }
        settings->fieldFormat = fieldFormat;
    }
}

void SettingsReader::ReadPredictionFunction() {
    std::string function = KeyValue::Mean;
    const bool error = parser->GetParameter(Key::ComputePredValFunc, function, nullptr).IsError();
    if (!error && function == KeyValue::Mean) {
        settings->ComputePredValFunc = 0;
    } else if (!error && function == KeyValue::Median) {
        settings->ComputePredValFunc = 1;
    } else if (error) {
        FailFromParser(Code::BadPredFunc, "ComputePredValFunc cannot be read");
    } else {
        Fail(Code::BadPredFunc,
             "ComputePredValFunc is " + Quoted(function) + "; it must be 'Mean' or 'Median'");
    }
}

void SettingsReader::ReadFeatureOptions() {
    bool weight = false;
    if (parser->GetParameter(Key::IsFeatureWeight, weight, nullptr).IsError()) {
        FailFromParser(Code::BadFeatureWeight, "IsFeatureWeight cannot be read");
        return;
    }
    settings->IsFeaImportance = weight;
    settings->IsFeaWeight = weight;

    bool selection = false;
    if (parser->GetParameter(Key::IsFeatureSelection, selection, nullptr).IsError()) {
        FailFromParser(Code::BadFeatureSelection, "IsFeatureSelection cannot be read");
        return;
    }
    settings->IsFeaSelection = selection;
    if (!selection) {
        return;
    }

    std::vector<std::string> forcedNames;
    if (parser->GetArray(Key::ForcedVariables, forcedNames, nullptr).IsError()) {
        FailFromParser(Code::BadForcedVariables, "ForcedVariables cannot be read");
        return;
    }
    std::vector<int> forced;
    std::vector<bool> named(static_cast<size_t>(dictionary->Size()), false);
    for (const std::string& name : forcedNames) {
        const int field = dictionary->FindVariable(name);
        if (field < 0) {
            Fail(Code::UnknownForcedVariable,
                 "the forced variable " + Quoted(name) + " is not in the dictionary");
            return;
        }
        if (named[static_cast<size_t>(field)]) {
            Fail(Code::DuplicateField, "the forced variable " + Quoted(name) + " is named twice");
            return;
        }
        named[static_cast<size_t>(field)] = true;
        forced.push_back(field);
    }
    for (int field : forced) {
        if (!Contains(settings->Responses, field)) {
            settings->ForcedVariables.push_back(field);
        }
    }

    bool automatic = false;
    if (parser->GetParameter(Key::IsAutoFeatureSelection, automatic, nullptr).IsError()) {
        FailFromParser(Code::BadAutoFeatureSelection, "IsAutoFeatureSelection cannot be read");
        return;
    }
    settings->IsAutoFeaSelection = automatic;
    if (automatic) {
        settings->SpecifiedFeaNum = -1;
        double range = 0.01;
        const bool error = parser->GetParameter(Key::SpecifiedErrRange, range, nullptr).IsError();
        if (error || !(range >= 0.0 && range <= 1.0)) {
            Fail(Code::BadErrRange,
                 error ? "SpecifiedErrRange cannot be read: " + parser->GetLastMessage()
                       : "SpecifiedErrRange must lie between 0 and 1");
            return;
        }
        settings->SpecifiedErrRange = range;
    } else {
        ReadFeatureCount(static_cast<int>(forcedNames.size()));
    }
}

void SettingsReader::ReadFeatureCount(int forcedNamed) {
    const int features = settings->FeatureNum;
    int count = std::max(0, std::min(features, 20) - forcedNamed);
    const bool error = parser->GetParameter(Key::NSpecifiedFeatures, count, nullptr).IsError();
    settings->SpecifiedErrRange = -1.0;
    if (!error && count >= 0 && forcedNamed + count >= 1 && forcedNamed + count <= features) {
        settings->SpecifiedFeaNum = count;
    } else if (!error && forcedNamed + count > features) {
        settings->SpecifiedFeaNum = features - forcedNamed;
        featureCountReduced = true;
        KNNWarning::Instance().AddUnique(Warning(Code::FeatureCountReduced));
    } else {
        Fail(Code::BadFeatureCount,
             error ? "NSpecifiedFeatures cannot be read: " + parser->GetLastMessage()
                   : "NSpecifiedFeatures is " + std::to_string(count) +
                         "; with the forced variables at least one feature must be selected");
    }
}

void SettingsReader::ReadKOptions() {
    if (!settings->Responses.empty()) {
        bool automatic = false;
        if (parser->GetParameter(Key::IsAutoKSelection, automatic, nullptr).IsError()) {
            automatic = false;
        }
        settings->IsAutoKSelection = automatic;

        int minK = 3;
        int maxK = 5;
        const bool minError = parser->GetParameter(Key::MinK, minK, nullptr).IsError();
        const bool maxError = !minError && parser->GetParameter(Key::MaxK, maxK, nullptr).IsError();
        if (minError || maxError) {
            FailFromParser(Code::BadKRange, "MinK or MaxK cannot be read");
            return;
        }
        if (!(minK > 0 && maxK >= 1 && minK < maxK)) {
            Fail(Code::BadKRange, "MinK is " + std::to_string(minK) + " and MaxK is " +
                                      std::to_string(maxK) + "; they must satisfy 0 < MinK < MaxK");
            return;
        }
        settings->SetKRange(minK, maxK);
    }

    int k = 3;
    const bool kError = parser->GetParameter(Key::SpecifiedK, k, nullptr).IsError();
    if (kError || k < 1) {
        Fail(Code::BadSpecifiedK,
             kError ? "SpecifiedK cannot be read: " + parser->GetLastMessage()
                    : "SpecifiedK is " + std::to_string(k) + "; it must be at least 1");
        return;
    }
    settings->SpecifiedK = k;

    if (!UsesFolds(!settings->Responses.empty(), settings->IsAutoKSelection,
                   settings->IsFeaSelection)) {
        return;
    }
    std::string name;
    if (parser->GetParameter(Key::VFoldVar, name, nullptr).IsError() || name.empty()) {
        Fail(Code::BadVFoldVar, "automatic K selection needs a fold field (VFoldVar)");
        return;
    }
    int folds = 10;
    const bool foldsError = parser->GetParameter(Key::VFoldValue, folds, nullptr).IsError();
    if (foldsError || folds < 2) {
        Fail(Code::BadVFoldValue,
             foldsError
                 ? "VFoldValue cannot be read: " + parser->GetLastMessage()
                 : "VFoldValue is " + std::to_string(folds) + "; at least 2 folds are needed");
        return;
    }
    const int field = dictionary->FindVariable(name);
    if (field < 0) {
        Fail(Code::UnknownVFoldVar, "the fold field " + Quoted(name) + " is not in the dictionary");
        return;
    }
    if (!IsCategorical(field)) {
        Fail(Code::VFoldNotCategorical, "the fold field " + Quoted(name) + " is not categorical");
        return;
    }
    settings->SetVFold(field, folds);
    // The fold field assigns cases to folds; it is never a distance feature.
    if (Contains(settings->Features, field)) {
        Remove(settings->Features, field);
        Remove(settings->CatPredictors, field);
        settings->FeatureNum = static_cast<int>(settings->Features.size());
        if (settings->Features.empty()) {
            Fail(Code::NoFeatureLeft, "the only predictor is the fold field " + Quoted(name));
        }
    }
}

void SettingsReader::ReadSpecifiedFeatures() {
    std::vector<std::string> names;
    if (parser->GetArray(Key::SpecifiedFeature, names, nullptr).IsError()) {
        FailFromParser(Code::BadSpecifiedFeature, "SpecifiedFeature cannot be read");
        return;
    }
    std::vector<int> fields;
    std::vector<bool> named(static_cast<size_t>(dictionary->Size()), false);
    for (const std::string& name : names) {
        const int field = dictionary->FindVariable(name);
        if (field < 0 || named[static_cast<size_t>(field)]) {
            Fail(Code::BadSpecifiedFeature,
                 "the specified feature " + Quoted(name) +
                     (field < 0 ? " is not in the dictionary" : " is named twice"));
            return;
        }
        named[static_cast<size_t>(field)] = true;
        fields.push_back(field);
    }
    settings->SpecifiedFeature = fields;
    if (fields.empty()) {
        return;
    }
    std::vector<double> weights;
    if (parser->GetArray(Key::SpecifiedFeatureWeight, weights, nullptr).IsError()) {
        FailFromParser(Code::BadSpecifiedFeature, "SpecifiedFeatureWeight cannot be read");
        return;
    }
    settings->SpecifiedFeatureWeight = weights;
    if (settings->IsFeaSelection || settings->IsAutoKSelection || settings->IsFeaImportance ||
        settings->IsFeaWeight) {
        Fail(Code::SpecifiedFeatureConflict,
             "SpecifiedFeature cannot be combined with K selection, feature selection or feature "
             "weighting");
    } else if (weights.size() != fields.size()) {
        Fail(Code::SpecifiedFeatureConflict,
             "SpecifiedFeatureWeight has " + std::to_string(weights.size()) + " values for " +
                 std::to_string(fields.size()) + " specified features");
    } else {
        // A weight of zero or below, or one that is not finite, makes distances meaningless.
        for (size_t i = 0; i < weights.size(); ++i) {
            if (!(weights[i] > 0.0 && std::isfinite(weights[i]))) {
                Fail(Code::BadSpecifiedFeatureWeight,
                     "the weight of the specified feature " + Quoted(names[i]) + " is " +
                         FormatNumber(weights[i]) + "; it must be a finite number above 0");
                status.SetDiscreteDatum(0, fields[i]);
                return;
            }
        }
    }
}

void SettingsReader::CheckDeclaredRanges() {
    for (int field = 0; field < dictionary->Size(); ++field) {
        if (!IsContinuous(field) || field == settings->CaseIDVariable ||
            field == settings->FocalCaseVariable) {
            continue;
        }
        // Every such field is examined; the last offender decides the code and the message.
        const auto* variable =
            dynamic_cast<const VelXML_940::VelContVar*>(dictionary->GetVarAt(field));
        if (variable == nullptr) {
            continue;
        }
        const double min = variable->GetMin();
        const double max = variable->GetMax();
        // The parser keeps min <= max, so the width below is never negative. Any width above
        // zero rescales exactly enough, however small (1e-20 ... 2e-20); one that overflows
        // would rescale every value to -1 and write every value back as NaN.
        if (min == -DBL_MAX || max == DBL_MAX) {
            Fail(Code::NoDeclaredRange, "the continuous field " + Quoted(FieldName(field)) +
                                            " has no declared minimum and maximum");
        } else if (!std::isfinite(max - min)) {
            Fail(Code::RangeTooWide, "the continuous field " + Quoted(FieldName(field)) +
                                         " has the declared range " + FormatNumber(min) + " ... " +
                                         FormatNumber(max) +
                                         ", whose width max - min is too large for a number");
            status.SetDiscreteDatum(0, field);
        } else if (min == max) {
            Fail(Code::EmptyRange, "the continuous field " + Quoted(FieldName(field)) +
                                       " has the same declared minimum and maximum");
            status.SetDiscreteDatum(0, field);
        }
    }
}

void SettingsReader::CheckFoldCount() {
    if (!UsesFolds(!settings->Responses.empty(), settings->IsAutoKSelection,
                   settings->IsFeaSelection)) {
        return;
    }
    const int field = settings->VFoldVariable;
    const int categories = dictionary->GetVarAt(field)->GetCategoryCount();
    if (categories != settings->VFoldValue) {
        Fail(Code::VFoldCountMismatch,
             "the fold field " + Quoted(FieldName(field)) + " has " + std::to_string(categories) +
                 " categories but VFoldValue is " + std::to_string(settings->VFoldValue));
    }
}

void SettingsReader::CheckCategoryCounts() {
    // Targets and every field that can enter a distance; the case label, focal and fold fields
    // only tell cases apart and are not limited.
    for (const std::vector<int>* list : {&settings->Responses, &settings->Features,
                                         &settings->ForcedVariables, &settings->SpecifiedFeature}) {
        for (int field : *list) {
            if (!IsCategorical(field)) {
                continue;
            }
            const int categories = dictionary->GetVarAt(field)->GetCategoryCount();
            if (categories > VelCommon_940::kMaxCategories) {
                Fail(Code::TooManyCategories,
                     "the categorical field " + Quoted(FieldName(field)) + " has " +
                         std::to_string(categories) +
                         " categories; a target or predictor may have at most " +
                         std::to_string(VelCommon_940::kMaxCategories));
                status.SetDiscreteDatum(0, field);
                return;
            }
        }
    }
}

void SettingsReader::CheckSelectionNeedsTarget() {
    if (settings->Responses.empty() &&
        (settings->IsAutoKSelection || settings->IsFeaSelection || settings->IsFeaImportance)) {
        Fail(Code::SelectionWithoutTarget,
             "K selection, feature selection and feature weighting need at least one target");
    }
}

int SettingsReader::ReadFieldKey(const char* key, long unreadable, long unknown) {
    std::string name;
    if (parser->GetParameter(key, name, nullptr).IsError()) {
        FailFromParser(unreadable, std::string(key) + " cannot be read");
        return -1;
    }
    if (name.empty()) {
        Fail(unreadable, std::string("no field is given for ") + key);
        return -1;
    }
    const int field = dictionary->FindVariable(name);
    if (field < 0) {
        Fail(unknown, std::string("the field ") + Quoted(name) + " given for " + key +
                          " is not in the dictionary");
    }
    return field;
}

void SettingsReader::SortFields(const std::vector<std::string>& names, const char* what,
                                long unknown, std::vector<int>& categorical,
                                std::vector<int>& continuous) {
    std::string missing;
    std::string duplicate;
    std::vector<bool> listed(static_cast<size_t>(dictionary->Size()), false);
    for (const std::string& name : names) {
        const int field = dictionary->FindVariable(name);
        if (field < 0) {
            if (missing.empty())
                missing = name;
            continue;
        }
        if (listed[static_cast<size_t>(field)]) {
            if (duplicate.empty())
                duplicate = name;
            continue;
        }
        listed[static_cast<size_t>(field)] = true;
        (IsCategorical(field) ? categorical : continuous).push_back(field);
    }
    if (!missing.empty()) {
        Fail(unknown,
             std::string("the ") + what + " " + Quoted(missing) + " is not in the dictionary");
    } else if (!duplicate.empty()) {
        Fail(Code::DuplicateField,
             std::string("the ") + what + " " + Quoted(duplicate) + " is named twice");
    }
}

bool SettingsReader::IsCategorical(int field) const {
    const VelXML_940::IVelVariable* variable = dictionary->GetVarAt(field);
    const int kind = variable != nullptr ? variable->GetKind() : 0;
    return kind == VelXML_940::kNumericCategorical || kind == VelXML_940::kStringCategorical;
}

bool SettingsReader::IsContinuous(int field) const {
    const VelXML_940::IVelVariable* variable = dictionary->GetVarAt(field);
    return variable != nullptr && variable->GetKind() == VelXML_940::kContinuous;
}

std::string SettingsReader::FieldName(int field) const {
    std::string name;
    if (const VelXML_940::IVelVariable* variable = dictionary->GetVarAt(field)) {
        variable->GetName(name);
    }
    return name;
}

void SettingsReader::Fail(long code, const std::string& message) {
    status = Error(code);
    status.SetMessage(message);
}

void SettingsReader::FailFromParser(long code, const std::string& message) {
    const std::string& detail = parser->GetLastMessage();
    Fail(code, detail.empty() ? message : message + ": " + detail);
}

}  // namespace KNN_800
