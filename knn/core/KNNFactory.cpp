#include "knn/core/KNNFactory.h"

#include "knn/core/KNNAlgorithm.h"
#include "knn/core/KNNWarning.h"
#include "knn/core/StatusCodes.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNFactory::KNNFactory() = default;
KNNFactory::KNNFactory(const KNNFactory& other) = default;
KNNFactory& KNNFactory::operator=(const KNNFactory& other) = default;
KNNFactory::~KNNFactory() = default;

VelCommon_940::IVelAlgorithm* KNNFactory::CreateVelAlgorithm(std::istream& settings) {
    return CreateVelAlgorithm(settings, nullptr);
}

VelCommon_940::IVelAlgorithm* KNNFactory::CreateVelAlgorithm(
    std::istream& settings, VelXML_940::VelVarList* creationDictionary) {
    status = VelStatus();
    KNNAlgorithm* algorithm = nullptr;
    try {
        algorithm = new KNNAlgorithm(settings, creationDictionary);
    } catch (...) {
        status = Error(Code::NotConstructed);
        status.SetMessage("the algorithm object could not be constructed");
    }
    if (algorithm == nullptr && !status.IsError()) {
        status = Error(Code::NotConstructed);
    }
    if (!status.IsError()) {
        status = algorithm->GetStatus();
    }
    if (status.IsError() && algorithm != nullptr) {
        delete algorithm;
        return nullptr;
    }
    return algorithm;
}

VelStatus KNNFactory::GetStatus() const {
    return status;
}

std::vector<VelStatus> KNNFactory::GetWarnings() const {
    return KNNWarning::Instance().List();
}

}  // namespace KNN_800

// The one entry point a host looks up by name.
extern "C" KNN_EXPORT VelCommon_940::IVelFactory* GetVelFactory() {
    return new KNN_800::KNNFactory();
}
