// Makes the prediction summary of one target.
#pragma once

#include <memory>
#include <vector>

#include "knn/predict/KNNPredictionSummary.h"

namespace KNN_800 {

// A continuous target gets the mean or median summary (`useMedian` non-zero for the median), a
// categorical one the vote summary over the categories counted in `frequencies`.
// `frequencies` (categorical only) and `rows` must outlive the summary.
std::unique_ptr<KNNPredictionSummary> CreateSummary(bool continuous, int useMedian,
                                                    int targetColumn, int variableCount,
                                                    const std::vector<int>* frequencies,
                                                    const std::vector<double*>* rows);

}  // namespace KNN_800
