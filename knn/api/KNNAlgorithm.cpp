#include "knn/api/KNNAlgorithm.h"

#include <new>
#include <ostream>
#include <stdexcept>
#include <string>

#include "VelDisplay.h"
#include "knn/api/KNNModel.h"
#include "knn/base/KNNWarning.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/pmml/KNNPMMLWriter.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

namespace {

// The status of the exception being handled: 200076 when memory ran out (std::bad_alloc, or
// std::length_error from a container asked to grow beyond its limit), else 200077 with the
// exception's text when there is one and memory for it.
VelStatus CaughtStatus() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return Error(Code::OutOfMemory);
    } catch (const std::length_error&) {
        return Error(Code::OutOfMemory);
    } catch (const std::exception& e) {
        VelStatus status = Error(Code::UnexpectedException);
        try {
            status.SetMessage(e.what());
        } catch (const std::bad_alloc&) {
        }
        return status;
    } catch (...) {
        return Error(Code::UnexpectedException);
    }
}

}  // namespace

KNNAlgorithm::KNNAlgorithm(std::istream& settingsDocument,
                           VelXML_940::VelVarList* creationDictionary)
    : creationDictionary(creationDictionary) {
    KNNWarning::Instance().Clear();
    status = reader.Read(settingsDocument);
    if (!status.IsError()) {
        settings = &reader.Settings();
        dictionary = &reader.Dictionary();
    }
}

KNNAlgorithm::~KNNAlgorithm() {
    Discard();
}

void KNNAlgorithm::Discard() noexcept {
    model.reset();
    preparation.reset();
}

VelStatus KNNAlgorithm::Build(VelCommon_940::RecordSource& source) noexcept {
    try {
        return BuildModel(source);
    } catch (...) {
        // A half-built model is of no use, and a later build starts without it.
        built = false;
        Discard();
        return CaughtStatus();
    }
}

VelStatus KNNAlgorithm::BuildModel(VelCommon_940::RecordSource& source) {
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
        Discard();
        preparation = std::make_unique<KNNDataPreparation>(*settings, *dictionary, context,
                                                           creationDictionary);
        result = preparation->Run(source);
    }
    if (!result.IsError()) {
        model = std::make_unique<KNNModel>(*preparation, context);
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
                              std::vector<std::vector<double>>& result) noexcept {
    try {
        return ScoreRecord(record, options, result);
    } catch (...) {
        return CaughtStatus();
    }
}

VelStatus KNNAlgorithm::ScoreRecord(const VelCommon_940::Record& record, void* options,
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

VelStatus KNNAlgorithm::Export(std::ostream& out,
                               const VelCommon_940::ExportOptions* options) noexcept {
    try {
        if (!built) {
            VelStatus notBuilt = Error(Code::NotBuilt);
            notBuilt.SetMessage("the model has not been built");
            return notBuilt;
        }
        // The writer's temporary files are gone once it is destroyed, whatever the outcome.
        KNNPMMLWriter writer(*preparation, model->Models(), model->Selection(), context);
        return writer.WriteDocument(out, options);
    } catch (...) {
        return CaughtStatus();
    }
}

VelStatus KNNAlgorithm::GetStatus() noexcept {
    try {
        return status;
    } catch (const std::bad_alloc&) {
        return VelStatus(status.GetErrorCode(), status.IsWarning());
    }
}

void KNNAlgorithm::SetProgressSink(VelCommon_940::ProgressSink* sink) noexcept {
    if (sink != nullptr) {
        try {
            context.SetProgressSink(sink);
        } catch (const std::bad_alloc&) {
            // The old sink and reporter stay.
        }
    }
}

void KNNAlgorithm::SetInterruptChecker(VelCommon_940::InterruptChecker* checker) noexcept {
    if (checker != nullptr) {
        context.probe.checker = checker;
    }
}

void KNNAlgorithm::Interrupt() noexcept {
    context.probe.stop.store(true, std::memory_order_relaxed);
}

std::string KNNAlgorithm::GetVersion() noexcept {
    try {
        return "Nearest Neighbor Component Ver. 1.0 (kd-tree search, build " __DATE__ ")";
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

const std::vector<VelStatus>* KNNAlgorithm::GetWarnings() noexcept {
    return &KNNWarning::Instance().List();
}

void KNNAlgorithm::SetModelValues(std::vector<double> values) noexcept {
    modelValues = std::move(values);
}

void KNNAlgorithm::Display(std::ostream& out) noexcept {
    using namespace VelDisplay_940;
    try {
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
    } catch (...) {
        // What was written stays; the display simply ends there.
    }
}

}  // namespace KNN_800
