// The importances a user hands to the component (knn run --importances).
#pragma once

#include <string>
#include <vector>

#include "Settings.h"

namespace knncli {

// Reads "field=value,field=value,...": one value above 0 for every feature of the settings,
// each named once, returned in the order of the features. The settings must have the
// component weight the features by their importances (IsFeatureWeight), with one target and
// without feature selection, which is when the component uses importances it is given.
// Throws CliError (wrong command line) naming what is wrong.
std::vector<double> ParseImportances(const std::string& text, const AnalysisSettings& settings);

}  // namespace knncli
