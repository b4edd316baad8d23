#include "knn/base/KNNWarning.h"

namespace KNN_800 {

KNNWarning& KNNWarning::Instance() {
    // Destroyed when the library is unloaded (or the process ends), after its last caller.
    static KNNWarning instance;
    return instance;
}

void KNNWarning::AddUnique(const VelCommon_940::VelStatus& status) {
    for (const VelCommon_940::VelStatus& listed : warnings) {
        if (listed == status) {
            return;
        }
    }
    warnings.push_back(status);
}

}  // namespace KNN_800
