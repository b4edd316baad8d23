// Per model, the history of the selection that decided its K and features: "KSelection" after
// K selection, "FeatureSelection" after forward selection of the features, "FeatureKSelection"
// after the joint choice of both.
#pragma once

#include <cstddef>
#include <memory>

#include "VelVarList.h"
#include "XMLElement.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

// The table of model `m` for the selection the settings asked for, or null when no selection
// ran (or its stage kept no history for the model). `selection` may be null.
std::unique_ptr<VelXML_940::XMLElement> SelectionTable(const KNNSettings& settings,
                                                       const VelXML_940::VelVarList& dictionary,
                                                       const KNNModelSelection* selection,
                                                       size_t m);

}  // namespace KNN_800
