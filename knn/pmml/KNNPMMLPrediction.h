// Scores every training case once more for the case tables of the model document. Besides
// predicting and accumulating errors like its base, it writes per case and target one row of
// neighbours, distances and predictions into the target's "neighborsDistances" table and, for
// a categorical target, one row of category probabilities into its "predictionProbability"
// table.
#pragma once

#include <string>
#include <vector>

#include "XMLElement.h"
#include "knn/predict/KNNPredictionFactory.h"

namespace KNNPMML_800 {
class KNNXMLArchiveElement;
}

namespace KNN_800 {

class KNNPMMLPrediction : public KNNPredictionFactory {
public:
    // `rows`: the prepared training rows (not owned); `variableCount`: the number of
    // dictionary fields. Without `writeRows` the cases are scored for the criteria only, and
    // may then be searched in any order (the errors come out the same to the bit).
    KNNPMMLPrediction(std::vector<KNNPredictionSummary*> summaries, InterruptionProbe* interrupt,
                      const std::vector<double*>* rows, int variableCount, bool writeRows);

    // The criteria collected by ComputeCriteria, one per present summary of every pass.
    std::vector<double> GetCriteria() override { return criteria; }
    void Prepare() override {}
    bool WritesRowsInAnyOrder() const override { return true; }
    // Predicts every target for k = 1 ... its K and accumulates the error of the prediction
    // from its K nearest neighbours.
    VelCommon_940::VelStatus ProcessCase(NeighborList& list, const double* row) override;
    // Writes row `number` of every target's tables; rows may come in any order.
    void WriteCase(const NeighborList& list, const double* row, size_t number) override;

    // The same on several threads: ProcessCase's work with a thread's own summaries and
    // predictions, and the rows' texts made by the threads and stored by the calling thread.
    VelCommon_940::VelStatus RowTerms(std::span<KNNPredictionSummary* const> own,
                                      NeighborList& list, const double* row, double* terms,
                                      int lane) override;
    void PrepareRowSlots(int lanes, size_t slots) override;
    void FormatRow(int lane, size_t slot, const NeighborList& list, const double* row,
                   size_t number) override;
    void StoreRows(size_t count) override;

    // Prepares a scoring pass over the targets of the current summary list (in that order):
    // their K, the case-identifier column and name, which targets are continuous, the category
    // texts of each target, and their tables (not owned; a continuous target's probability
    // table is null, and so are all of them when no rows are written). Sets the tables'
    // column names and numbers their rows, one per training case.
    void Initialise(bool noPredictions, const std::vector<std::string>& responseNames,
                    const std::vector<int>& kPerTarget, int caseIdColumn,
                    const std::string& caseIdName, const std::vector<bool>& continuousTarget,
                    const std::vector<std::vector<std::string>>& categoryTexts,
                    std::vector<KNNPMML_800::KNNXMLArchiveElement*>* neighbourTables,
                    std::vector<KNNPMML_800::KNNXMLArchiveElement*>* probabilityTables);
    // Appends the criterion of every present summary of the pass just scored.
    void ComputeCriteria();

private:
    void AppendCaseId(std::string& text, const double* row) const;
    // The texts of row `number` from `list` and the targets' `predictions`: per target t, its
    // neighbour row in out[2t] and its probability row in out[2t + 1].
    void FormatTexts(const NeighborList& list, const double* row, size_t number,
                     const std::vector<std::vector<double>>& predictions,
                     std::vector<std::string>& out) const;
    // Stores the texts made by FormatTexts for row `number` in the tables that take them.
    void StoreTexts(size_t number, const std::vector<std::string>& texts);

    const std::vector<double*>* rows;
    std::vector<double> criteria;
    int variableCount;
    std::vector<int> kPerTarget;
    std::vector<KNNPMML_800::KNNXMLArchiveElement*>* neighbourTables = nullptr;
    std::vector<KNNPMML_800::KNNXMLArchiveElement*>* probabilityTables = nullptr;
    std::vector<bool> continuousTarget;
    std::vector<int> categoryCounts;
    int caseIdColumn = -1;
    bool noPredictions = false;
    std::vector<std::vector<double>> predictions;  // per target, the case being written
    std::vector<std::string> texts;                // its rows under construction
    // Several threads: per thread, its predictions of the case in hand; per slot of a wave,
    // a case's row number and texts.
    std::vector<std::vector<std::vector<double>>> lanePredictions;
    std::vector<size_t> slotNumbers;
    std::vector<std::vector<std::string>> slotTexts;
};

}  // namespace KNN_800
