#include "knn/api/KNNModel.h"

#include <algorithm>
#include <cmath>

#include "VelDisplay.h"
#include "VelMV.h"
#include "knn/base/StageReport.h"
#include "knn/base/StatusCodes.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/search/kdtree/KNNKdTree.h"
#include "knn/selection/KNNModelSelection.h"

namespace KNN_800 {

using VelCommon_940::Record;
using VelCommon_940::VelStatus;

KNNModel::KNNModel(KNNDataPreparation& preparation, RunContext& context)
    : settings(preparation.Settings()),
      preparation(preparation),
      context(context),
      inputFieldCount(settings.TotalVarNum),
      caseIdColumn(settings.CaseIDVariable),
      caseLabelColumn(settings.CaseLabelVariable) {}

// The selection refers to the models: it goes first.
KNNModel::~KNNModel() {
    selection.reset();
}

void KNNModel::AddModel(int target, bool continuous) {
    owned.push_back(std::make_unique<KNNSingleResponseModel>(preparation, target, continuous));
    models.push_back(owned.back().get());
}

void KNNModel::CreateModels() {
    targetCount = static_cast<int>(settings.CatResponses.size() + settings.ContResponses.size());
    if (targetCount == 0) {
        AddModel(-1, false);
        return;
    }
    for (int target : settings.CatResponses) {
        AddModel(target, false);
    }
    for (int target : settings.ContResponses) {
        AddModel(target, true);
    }
}

VelStatus KNNModel::Build() {
    status = VelStatus();
    CreateModels();
    selectModel = targetCount > 0;
    sharedTree = targetCount < 2 || !(settings.IsFeaSelection || settings.IsFeaWeight);

    if (selectModel) {
        StartStage(context);
        selection = std::make_unique<KNNModelSelection>(settings, context, models);
        if (!modelValues.empty()) {
            selection->SetModelValues(modelValues);
        }
        status = selection->Run();
        EndStage(context, "modelSelection");
    }
    if (status.IsOK()) {
        StartStage(context);
        status = BuildTrees();
        EndStage(context, "buildModel");
    }
    if (status.IsOK()) {
        maxK = models.front()->GetK();
        if (sharedTree) {
            for (const KNNSingleResponseModel* model : models) {
                maxK = std::max(maxK, model->GetK());
            }
        }
        std::vector<int> usedFeatures;
        for (const KNNSingleResponseModel* model : models) {
            usedFeatures.insert(usedFeatures.end(), model->Features().begin(),
                                model->Features().end());
        }
        std::sort(usedFeatures.begin(), usedFeatures.end());
        usedFeatures.erase(std::unique(usedFeatures.begin(), usedFeatures.end()),
                           usedFeatures.end());
        preparation.MarkUsed(usedFeatures);
        built = true;
    }
    return status;
}

VelStatus KNNModel::BuildTrees() {
    if (sharedTree) {
        return models.front()->BuildTree();
    }
    for (KNNSingleResponseModel* model : models) {
        const VelStatus built = model->BuildTree();
        if (!built.IsOK()) {
            return built;
        }
    }
    return VelStatus();
}

VelStatus KNNModel::ScoreRecord(const Record& record, std::vector<std::vector<double>>& result,
                                bool perTargetK) {
    if (record.Size() != inputFieldCount) {
        VelStatus wrong = Error(Code::BadScoreRecord);
        wrong.SetMessage("the record has " + std::to_string(record.Size()) +
                         " fields; the dictionary has " + std::to_string(inputFieldCount));
        return wrong;
    }
    scoreRow.assign(static_cast<size_t>(inputFieldCount), 0.0);
    const auto& variables = preparation.Variables();
    for (size_t field = 0; field < variables.size(); ++field) {
        if (!variables[field]->CodeValue(record, scoreRow)) {
            VelStatus refused = Error(Code::BadScoreRecord);
            refused.SetMessage("the record's value of field " + std::to_string(field) +
                               " cannot be used");
            refused.SetDiscreteDatum(0, static_cast<long>(field));
            return refused;
        }
    }
    // A record without an identifier may coincide with a training case and then finds it at
    // distance 0; a record with one never finds its own training case.
    const bool includeSelf =
        VelCommon_940::VelMV::IsMissing(scoreRow[static_cast<size_t>(caseIdColumn)]);

    std::vector<std::vector<double>> out(static_cast<size_t>(std::max(targetCount, 1)));
    const double* row = scoreRow.data();
    if (!sharedTree) {
        for (size_t i = 0; i < models.size(); ++i) {
            KNNSingleResponseModel& model = *models[i];
            NeighborList& list = *model.Tree()->Search(row, model.GetK(), includeSelf);
            if (list.count == 0) {
                return model.Tree()->NoNeighbourStatus(row);
            }
            AppendResult(list, &model.Summary()->PredictAllK(row, list), out[i]);
        }
    } else {
        NeighborList& list = *models.front()->Tree()->Search(row, maxK, includeSelf);
        if (list.count == 0) {
            return models.front()->Tree()->NoNeighbourStatus(row);
        }
        const int searched = list.count;
        for (size_t i = 0; i < models.size(); ++i) {
            // The list is sorted nearest first, so a target's own K nearest are its first K
            // entries; the votes for k up to that K are the same as in the whole list.
            list.count = perTargetK ? std::min(searched, models[i]->GetK()) : searched;
            KNNPredictionSummary* summary = models[i]->Summary();
            AppendResult(list, summary != nullptr ? &summary->PredictAllK(row, list) : nullptr,
                         out[i]);
        }
        list.count = searched;
    }
    result = std::move(out);
    return VelStatus();
}

void KNNModel::AppendResult(const NeighborList& list, const std::vector<double>* predictions,
                            std::vector<double>& out) const {
    const std::vector<double*>& rows = preparation.Rows();
    const int n = list.count;
    out.clear();
    out.reserve(static_cast<size_t>(3 * n) + (predictions ? predictions->size() : 0));
    for (int j = 0; j < n; ++j) {
        out.push_back(std::trunc(rows[list.entries[j].caseIndex][caseIdColumn]));
    }
    for (int j = 0; j < n; ++j) {
        out.push_back(list.entries[j].distance);
    }
    if (predictions != nullptr) {
        out.insert(out.end(), predictions->begin(), predictions->end());
    }
    for (int j = 0; j < n; ++j) {
        out.push_back(caseLabelColumn >= 0 ? rows[list.entries[j].caseIndex][caseLabelColumn]
                                           : VelCommon_940::VelMV::Missing());
    }
}

void KNNModel::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNModel display start");
    if (sharedTree && !models.empty()) {
        models.front()->Display();
    } else {
        for (const KNNSingleResponseModel* model : models) {
            model->Display();
        }
    }
    DisplayI("maximum number of K", maxK);
    DisplayI("number of response", targetCount);
}

}  // namespace KNN_800
