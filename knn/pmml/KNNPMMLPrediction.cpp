#include "knn/pmml/KNNPMMLPrediction.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "knn/predict/KNNPredictionSummary.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;
using VelXML_940::XMLElement;

KNNPMMLPrediction::KNNPMMLPrediction(std::vector<KNNPredictionSummary*> summaries,
                                     InterruptionProbe* interrupt, const std::vector<double*>* rows,
                                     int variableCount)
    : KNNPredictionFactory(std::move(summaries), interrupt, true),
      rows(rows),
      variableCount(variableCount) {}

void KNNPMMLPrediction::Initialise(bool withoutPredictions,
                                   const std::vector<std::string>& /*responseNames*/,
                                   const std::vector<int>& kList, int idColumn,
                                   const std::string& caseIdName,
                                   const std::vector<bool>& continuousList,
                                   const std::vector<std::vector<std::string>>& categoryTexts,
                                   std::vector<XMLElement*>* neighbourList,
                                   std::vector<XMLElement*>* probabilityList) {
    noPredictions = withoutPredictions;
    kPerTarget = kList;
    caseIdColumn = idColumn;
    continuousTarget = continuousList;
    neighbourTables = neighbourList;
    probabilityTables = probabilityList;
    rowNumber = 1;
    predictions.clear();

    const size_t targets = neighbourTables != nullptr ? neighbourTables->size() : 0;
    kPerTarget.resize(targets, 0);
    continuousTarget.resize(targets, true);
    categoryCounts.assign(targets, 0);
    for (size_t t = 0; t < targets; ++t) {
        const int K = kPerTarget[t];
        std::string header = "ID;" + caseIdName;
        for (int j = 1; j <= K; ++j) {
            header += ";neighbor" + std::to_string(j);
        }
        for (int j = 1; j <= K; ++j) {
            header += ";distance" + std::to_string(j);
        }
        if (!noPredictions) {
            for (int j = 1; j <= K; ++j) {
                header += ";prediction" + std::to_string(j);
            }
        }
        AddColumnNames((*neighbourTables)[t], std::move(header));

        if (noPredictions || continuousTarget[t] || t >= categoryTexts.size()) {
            continue;
        }
        categoryCounts[t] = static_cast<int>(categoryTexts[t].size());
        if (probabilityTables != nullptr && t < probabilityTables->size()) {
            std::string probabilities = "ID";
            for (const std::string& category : categoryTexts[t]) {
                probabilities += ";probability-" + category;
            }
            AddColumnNames((*probabilityTables)[t], std::move(probabilities));
        }
    }
}

VelStatus KNNPMMLPrediction::ProcessCase(NeighborList& list, const double* row) {
    // One search may serve several targets with different K: each predicts from its own K
    // nearest neighbours, so its probabilities, errors and confusion counts are those of
    // its model.
    const int found = list.count;
    predictions.resize(summaries.size());
    VelStatus result;
    for (size_t i = 0; i < summaries.size(); ++i) {
        const int k = i < kPerTarget.size() ? std::min(kPerTarget[i], found) : found;
        list.count = k;
        const std::vector<double>& prediction = summaries[i]->PredictAllK(row, list);
        predictions[i].assign(prediction.begin(), prediction.end());
        result = summaries[i]->AccumulateError(row, predictions[i], &errors[i]);
        if (result.IsError()) {
            break;
        }
    }
    list.count = found;
    return result;
}

void KNNPMMLPrediction::AppendCaseId(std::string& out, const double* row) const {
    if (caseIdColumn < 0) {
        return;
    }
    const double value = row[caseIdColumn];
    if (value > static_cast<double>(INT_MIN) - 1.0 && value < static_cast<double>(INT_MAX) + 1.0) {
        out += std::to_string(static_cast<int>(value));
    } else {
        out += FormatDouble(std::trunc(value));
    }
}

void KNNPMMLPrediction::WriteCase(const NeighborList& list, const double* row) {
    const size_t targets = neighbourTables != nullptr ? neighbourTables->size() : 0;
    for (size_t t = 0; t < targets; ++t) {
        const int K = kPerTarget[t];
        // A list shorter than K leaves the missing neighbours' cells empty.
        const int found = std::min(K, list.count);
        text = std::to_string(rowNumber);
        text += ';';
        AppendCaseId(text, row);
        for (int j = 0; j < K; ++j) {
            text += ';';
            if (j < found) {
                AppendCaseId(text, (*rows)[list.entries[static_cast<size_t>(j)].caseIndex]);
            }
        }
        for (int j = 0; j < K; ++j) {
            text += ';';
            if (j < found) {
                text += FormatDouble(list.entries[static_cast<size_t>(j)].distance);
            }
        }
        const std::vector<double>* prediction = t < predictions.size() ? &predictions[t] : nullptr;
        if (!noPredictions) {
            // Continuous: the prediction for each k; categorical: the predicted category for
            // each k, after the category probabilities.
            const size_t first = continuousTarget[t] ? 0 : static_cast<size_t>(categoryCounts[t]);
            for (int j = 0; j < K; ++j) {
                text += ';';
                const size_t at = first + static_cast<size_t>(j);
                if (prediction != nullptr && at < prediction->size()) {
                    text += FormatDouble((*prediction)[at]);
                }
            }
        }
        AddRow((*neighbourTables)[t], text);

        if (noPredictions || continuousTarget[t] || probabilityTables == nullptr ||
            t >= probabilityTables->size() || (*probabilityTables)[t] == nullptr) {
            continue;
        }
        text = std::to_string(rowNumber);
        for (int c = 0; c < categoryCounts[t]; ++c) {
            text += ';';
            if (prediction != nullptr && static_cast<size_t>(c) < prediction->size()) {
                text += FormatDouble((*prediction)[static_cast<size_t>(c)]);
            }
        }
        AddRow((*probabilityTables)[t], text);
    }
    ++rowNumber;
}

void KNNPMMLPrediction::ComputeCriteria() {
    for (size_t i = 0; i < summaries.size(); ++i) {
        if (summaries[i] != nullptr) {
            criteria.push_back(summaries[i]->ErrorFromTotal(errors[i]));
        }
    }
}

}  // namespace KNN_800
