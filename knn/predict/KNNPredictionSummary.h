// Turns one neighbour list into a prediction for one target and scores the prediction against
// the query's actual value. Called once per scored case, so implementations keep their
// working storage between calls and allocate nothing once warmed up.
#pragma once

#include <memory>
#include <vector>

#include "VelStatus.h"
#include "knn/search/NeighborList.h"

namespace KNN_800 {

class KNNPredictionSummary {
public:
    virtual ~KNNPredictionSummary() = default;
    // The prediction from all `count` neighbours of `list`. `query` is not read. The returned
    // vector belongs to the summary and is overwritten by the next prediction.
    virtual const std::vector<double>& Predict(const double* query, const NeighborList& list) = 0;
    // Predictions from the first k neighbours for every k = 1 ... count; the last element is
    // the prediction from all of them.
    virtual const std::vector<double>& PredictAllK(const double* query,
                                                   const NeighborList& list) = 0;
    // The error criterion (lower is better) from the total of AccumulateError.
    virtual double ErrorFromTotal(double total) const = 0;
    // Counts of the scored cases indexed [actual][predicted] category; empty for a continuous
    // target. The model document writes it from this reference, without a copy.
    virtual const std::vector<std::vector<int>>& ConfusionMatrix() const = 0;
    // Adds the query's contribution to `accumulator`, comparing the last element of
    // `prediction` with the query's target value.
    virtual VelCommon_940::VelStatus AccumulateError(const double* query,
                                                     const std::vector<double>& prediction,
                                                     double* accumulator) const = 0;
    virtual void ResetConfusionMatrix() = 0;
    // A copy with working storage of its own, for another thread scoring with the same
    // settings and training data (which stay shared and are only read).
    virtual std::unique_ptr<KNNPredictionSummary> Clone() const = 0;
    // Adds the confusion counts of `copy` (made by Clone) to this summary's.
    virtual void AddCounts(const KNNPredictionSummary& /*copy*/) {}
    virtual void Complete() {}
    virtual void Display() const = 0;
};

}  // namespace KNN_800
