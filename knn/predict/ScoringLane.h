// The state of one thread of a parallel scoring pass (ParallelScoring.cpp), kept by the factory
// from pass to pass.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "knn/predict/KNNPredictionFactory.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/search/kdtree/KNNKdTree.h"

namespace KNN_800 {

// What one thread keeps from pass to pass.
struct KNNPredictionFactory::Lane {
    KNNKdTree::SearchScratch search;
    std::vector<std::unique_ptr<KNNPredictionSummary>> copies;
    std::vector<KNNPredictionSummary*> own;  // the copies, as RowTerms takes them
    // The lane's part of a pass that may give up: the sum of its first summary's terms and how
    // many cases it holds. `done` is published after `partial`, so that a reader who sees a
    // count sees a sum that includes at least those cases.
    std::atomic<double> partial{0.0};
    std::atomic<size_t> done{0};
};

}  // namespace KNN_800
