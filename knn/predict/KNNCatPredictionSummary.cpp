#include "knn/predict/KNNCatPredictionSummary.h"

#include <algorithm>
#include <climits>

#include "VelDisplay.h"

namespace KNN_800 {

namespace {

// Truncates `value` to an int; false when it has no int value (not a number, infinite or out of
// range), so that such a value never indexes anything.
bool ToCategory(double value, int& category) {
    if (!(value > static_cast<double>(INT_MIN) - 1.0 &&
          value < static_cast<double>(INT_MAX) + 1.0)) {
        return false;
    }
    category = static_cast<int>(value);
    return true;
}

}  // namespace

KNNCatPredictionSummary::KNNCatPredictionSummary(int targetColumn, int variableCount,
                                                 const std::vector<int>* frequencies,
                                                 const std::vector<double*>* rows)
    : categoryCount(frequencies != nullptr ? static_cast<int>(frequencies->size()) : 0),
      targetColumn(targetColumn),
      trainingCaseCount(rows != nullptr ? static_cast<int>(rows->size()) : 0),
      frequencies(frequencies),
      rows(rows),
      variableCount(variableCount) {
    const size_t categories = static_cast<size_t>(categoryCount);
    confusion.assign(categories, std::vector<int>(categories, 0));
    prediction.assign(categories + 1, 0.0);
    votes.assign(categories, 0);
}

int KNNCatPredictionSummary::NeighbourCount(const NeighborList& list) {
    return std::clamp(list.count, 0, static_cast<int>(list.entries.size()));
}

void KNNCatPredictionSummary::AddVote(const NeighborList& list, int j) {
    const double* row = (*rows)[list.entries[static_cast<size_t>(j)].caseIndex];
    const double value = row[targetColumn];
    // Training targets are valid codes; anything else is ignored rather than trusted as an index.
    if (value >= 0.0 && value < static_cast<double>(categoryCount)) {
        ++votes[static_cast<size_t>(value)];
    }
}

int KNNCatPredictionSummary::Winner() const {
    int winner = -1;
    int winnerVotes = -1;
    int winnerFrequency = -1;
    for (int g = 0; g < categoryCount; ++g) {
        const int v = votes[static_cast<size_t>(g)];
        const int frequency = frequencies != nullptr ? (*frequencies)[static_cast<size_t>(g)] : 0;
        // Strict comparisons keep the lowest index among full ties.
        if (v > winnerVotes || (v == winnerVotes && frequency > winnerFrequency)) {
            winner = g;
            winnerVotes = v;
            winnerFrequency = frequency;
        }
    }
    return winner;
}

void KNNCatPredictionSummary::CountVotes(const NeighborList& list, int n) {
    std::fill(votes.begin(), votes.end(), 0);
    for (int j = 0; j < n; ++j) {
        AddVote(list, j);
    }
}

void KNNCatPredictionSummary::FillProbabilities(int n) {
    const double denominator = static_cast<double>(categoryCount + n);
    for (int g = 0; g < categoryCount; ++g) {
        prediction[static_cast<size_t>(g)] =
            static_cast<double>(votes[static_cast<size_t>(g)] + 1) / denominator;
    }
}

const std::vector<double>& KNNCatPredictionSummary::Predict(const double* /*query*/,
                                                            const NeighborList& list) {
    const int n = NeighbourCount(list);
    CountVotes(list, n);
    prediction.resize(static_cast<size_t>(categoryCount) + 1);
    FillProbabilities(n);
    prediction.back() = Winner();
    return prediction;
}

const std::vector<double>& KNNCatPredictionSummary::PredictAllK(const double* query,
                                                                const NeighborList& list) {
    const int n = NeighbourCount(list);
    // Without neighbours there is still one prediction (the most frequent category).
    prediction.resize(static_cast<size_t>(categoryCount + std::max(n, 1)));
    std::fill(votes.begin(), votes.end(), 0);
    // The list is sorted nearest first, so the vote of the first k neighbours is the vote of
    // the first k - 1 plus neighbour k.
    for (int k = 1; k <= n; ++k) {
        AddVote(list, k - 1);
        prediction[static_cast<size_t>(categoryCount + k - 1)] = Winner();
    }
    if (n == 0) {
        prediction.back() = Winner();
    }
    FillProbabilities(n);

    int actual = -1;
    const int predicted = static_cast<int>(prediction.back());
    if (query != nullptr && ToCategory(query[targetColumn], actual) && actual >= 0 &&
        actual < categoryCount && predicted >= 0) {
        ++confusion[static_cast<size_t>(actual)][static_cast<size_t>(predicted)];
    }
    return prediction;
}

double KNNCatPredictionSummary::ErrorFromTotal(double total) const {
    return 1.0 - total / static_cast<double>(trainingCaseCount);
}

VelCommon_940::VelStatus KNNCatPredictionSummary::AccumulateError(
    const double* query, const std::vector<double>& prediction, double* accumulator) const {
    int predicted = 0;
    int actual = 0;
    if (accumulator != nullptr && !prediction.empty() && ToCategory(prediction.back(), predicted) &&
        ToCategory(query[targetColumn], actual) && predicted == actual) {
        *accumulator += 1.0;
    }
    return VelCommon_940::VelStatus();
}

void KNNCatPredictionSummary::ResetConfusionMatrix() {
    for (std::vector<int>& row : confusion) {
        std::fill(row.begin(), row.end(), 0);
    }
}

void KNNCatPredictionSummary::AddCounts(const KNNPredictionSummary& copy) {
    const std::vector<std::vector<int>>& counts = copy.ConfusionMatrix();
    for (size_t a = 0; a < confusion.size() && a < counts.size(); ++a) {
        for (size_t b = 0; b < confusion[a].size() && b < counts[a].size(); ++b) {
            confusion[a][b] += counts[a][b];
        }
    }
}

void KNNCatPredictionSummary::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNCatPredictionSummary display start");
    DisplayI("Target column", targetColumn);
    DisplayI("Category count", categoryCount);
    DisplayI("Training case count", trainingCaseCount);
    if (frequencies != nullptr) {
        DisplayIV("Training frequencies", *frequencies);
    }
    DisplayDV("Prediction", prediction, false);
    for (const std::vector<int>& row : confusion) {
        DisplayIV("Confusion matrix row", row);
    }
    DisplayText(level, "KNNCatPredictionSummary display end");
}

}  // namespace KNN_800
