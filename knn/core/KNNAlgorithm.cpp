#include "knn/core/KNNAlgorithm.h"

#include <ostream>
#include <string>

#include "VelDisplay.h"
#include "knn/core/KNNWarning.h"
#include "knn/core/StatusCodes.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/model/KNNModel.h"
#include "knn/pmml/KNNPMMLWriter.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNAlgorithm::KNNAlgorithm(std::istream& settingsDocument,
                           VelXML_940::VelVarList* creationDictionary)
    : creationDictionary(creationDictionary) {
    KNNWarning::Instance().Clear();
    status = reader.Read(settingsDocument);
    if (!status.IsError()) {
        settings = reader.Settings();
        dictionary = reader.Dictionary();
    }
}

KNNAlgorithm::~KNNAlgorithm() {
    delete model;
    delete preparation;
}

VelStatus KNNAlgorithm::Build(VelCommon_940::RecordSource& source) {
    VelStatus result = status;
    KNNWarning::Instance().Clear();
    if (result.IsError()) {
        return result;  // an earlier failure (or unreadable settings) stands
    }
    // A model whose data are about to be replaced must never be scored again, even if this
    // build fails half-way.
    built = false;
    if (!source.Reset()) {
        result = Error(Code::BadSource);
        result.SetMessage("the record source cannot deliver its records");
    }
    if (!result.IsError()) {
        delete model;
        model = nullptr;
        delete preparation;
        preparation = new KNNDataPreparation(settings, dictionary, &probe, creationDictionary);
        result = preparation->Run(source);
    }
    if (!result.IsError()) {
        model = new KNNModel(settings, preparation, &probe);
        model->SetModelValues(modelValues);
        result = model->Build();
        if (!result.IsError()) {
            built = true;
        }
    }
    status = result;
    return result;
}

VelStatus KNNAlgorithm::Score(const VelCommon_940::Record& record, void* options,
                              std::vector<std::vector<double>>& result) {
    if (!built) {
        VelStatus notBuilt = Error(Code::NotBuilt);
        notBuilt.SetMessage("the model has not been built");
        return notBuilt;
    }
    const auto* scoreOptions = static_cast<const VelCommon_940::ScoreOptions*>(options);
    if (scoreOptions != nullptr && scoreOptions->size != sizeof(VelCommon_940::ScoreOptions)) {
        VelStatus unknown = Error(Code::BadScoreRecord);
        unknown.SetMessage("the score options are not of this component's version (size " +
                           std::to_string(scoreOptions->size) + ")");
        return unknown;
    }
    return model->ScoreRecord(record, result, scoreOptions != nullptr && scoreOptions->perTargetK);
}

VelStatus KNNAlgorithm::Export(std::ostream& out, const VelCommon_940::ExportOptions* options) {
    if (!built) {
        VelStatus notBuilt = Error(Code::NotBuilt);
        notBuilt.SetMessage("the model has not been built");
        return notBuilt;
    }
    // The writer's temporary files are gone once it is destroyed, whatever the outcome.
    KNNPMMLWriter writer(settings, dictionary, model, preparation, &probe);
    return writer.WriteDocument(out, options);
}

void KNNAlgorithm::SetProgressSink(VelCommon_940::ProgressSink* sink) {
    if (settings != nullptr && sink != nullptr) {
        settings->SetProgressSink(sink);
    }
}

void KNNAlgorithm::SetInterruptChecker(VelCommon_940::InterruptChecker* checker) {
    if (checker != nullptr) {
        probe.checker = checker;
    }
}

void KNNAlgorithm::Interrupt() {
    probe.stop.store(true, std::memory_order_relaxed);
}

std::string KNNAlgorithm::GetVersion() {
    return "Nearest Neighbor Component Ver. 1.0 (kd-tree search, build " __DATE__ ")";
}

const std::vector<VelStatus>* KNNAlgorithm::GetWarnings() {
    return &KNNWarning::Instance().List();
}

void KNNAlgorithm::SetModelValues(std::vector<double> values) {
    modelValues = std::move(values);
}

void KNNAlgorithm::Display(std::ostream& out) {
    using namespace VelDisplay_940;
    SetOutStream(out);
    const long level = 1;
    DisplayText(level, "KNNAlgorithm display start");
    if (settings != nullptr) {
        settings->Display();
    }
    if (preparation != nullptr) {
        preparation->Display();
    }
    if (model != nullptr) {
        model->Display();
    }
    DisplayText(level, "KNNAlgorithm display end");
}

}  // namespace KNN_800
