// The factory a host obtains from GetVelFactory: it turns settings documents into algorithms
// and keeps the outcome of the last attempt.
#pragma once

#include <iosfwd>
#include <vector>

#include "IVelAlgorithm.h"
#include "VelVarList.h"
#include "knn/base/Export.h"

namespace KNN_800 {

class KNN_EXPORT KNNFactory : public VelCommon_940::IVelFactory {
public:
    KNNFactory();
    KNNFactory(const KNNFactory& other);
    KNNFactory& operator=(const KNNFactory& other);
    ~KNNFactory() override;

    // Null, with status 3, also when an exception stops the construction.
    VelCommon_940::IVelAlgorithm* CreateVelAlgorithm(std::istream& settings) noexcept override;
    // Without the memory to copy the status's text and data, only its code.
    VelCommon_940::VelStatus GetStatus() const noexcept override;
    // As above; `creationDictionary` (not owned, may be null) supplies the full category list
    // of the case-label field.
    VelCommon_940::IVelAlgorithm* CreateVelAlgorithm(
        std::istream& settings, VelXML_940::VelVarList* creationDictionary) noexcept;
    // A copy of the process-wide warning list; empty without the memory for it.
    std::vector<VelCommon_940::VelStatus> GetWarnings() const noexcept;

private:
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
