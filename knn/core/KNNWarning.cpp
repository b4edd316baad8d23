#include "knn/core/KNNWarning.h"

namespace KNN_800 {

KNNWarning& KNNWarning::Instance() {
    // Never destroyed while the library is loaded, so no caller can see it die.
    static KNNWarning* instance = new KNNWarning();
    return *instance;
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
