// Checks on the prepared training data before any model is built: enough cases, every fold
// populated when K is chosen by cross-validation, no constant feature, and K no larger than
// the number of cases minus one (lowered in the settings with a warning).
#pragma once

#include "VelStatus.h"
#include "VelVarList.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNDataPreparation;

class KNNValidateInput {
public:
    // Checks the data of `preparation` and adjusts the settings of its build.
    explicit KNNValidateInput(KNNDataPreparation& preparation);
    virtual ~KNNValidateInput() = default;
    virtual VelCommon_940::VelStatus GetStatus() const { return status; }
    virtual void Display() const;

    // Runs the checks in order and stops at the first error. A constant feature's status
    // carries the index of the first constant feature as discrete datum 0. A lowered K gives
    // a warning that is also added to the process-wide warning list.
    VelCommon_940::VelStatus Validate();

private:
    void CheckCaseCount(int caseCount);
    void CheckFolds();
    void CheckConstantFeatures();
    void AdjustK(int caseCount);

    KNNSettings& settings;
    KNNDataPreparation& preparation;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
