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

using Table = std::vector<std::vector<std::string>>;

// Rows of cells, indented and aligned: the first `left` columns to the left (names), the
// others to the right (numbers).
void PrintTable(std::ostream& out, const Table& rows, size_t left = 1);

// An error as the summary shows it: the misclassified fraction of a categorical target as a
// percentage, the sum of squared errors of a continuous one with four significant digits
// (whole numbers from 10000 on, which read better than an exponent).
std::string ErrorText(double value, bool categorical);

// Writes one block per target (or one for a neighbours-only model), in the order of the
// component's results. `models` are those of the model document; when they could not be read,
// `problem` says why and the blocks name the targets only.
void PrintModels(std::ostream& out, const AnalysisSettings& settings,
                 const std::vector<DocumentModel>& models, const std::string& problem);

class JsonWriter;

// The same facts as PrintModels, as the array of targets of the summary in JSON
// (docs/cli.md, "Summary as JSON").
void WriteModelsJson(JsonWriter& json, const AnalysisSettings& settings,
                     const std::vector<DocumentModel>& models, const std::string& problem);

}  // namespace knncli
