#include "knn/data/KNNValidateInput.h"

#include <algorithm>

#include "VelDisplay.h"
#include "knn/base/KNNWarning.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNDataPreparation.h"

namespace KNN_800 {

namespace {

// The prepared variable of `field`, or null when the field is not a dictionary position.
const IKNNVariable* VariableAt(const KNNDataPreparation& preparation, int field) {
    const auto& variables = preparation.Variables();
    if (field < 0 || static_cast<size_t>(field) >= variables.size()) {
        return nullptr;
    }
    return variables[static_cast<size_t>(field)].get();
}

}  // namespace

KNNValidateInput::KNNValidateInput(KNNDataPreparation& preparation)
    : settings(preparation.MutableSettings()), preparation(preparation) {}

VelCommon_940::VelStatus KNNValidateInput::Validate() {
    const int caseCount = static_cast<int>(preparation.Rows().size());
    CheckCaseCount(caseCount);
    if (status.IsOK()) {
        CheckFolds();
    }
    if (status.IsOK()) {
        CheckConstantFeatures();
    }
    if (status.IsOK()) {
        AdjustK(caseCount);
    }
    return status;
}

void KNNValidateInput::CheckCaseCount(int caseCount) {
    if (caseCount == 0) {
        status = Error(Code::NoValidCase);
    } else if (caseCount == 1) {
        status = Error(Code::SingleCase);
    }
}

void KNNValidateInput::CheckFolds() {
    // Cross-validated K selection holds each fold out in turn; a fold without cases would be
    // an empty test set. Feature selection runs its own fold handling.
    if (!settings.IsAutoKSelection || settings.IsFeaSelection) {
        return;
    }
    const IKNNVariable* fold = VariableAt(preparation, settings.VFoldVariable);
    const std::vector<int>* counts = fold != nullptr ? fold->GetCategoryCounts() : nullptr;
    if (counts == nullptr) {
        return;
    }
    for (int count : *counts) {
        if (count == 0) {
            status = Error(Code::EmptyFold);
            return;
        }
    }
}

void KNNValidateInput::CheckConstantFeatures() {
    int firstConstant = -1;
    for (int feature : settings.Features) {
        const IKNNVariable* variable = VariableAt(preparation, feature);
        if (variable != nullptr && variable->IsConstant() && firstConstant < 0) {
            firstConstant = feature;
        }
    }
    if (firstConstant >= 0) {
        status = Error(Code::ConstantFeature);
        status.SetDiscreteDatum(0, firstConstant);
    }
}

void KNNValidateInput::AdjustK(int caseCount) {
    // A case is never its own neighbour, so at most caseCount - 1 neighbours exist.
    const int largest = caseCount - 1;
    if (settings.IsAutoKSelection) {
        if (settings.MaxK > largest) {
            settings.MaxK = largest;
            // So few cases that even MinK is too large: the range shrinks to the one K left.
            settings.MinK = std::min(settings.MinK, largest);
            status = Warning(Code::MaxKReduced);
            KNNWarning::Instance().AddUnique(status);
        }
    } else if (settings.SpecifiedK > largest) {
        settings.SpecifiedK = largest;
        status = Warning(Code::SpecifiedKReduced);
        KNNWarning::Instance().AddUnique(status);
    }
}

void KNNValidateInput::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNValidateInput display start");
    DisplayI("Number of dictionary fields", preparation.Dictionary().Size());
    DisplayI("Status", static_cast<int>(status.GetErrorCode()));
    DisplayB("Warning", status.IsWarning());
    DisplayText(level, "KNNValidateInput display end");
}

}  // namespace KNN_800
