#include "knn/data/KNNCatVariable.h"

#include <cmath>

#include "VelDisplay.h"
#include "knn/base/CategoryCode.h"
#include "knn/base/StatusCodes.h"

namespace KNN_800 {

KNNCatVariable::KNNCatVariable(const KNNSettings& settings,
                               const VelXML_940::VelVarList& dictionary, int index)
    : index(index) {
    const VelXML_940::IVelVariable* variable = dictionary.GetVarAt(index);
    if (variable != nullptr && variable->GetCategoryCount() > 0) {
        categoryCount = variable->GetCategoryCount();
    }
    counts.assign(static_cast<size_t>(categoryCount), 0);
    isCaseLabel = settings.CaseLabelVariable == index;
}

bool KNNCatVariable::IsCategory(double value) const {
    return value >= 0.0 && value < static_cast<double>(categoryCount) && value == std::floor(value);
}

bool KNNCatVariable::IsInvalidValue(const VelCommon_940::Record& record) const {
    if (!used || isCaseLabel) {
        return false;
    }
    return !IsCategory(record[index]);
}

VelCommon_940::VelStatus KNNCatVariable::AddTrainingValue(const VelCommon_940::Record& record,
                                                          std::vector<double>& data) {
    const double value = record[index];
    if (!used) {
        data.push_back(value);
        return VelCommon_940::VelStatus();
    }
    if (IsInvalidValue(record)) {
        return Error(Code::InvalidTrainingValue);
    }
    if (constant) {
        if (firstValue == -1) {
            firstValue = CategoryCode(value);
        } else if (value != static_cast<double>(firstValue)) {
            constant = false;
        }
    }
    data.push_back(value);
    // A case label is a code of the host's label list, not a category of the analysis; it
    // was not range-checked, so it must not index the counts.
    if (!isCaseLabel) {
        ++counts[static_cast<size_t>(value)];
    }
    return VelCommon_940::VelStatus();
}

bool KNNCatVariable::CodeValue(const VelCommon_940::Record& record, std::vector<double>& row) {
    if (index < 0 || static_cast<size_t>(index) >= row.size() || index >= record.Size()) {
        return false;
    }
    const double value = record[index];
    if (used && !isCaseLabel && !IsCategory(value)) {
        return false;
    }
    row[static_cast<size_t>(index)] = value;
    return true;
}

void KNNCatVariable::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNCatVariable display start");
    DisplayI("Index", index);
    DisplayI("Category count", categoryCount);
    DisplayB("Used", used);
    DisplayB("Case label", isCaseLabel);
    DisplayB("Constant", constant);
    DisplayI("First value", firstValue);
    DisplayIV("Category counts", counts);
    DisplayI("Status", static_cast<int>(status.GetErrorCode()));
    DisplayText(level, "KNNCatVariable display end");
}

}  // namespace KNN_800
