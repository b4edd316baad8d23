// Categorical target: the neighbours vote. The most votes win; a tie goes to the category more
// frequent in the training data, then to the lowest category index. Probabilities are
// Laplace-smoothed: (votes + 1) / (categories + neighbours).
#pragma once

#include <vector>

#include "knn/predict/KNNPredictionSummary.h"

namespace KNN_800 {

class KNNCatPredictionSummary : public KNNPredictionSummary {
public:
    // `frequencies`: training count per category (its size is the number of categories);
    // `rows`: the prepared training rows. Neither is owned and both must outlive the summary.
    KNNCatPredictionSummary(int targetColumn, int variableCount,
                            const std::vector<int>* frequencies, const std::vector<double*>* rows);

    // categoryCount + 1 elements: the probability of each category, then the predicted one.
    const std::vector<double>& Predict(const double* query, const NeighborList& list) override;
    // categoryCount + n elements for n neighbours: the probabilities from all n, then the
    // predicted category for k = 1 ... n. Counts the k = n prediction in the confusion matrix
    // when the query's actual category is known.
    const std::vector<double>& PredictAllK(const double* query, const NeighborList& list) override;
    // The misclassified fraction of the training cases: 1 - correct / training cases.
    double ErrorFromTotal(double total) const override;
    // Adds 1 when the predicted category equals the query's actual one.
    VelCommon_940::VelStatus AccumulateError(const double* query,
                                             const std::vector<double>& prediction,
                                             double* accumulator) const override;
    void ResetConfusionMatrix() override;
    std::unique_ptr<KNNPredictionSummary> Clone() const override {
        return std::make_unique<KNNCatPredictionSummary>(*this);
    }
    void AddCounts(const KNNPredictionSummary& copy) override;
    void Display() const override;

    const std::vector<std::vector<int>>& ConfusionMatrix() const override { return confusion; }
    int CategoryCount() const { return categoryCount; }
    int TargetColumn() const { return targetColumn; }
    int TrainingCaseCount() const { return trainingCaseCount; }
    int VariableCount() const { return variableCount; }

private:
    // Adds the vote of neighbour `j` of `list` to `votes`.
    void AddVote(const NeighborList& list, int j);
    // The winning category of the current `votes` (-1 without categories).
    int Winner() const;
    // Clears `votes` and counts the first `n` neighbours.
    void CountVotes(const NeighborList& list, int n);
    // Writes the smoothed probabilities of the current `votes` for `n` neighbours.
    void FillProbabilities(int n);
    // The usable neighbour count of `list`: its count, bounded by its entries.
    static int NeighbourCount(const NeighborList& list);

    std::vector<std::vector<int>> confusion;
    int categoryCount;
    int targetColumn;
    int trainingCaseCount;
    const std::vector<int>* frequencies;
    const std::vector<double*>* rows;
    std::vector<double> prediction;
    int variableCount;       // kept for the creator; not used in predictions
    std::vector<int> votes;  // per-category vote counter, reused between calls
};

}  // namespace KNN_800
