#include "knn/predict/KNNContPredictionSummary.h"

#include <algorithm>

#include "VelDisplay.h"
#include "VelMV.h"
#include "VelPower.h"
#include "knn/base/StatusCodes.h"

namespace KNN_800 {

using VelCommon_940::VelMV;

KNNContPredictionSummary::KNNContPredictionSummary(int targetColumn, int useMedian,
                                                   int variableCount,
                                                   const std::vector<double*>* rows)
    : targetColumn(targetColumn),
      useMedian(useMedian),
      rows(rows),
      prediction(1, 0.0),
      variableCount(variableCount) {}

int KNNContPredictionSummary::NeighbourCount(const NeighborList& list) {
    return std::clamp(list.count, 0, static_cast<int>(list.entries.size()));
}

double KNNContPredictionSummary::Mean(const NeighborList& list, int n) const {
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
        sum += Target(list, j);
    }
    return sum / static_cast<double>(n);
}

double KNNContPredictionSummary::SortedMedian(const std::vector<double>& sorted, int n) {
    const size_t middle = static_cast<size_t>(n / 2);
    if (n % 2 == 1) {
        return sorted[middle];
    }
    return (sorted[middle - 1] + sorted[middle]) * 0.5;
}

double KNNContPredictionSummary::Median(const NeighborList& list, int n) {
    scratch.resize(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
        scratch[static_cast<size_t>(j)] = Target(list, j);
    }
    // Partial selection instead of a full sort: the upper middle element lands in place, and
    // for an even count the lower middle one is the largest value before it.
    const auto middle = scratch.begin() + n / 2;
    std::nth_element(scratch.begin(), middle, scratch.end());
    if (n % 2 == 1) {
        return *middle;
    }
    const double lower = *std::max_element(scratch.begin(), middle);
    return (lower + *middle) * 0.5;
}

const std::vector<double>& KNNContPredictionSummary::Predict(const double* /*query*/,
                                                             const NeighborList& list) {
    const int n = NeighbourCount(list);
    prediction.resize(1);
    if (n == 0) {
        prediction[0] = VelMV::Missing();
    } else {
        prediction[0] = useMedian != 0 ? Median(list, n) : Mean(list, n);
    }
    return prediction;
}

const std::vector<double>& KNNContPredictionSummary::PredictAllK(const double* query,
                                                                 const NeighborList& list) {
    const int n = NeighbourCount(list);
    if (n == 0) {
        return Predict(query, list);
    }
    prediction.resize(static_cast<size_t>(n));
    // Neighbours come nearest first, so each k extends the previous k - 1: a running sum for
    // the mean, an insertion into the sorted values for the median.
    double sum = 0.0;
    scratch.clear();
    for (int k = 1; k <= n; ++k) {
        const double value = Target(list, k - 1);
        double& out = prediction[static_cast<size_t>(k - 1)];
        if (useMedian != 0) {
            scratch.push_back(value);
            size_t i = scratch.size() - 1;
            while (i > 0 && scratch[i - 1] > value) {
                scratch[i] = scratch[i - 1];
                --i;
            }
            scratch[i] = value;
            out = SortedMedian(scratch, k);
        } else {
            sum += value;
            out = sum / static_cast<double>(k);
        }
    }
    return prediction;
}

VelCommon_940::VelStatus KNNContPredictionSummary::AccumulateError(
    const double* query, const std::vector<double>& prediction, double* accumulator) const {
    if (accumulator == nullptr || prediction.empty()) {
        return VelCommon_940::VelStatus();
    }
    const double error = prediction.back() - query[targetColumn];
    const double squared = VelMath_940::VelPower::Multiply(error, error);
    if (VelMV::IsMissing(squared)) {
        return Error(Code::ErrorOverflow);
    }
    *accumulator += squared;
    return VelCommon_940::VelStatus();
}

void KNNContPredictionSummary::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNContPredictionSummary display start");
    DisplayI("Target column", targetColumn);
    DisplayS("Prediction function", useMedian != 0 ? "Median" : "Mean");
    DisplayDV("Prediction", prediction, false);
    DisplayText(level, "KNNContPredictionSummary display end");
}

}  // namespace KNN_800
