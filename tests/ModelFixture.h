// Reads a settings document, prepares records and builds the model driver directly, so that
// tests can look at the models and the selection stages after a build.
#pragma once

#include <memory>
#include <sstream>

#include "SettingsDocument.h"
#include "knn/api/KNNModel.h"
#include "knn/base/RunContext.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/settings/SettingsReader.h"

namespace knn_test {

struct ModelFixture {
    KNN_800::SettingsReader reader;
    KNN_800::RunContext context;
    std::unique_ptr<KNN_800::KNNDataPreparation> preparation;
    std::unique_ptr<KNN_800::KNNModel> model;

    // Reads the settings and prepares the data; the status of the first failing step.
    VelCommon_940::VelStatus Prepare(const SettingsDocument& document,
                                     VelCommon_940::RecordSource& source) {
        std::istringstream in(document.Xml());
        VelCommon_940::VelStatus status = reader.Read(in);
        if (status.IsError()) {
            return status;
        }
        preparation = std::make_unique<KNN_800::KNNDataPreparation>(
            reader.Settings(), reader.Dictionary(), context, nullptr);
        return preparation->Run(source);
    }

    // Prepare, then build the driver (selection and trees).
    VelCommon_940::VelStatus Build(const SettingsDocument& document,
                                   VelCommon_940::RecordSource& source,
                                   const std::vector<double>& modelValues = {}) {
        VelCommon_940::VelStatus status = Prepare(document, source);
        if (status.IsError()) {
            return status;
        }
        model = std::make_unique<KNN_800::KNNModel>(*preparation, context);
        model->SetModelValues(modelValues);
        return model->Build();
    }

    KNN_800::KNNSingleResponseModel& Model(size_t i) { return *model->Models()[i]; }
};

}  // namespace knn_test
