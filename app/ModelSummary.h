// The part of the run summary that describes the models: per target its K, how K was chosen
// (with the error of each K tried), the features in use, the order in which forward selection
// added them, and their importances and weights.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ModelDocument.h"
#include "Settings.h"

namespace knncli {

// Writes one block per target (or one for a neighbours-only model), in the order of the
// component's results. `models` are those of the model document; when they could not be read,
// `problem` says why and the blocks name the targets only.
void PrintModels(std::ostream& out, const AnalysisSettings& settings,
                 const std::vector<DocumentModel>& models, const std::string& problem);

}  // namespace knncli
