// Per model: the analysis options it was built with ("AnalysisOptions"), and how well it
// predicts its training cases ("modelQuality": the error summary and, for a categorical
// target, the confusion matrix of the scoring pass that filled the case tables).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "XMLElement.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

std::unique_ptr<VelXML_940::XMLElement> AnalysisOptionsTable(const KNNSettings& settings,
                                                             const KNNSingleResponseModel& model);

// `responseName`: the target's name; `criterion`: the model's error in the scoring pass (none
// when the pass gave none); `categoryTexts`: the texts of the target's categories (the column
// names of the confusion matrix), empty for a continuous target.
std::unique_ptr<VelXML_940::XMLElement> ModelQualityTable(
    const KNNSingleResponseModel& model, const std::string& responseName,
    std::optional<double> criterion, const std::vector<std::string>& categoryTexts);

}  // namespace KNN_800
