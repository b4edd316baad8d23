#include "knn/tables/KNNSelectionTables.h"

#include <string>

#include "knn/selection/KNNAutoKSelection.h"
#include "knn/selection/KNNBothKAndFeaSelection.h"
#include "knn/selection/KNNFeatureSelection.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelXML_940::XMLElement;

namespace {

std::unique_ptr<XMLElement> CreateForwardSelectionTable(const std::string& name) {
    std::unique_ptr<XMLElement> table = CreateTable("SimpleTable", name);
    std::unique_ptr<XMLElement> metadata(XMLElement::Create("Metadata"));
    metadata->AddAttribute("name", "method");
    metadata->AddAttribute("value", "forwardSelection");
    Append(*table, std::move(metadata));
    return table;
}

std::unique_ptr<XMLElement> KSelectionTable(const KNNSettings& settings,
                                            const KNNModelSelection* selection, size_t m) {
    const KNNAutoKSelection* stage = selection != nullptr ? selection->GetKSelection() : nullptr;
    if (stage == nullptr || m >= stage->GetErrors().size()) {
        return nullptr;
    }
    std::unique_ptr<XMLElement> table = CreateTable("SimpleTable", "KSelection");
    AddColumnNames(table.get(), "K;error");
    const std::vector<double>& errors = stage->GetErrors()[m];
    for (size_t j = 0; j < errors.size(); ++j) {
        AddRow(table.get(),
               std::to_string(settings.MinK + static_cast<int>(j)) + ";" + FormatDouble(errors[j]));
    }
    return table;
}

std::unique_ptr<XMLElement> FeatureSelectionTable(const KNNSettings& settings,
                                                  const VelXML_940::VelVarList& dictionary,
                                                  const KNNModelSelection* selection, size_t m) {
    const KNNFeatureSelection* stage =
        selection != nullptr ? selection->GetFeatureSelection() : nullptr;
    if (stage == nullptr || m >= stage->GetSelectedFeatures().size() ||
        m >= stage->GetErrorHistories().size()) {
        return nullptr;
    }
    const std::vector<int>& selected = stage->GetSelectedFeatures()[m];
    const std::vector<double>& history = stage->GetErrorHistories()[m];
    const std::vector<int>& forced = settings.ForcedVariables;

    std::unique_ptr<XMLElement> table = CreateForwardSelectionTable("FeatureSelection");
    AddColumnNames(table.get(), "model;features;error;selected");
    // History entry h belongs to the feature at position offset + h of the selected list;
    // with forced fields, entry 0 is the error of the forced list alone.
    const long offset = static_cast<long>(selected.size()) - static_cast<long>(history.size());
    size_t h0 = 0;
    if (!forced.empty() && !history.empty()) {
        AddRow(table.get(),
               "0;" + JoinedNames(dictionary, forced) + ";" + FormatDouble(history[0]) + ";no");
        h0 = 1;
    }
    for (size_t h = h0; h < history.size(); ++h) {
        const long at = offset + static_cast<long>(h);
        const std::string name = at >= 0 && at < static_cast<long>(selected.size())
                                     ? FieldName(dictionary, selected[at])
                                     : "";
        AddRow(table.get(),
               std::to_string(h + 1 - h0) + ";" + name + ";" + FormatDouble(history[h]) + ";yes");
    }
    return table;
}

std::unique_ptr<XMLElement> FeatureKSelectionTable(const KNNSettings& settings,
                                                   const VelXML_940::VelVarList& dictionary,
                                                   const KNNModelSelection* selection, size_t m) {
    const KNNBothKAndFeaSelection* stage =
        selection != nullptr ? selection->GetKAndFeatureSelection() : nullptr;
    if (stage == nullptr) {
        return nullptr;
    }
    const std::vector<std::vector<int>>& lists = stage->GetFeatureLists();
    const std::vector<std::vector<double>>& histories = stage->GetErrorHistories();
    const std::vector<int>& bestK = stage->GetBestK();
    const std::vector<int>& forced = settings.ForcedVariables;
    const size_t nK = static_cast<size_t>(settings.MaxK - settings.MinK + 1);
    if (nK * (m + 1) > lists.size() || nK * (m + 1) > histories.size()) {
        return nullptr;
    }

    std::unique_ptr<XMLElement> table = CreateForwardSelectionTable("FeatureKSelection");
    AddColumnNames(table.get(), "model;features;K;error;selected");
    for (size_t j = 0; j < nK; ++j) {
        const int K = settings.MinK + static_cast<int>(j);
        const std::string k = ";" + std::to_string(K) + ";";
        const std::vector<int>& list = lists[nK * m + j];
        const std::vector<double>& history = histories[nK * m + j];
        const long offset = static_cast<long>(list.size()) - static_cast<long>(history.size());
        const bool chosen = m < bestK.size() && bestK[m] == K;
        size_t h0 = 0;
        if (!forced.empty() && !history.empty()) {
            AddRow(table.get(),
                   "0;" + JoinedNames(dictionary, forced) + k + FormatDouble(history[0]) + ";no");
            h0 = 1;
        }
        for (size_t h = h0; h < history.size(); ++h) {
            const long at = offset + static_cast<long>(h);
            const std::string name = at >= 0 && at < static_cast<long>(list.size())
                                         ? FieldName(dictionary, list[at])
                                         : "";
            AddRow(table.get(), std::to_string(h + 1 - h0) + ";" + name + k +
                                    FormatDouble(history[h]) + (chosen ? ";yes" : ";no"));
        }
    }
    return table;
}

}  // namespace

std::unique_ptr<XMLElement> SelectionTable(const KNNSettings& settings,
                                           const VelXML_940::VelVarList& dictionary,
                                           const KNNModelSelection* selection, size_t m) {
    if (settings.IsFeaSelection && settings.IsAutoKSelection) {
        return FeatureKSelectionTable(settings, dictionary, selection, m);
    }
    if (settings.IsFeaSelection && (settings.IsAutoFeaSelection || settings.SpecifiedFeaNum >= 0)) {
        return FeatureSelectionTable(settings, dictionary, selection, m);
    }
    if (settings.IsAutoKSelection) {
        return KSelectionTable(settings, selection, m);
    }
    return nullptr;
}

}  // namespace KNN_800
