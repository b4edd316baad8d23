// Continuous target: the mean or the median of the neighbours' target values, scored by the
// squared error.
#pragma once

#include <vector>

#include "knn/predict/KNNPredictionSummary.h"

namespace KNN_800 {

class KNNContPredictionSummary : public KNNPredictionSummary {
public:
    // `useMedian` non-zero predicts the median, zero the mean. `rows`: the prepared training
    // rows, not owned, must outlive the summary.
    KNNContPredictionSummary(int targetColumn, int useMedian, int variableCount,
                             const std::vector<double*>* rows);

    // One element: the mean or median over all neighbours (the missing value without any).
    const std::vector<double>& Predict(const double* query, const NeighborList& list) override;
    // n elements for n neighbours: element k - 1 is the mean or median of the first k.
    const std::vector<double>& PredictAllK(const double* query, const NeighborList& list) override;
    // The sum of squared errors, unchanged.
    double ErrorFromTotal(double total) const override { return total; }
    const std::vector<std::vector<int>>& ConfusionMatrix() const override { return noMatrix; }
    // Adds the squared difference between the last prediction and the query's target; 200059
    // when the square cannot be represented (the accumulator is then left alone).
    VelCommon_940::VelStatus AccumulateError(const double* query,
                                             const std::vector<double>& prediction,
                                             double* accumulator) const override;
    void ResetConfusionMatrix() override {}
    std::unique_ptr<KNNPredictionSummary> Clone() const override {
        return std::make_unique<KNNContPredictionSummary>(*this);
    }
    void Display() const override;

    int TargetColumn() const { return targetColumn; }
    bool UsesMedian() const { return useMedian != 0; }
    int VariableCount() const { return variableCount; }

private:
    double Target(const NeighborList& list, int j) const {
        return (*rows)[list.entries[static_cast<size_t>(j)].caseIndex]
                      [static_cast<size_t>(targetColumn)];
    }
    double Mean(const NeighborList& list, int n) const;
    double Median(const NeighborList& list, int n);
    // The median of the first n values of `sorted`, which are in ascending order.
    static double SortedMedian(const std::vector<double>& sorted, int n);
    static int NeighbourCount(const NeighborList& list);

    int targetColumn;
    int useMedian;
    const std::vector<double*>* rows;
    std::vector<double> prediction;
    int variableCount;            // kept for the creator; not used in predictions
    std::vector<double> scratch;  // neighbour values for the median, reused between calls
    std::vector<std::vector<int>> noMatrix;  // a continuous target has no confusion matrix
};

}  // namespace KNN_800
