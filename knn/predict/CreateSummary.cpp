#include "knn/predict/CreateSummary.h"

#include "knn/predict/KNNCatPredictionSummary.h"
#include "knn/predict/KNNContPredictionSummary.h"

namespace KNN_800 {

KNNPredictionSummary* CreateSummary(bool continuous, int useMedian, int targetColumn,
                                    int variableCount, const std::vector<int>* frequencies,
                                    const std::vector<double*>* rows) {
    if (continuous) {
        return new KNNContPredictionSummary(targetColumn, useMedian, variableCount, rows);
    }
    return new KNNCatPredictionSummary(targetColumn, variableCount, frequencies, rows);
}

}  // namespace KNN_800
