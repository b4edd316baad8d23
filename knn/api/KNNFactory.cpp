#include "knn/api/KNNFactory.h"

#include <memory>
#include <new>

#include "knn/api/KNNAlgorithm.h"
#include "knn/base/KNNWarning.h"
#include "knn/base/StatusCodes.h"

namespace KNN_800 {

using VelCommon_940::VelStatus;

KNNFactory::KNNFactory() = default;
KNNFactory::KNNFactory(const KNNFactory& other) = default;
KNNFactory& KNNFactory::operator=(const KNNFactory& other) = default;
KNNFactory::~KNNFactory() = default;

VelCommon_940::IVelAlgorithm* KNNFactory::CreateVelAlgorithm(std::istream& settings) noexcept {
    return CreateVelAlgorithm(settings, nullptr);
}

VelCommon_940::IVelAlgorithm* KNNFactory::CreateVelAlgorithm(
    std::istream& settings, VelXML_940::VelVarList* creationDictionary) noexcept {
    status = VelStatus();
    std::unique_ptr<KNNAlgorithm> algorithm;
    try {
        algorithm = std::make_unique<KNNAlgorithm>(settings, creationDictionary);
        status = algorithm->GetStatus();
    } catch (...) {
        status = Error(Code::NotConstructed);
        try {
            status.SetMessage("the algorithm object could not be constructed");
        } catch (const std::bad_alloc&) {
        }
    }
    if (status.IsError()) {
        return nullptr;
    }
    // The host owns the algorithm from here on and deletes it through IVelAlgorithm.
    return algorithm.release();
}

VelStatus KNNFactory::GetStatus() const noexcept {
    try {
        return status;
    } catch (const std::bad_alloc&) {
        return VelStatus(status.GetErrorCode(), status.IsWarning());
    }
}

std::vector<VelStatus> KNNFactory::GetWarnings() const noexcept {
    try {
        return KNNWarning::Instance().List();
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace KNN_800

// The one entry point a host looks up by name; null when there is no memory for the factory.
// The host owns the factory it is given and deletes it through IVelFactory.
extern "C" KNN_EXPORT VelCommon_940::IVelFactory* GetVelFactory() {
    return new (std::nothrow) KNN_800::KNNFactory();
}
