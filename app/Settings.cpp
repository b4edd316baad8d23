#include "Settings.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "Errors.h"
#include "Messages.h"
#include "VelSettingsParser.h"
#include "knn/settings/FieldUse.h"
#include "knn/settings/SettingsKeys.h"

namespace knncli {

namespace {

namespace Key = KNN_800::Key;
using VelCommon_940::VelStatus;

// Appends `field` (not -1) to `list` unless `listed`, which has a mark per dictionary field,
// shows it there already; the marks keep a list of many fields linear to build.
void AddOnce(std::vector<int>& list, std::vector<bool>& listed, int field) {
    if (field >= 0 && !listed[static_cast<size_t>(field)]) {
        listed[static_cast<size_t>(field)] = true;
        list.push_back(field);
    }
}

[[noreturn]] void Reject(const std::string& file, const VelStatus& status) {
    throw CliError(kExitSettings, file + ": " + DescribeStatus(status, nullptr));
}

// Looks up `names` in the dictionary; names that are not there are left for the component
// to report, with its own status.
std::vector<int> Indices(const VelXML_940::VelVarList& dictionary,
                         const std::vector<std::string>& names) {
    std::vector<int> fields;
    std::vector<bool> listed(static_cast<size_t>(dictionary.Size()), false);
    for (const std::string& name : names) {
        AddOnce(fields, listed, dictionary.FindVariable(name));
    }
    return fields;
}

}  // namespace

bool AnalysisSettings::UsesFolds() const {
    return KNN_800::UsesFolds(!targets.empty(), autoK, featureSelection) && fold >= 0;
}

std::string AnalysisSettings::FieldName(int field) const {
    const VelXML_940::IVelVariable* variable =
        dictionary != nullptr ? dictionary->GetVarAt(field) : nullptr;
    return variable != nullptr ? variable->Name() : "#" + std::to_string(field);
}

bool AnalysisSettings::IsCategorical(int field) const {
    const VelXML_940::IVelVariable* variable =
        dictionary != nullptr ? dictionary->GetVarAt(field) : nullptr;
    return variable != nullptr && variable->GetKind() != VelXML_940::kContinuous;
}

int AnalysisSettings::CategoryCount(int field) const {
    return IsCategorical(field) ? dictionary->GetVarAt(field)->GetCategoryCount() : 0;
}

std::string AnalysisSettings::CategoryText(int field, int code) const {
    std::string text;
    const VelXML_940::IVelVariable* variable =
        dictionary != nullptr ? dictionary->GetVarAt(field) : nullptr;
    if (variable == nullptr || variable->GetValueTable() == nullptr ||
        !variable->GetValueTable()->GetValueText(text, code)) {
        text = std::to_string(code);
    }
    return text;
}

AnalysisSettings LoadSettings(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw CliError(kExitSettings, "cannot open the settings document " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        throw CliError(kExitSettings, "cannot read the settings document " + path);
    }
    return ParseSettings(text.str(), path);
}

AnalysisSettings ParseSettings(const std::string& text, const std::string& file) {
    AnalysisSettings settings;
    settings.file = file;
    settings.text = text;
    settings.dictionary = std::make_unique<VelXML_940::VelVarList>();
    VelXML_940::VelVarList& dictionary = *settings.dictionary;

    VelXML_940::VelSettingsParser parser;
    std::istringstream in(text);
    VelStatus status = parser.ParseToDOM(in);
    if (status.IsError()) {
        Reject(file, status);
    }
    status = parser.FillVarList(dictionary, false);
    if (status.IsError()) {
        Reject(file, status);
    }
    status = parser.FillTransDict(dictionary);
    if (status.IsError()) {
        Reject(file, status);
    }

    // Keys of the wrong type are left at their defaults here; the component rejects them with
    // its own status, which names the key.
    std::string name;
    if (parser.GetParameter(Key::CaseIDVar, name, nullptr).IsOK()) {
        settings.caseId = dictionary.FindVariable(name);
    }
    name.clear();
    if (parser.GetParameter(Key::FocalVar, name, nullptr).IsOK()) {
        settings.focal = dictionary.FindVariable(name);
    }
    name.clear();
    if (parser.GetParameter(Key::VFoldVar, name, nullptr).IsOK() && !name.empty()) {
        settings.fold = dictionary.FindVariable(name);
    }
    bool useLabels = false;
    name.clear();
    if (parser.GetParameter(Key::UseCaseLabels, useLabels, nullptr).IsOK() && useLabels &&
        parser.GetParameter(Key::CaseLabelVar, name, nullptr).IsOK()) {
        settings.caseLabel = dictionary.FindVariable(name);
    }

    std::vector<std::string> names;
    if (parser.GetTargetVars(names).IsOK()) {
        settings.targets = Indices(dictionary, names);
    }
    names.clear();
    if (parser.GetPredictors(names).IsOK()) {
        for (int field : Indices(dictionary, names)) {
            if (field != settings.caseId && field != settings.focal &&
                field != settings.caseLabel) {
                settings.features.push_back(field);
            }
        }
        std::sort(settings.features.begin(), settings.features.end());
    }

    parser.GetParameter(Key::IsAutoKSelection, settings.autoK, nullptr);
    parser.GetParameter(Key::IsFeatureSelection, settings.featureSelection, nullptr);
    parser.GetParameter(Key::IsFeatureWeight, settings.featureWeight, nullptr);

    // Like the component, the fold field is never a distance feature while it assigns folds.
    if (settings.UsesFolds()) {
        std::erase(settings.features, settings.fold);
    }

    const auto listed = [&parser, &dictionary](const char* key) {
        std::vector<std::string> names;
        return parser.GetArray(key, names, nullptr).IsOK() ? Indices(dictionary, names)
                                                           : std::vector<int>();
    };
    settings.usedFields = KNN_800::UsedFields({.caseId = settings.caseId,
                                               .caseLabel = settings.caseLabel,
                                               .focal = settings.focal,
                                               .fold = settings.fold,
                                               .targets = settings.targets,
                                               .features = settings.features,
                                               .forced = listed(Key::ForcedVariables),
                                               .specified = listed(Key::SpecifiedFeature),
                                               .autoK = settings.autoK,
                                               .featureSelection = settings.featureSelection});
    // The case label is read with every case but never makes one invalid.
    std::erase(settings.usedFields, settings.caseLabel);
    return settings;
}

}  // namespace knncli
