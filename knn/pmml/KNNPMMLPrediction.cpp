#include "knn/pmml/KNNPMMLPrediction.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "knn/pmml/KNNXMLArchiveElement.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;
using VelXML_940::XMLElement;

KNNPMMLPrediction::KNNPMMLPrediction(std::vector<KNNPredictionSummary*> summaries,
                                     InterruptionProbe* interrupt, const std::vector<double*>* rows,
                                     int variableCount, bool writeRows)
    : KNNPredictionFactory(std::move(summaries), interrupt, writeRows),
      rows(rows),
      variableCount(variableCount) {}

void KNNPMMLPrediction::Initialise(
    bool withoutPredictions, const std::vector<std::string>& /*responseNames*/,
    const std::vector<int>& kList, int idColumn, const std::string& caseIdName,
    const std::vector<bool>& continuousList,
    const std::vector<std::vector<std::string>>& categoryTexts,
    std::vector<KNNPMML_800::KNNXMLArchiveElement*>* neighbourList,
    std::vector<KNNPMML_800::KNNXMLArchiveElement*>* probabilityList) {
    noPredictions = withoutPredictions;
    kPerTarget = kList;
    caseIdColumn = idColumn;
    continuousTarget = continuousList;
    neighbourTables = neighbourList;
    probabilityTables = probabilityList;
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
        if ((*neighbourTables)[t] != nullptr) {
            (*neighbourTables)[t]->NumberRows(rows->size());
        }

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
            if ((*probabilityTables)[t] != nullptr) {
                (*probabilityTables)[t]->NumberRows(rows->size());
            }
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
        AppendDouble(out, std::trunc(value));
    }
}

void KNNPMMLPrediction::WriteCase(const NeighborList& list, const double* row, size_t number) {
    FormatTexts(list, row, number, predictions, texts);
    StoreTexts(number, texts);
}

void KNNPMMLPrediction::FormatTexts(const NeighborList& list, const double* row, size_t number,
                                    const std::vector<std::vector<double>>& predicted,
                                    std::vector<std::string>& out) const {
    const size_t targets = neighbourTables != nullptr ? neighbourTables->size() : 0;
    out.resize(2 * targets);
    for (size_t t = 0; t < targets; ++t) {
        std::string& text = out[2 * t];
        std::string& probabilities = out[2 * t + 1];
        text.clear();
        probabilities.clear();
        if ((*neighbourTables)[t] == nullptr) {
            continue;  // a document without case tables: the case is scored, not written
        }
        const int K = kPerTarget[t];
        // A list shorter than K leaves the missing neighbours' cells empty.
        const int found = std::min(K, list.count);
        text = std::to_string(number + 1);
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
                AppendDouble(text, list.entries[static_cast<size_t>(j)].distance);
            }
        }
        const std::vector<double>* prediction = t < predicted.size() ? &predicted[t] : nullptr;
        if (!noPredictions) {
            // Continuous: the prediction for each k; categorical: the predicted category for
            // each k, after the category probabilities.
            const size_t first = continuousTarget[t] ? 0 : static_cast<size_t>(categoryCounts[t]);
            for (int j = 0; j < K; ++j) {
                text += ';';
                const size_t at = first + static_cast<size_t>(j);
                if (prediction != nullptr && at < prediction->size()) {
                    AppendDouble(text, (*prediction)[at]);
                }
            }
        }

        if (noPredictions || continuousTarget[t] || probabilityTables == nullptr ||
            t >= probabilityTables->size() || (*probabilityTables)[t] == nullptr) {
            continue;
        }
        probabilities = std::to_string(number + 1);
        for (int c = 0; c < categoryCounts[t]; ++c) {
            probabilities += ';';
            if (prediction != nullptr && static_cast<size_t>(c) < prediction->size()) {
                AppendDouble(probabilities, (*prediction)[static_cast<size_t>(c)]);
            }
        }
    }
}

void KNNPMMLPrediction::StoreTexts(size_t number, const std::vector<std::string>& out) {
    const size_t targets = neighbourTables != nullptr ? neighbourTables->size() : 0;
    for (size_t t = 0; t < targets && 2 * t + 1 < out.size(); ++t) {
        if ((*neighbourTables)[t] == nullptr) {
            continue;
        }
        (*neighbourTables)[t]->AddRowAt(number, out[2 * t]);
        if (!out[2 * t + 1].empty()) {
            (*probabilityTables)[t]->AddRowAt(number, out[2 * t + 1]);
        }
    }
}

VelStatus KNNPMMLPrediction::RowTerms(std::span<KNNPredictionSummary* const> own,
                                      NeighborList& list, const double* row, double* out,
                                      int lane) {
    std::vector<std::vector<double>>& predicted = lanePredictions[static_cast<size_t>(lane)];
    const int found = list.count;
    predicted.resize(own.size());
    VelStatus result;
    for (size_t i = 0; i < own.size(); ++i) {
        const int k = i < kPerTarget.size() ? std::min(kPerTarget[i], found) : found;
        list.count = k;
        const std::vector<double>& prediction = own[i]->PredictAllK(row, list);
        predicted[i].assign(prediction.begin(), prediction.end());
        out[i] = 0.0;
        result = own[i]->AccumulateError(row, predicted[i], &out[i]);
        if (result.IsError()) {
            break;
        }
    }
    list.count = found;
    return result;
}

void KNNPMMLPrediction::PrepareRowSlots(int lanes, size_t slots) {
    lanePredictions.resize(static_cast<size_t>(lanes));
    if (writeRows) {
        slotNumbers.resize(slots);
        slotTexts.resize(slots);
    }
}

void KNNPMMLPrediction::FormatRow(int lane, size_t slot, const NeighborList& list,
                                  const double* row, size_t number) {
    slotNumbers[slot] = number;
    FormatTexts(list, row, number, lanePredictions[static_cast<size_t>(lane)], slotTexts[slot]);
}

void KNNPMMLPrediction::StoreRows(size_t count) {
    for (size_t slot = 0; slot < count; ++slot) {
        StoreTexts(slotNumbers[slot], slotTexts[slot]);
    }
}

void KNNPMMLPrediction::ComputeCriteria() {
    for (size_t i = 0; i < summaries.size(); ++i) {
        if (summaries[i] != nullptr) {
            criteria.push_back(summaries[i]->ErrorFromTotal(errors[i]));
        }
    }
}

}  // namespace KNN_800
