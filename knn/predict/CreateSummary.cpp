#include "knn/predict/CreateSummary.h"

#include "knn/predict/KNNCatPredictionSummary.h"
#include "knn/predict/KNNContPredictionSummary.h"

namespace KNN_800 {

std::unique_ptr<KNNPredictionSummary> CreateSummary(bool continuous, int useMedian,
                                                    int targetColumn, int variableCount,
                                                    const std::vector<int>* frequencies,
                                                    const std::vector<double*>* rows) {
    if (continuous) {
        return std::make_unique<KNNContPredictionSummary>(targetColumn, useMedian, variableCount,
                                                          rows);
    }
    return std::make_unique<KNNCatPredictionSummary>(targetColumn, variableCount, frequencies,
                                                     rows);
}

}  // namespace KNN_800
