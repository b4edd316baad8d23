#include "knn/data/KNNContVariable.h"

#include <algorithm>

#include "VelDisplay.h"
#include "VelMV.h"
#include "knn/base/StatusCodes.h"

namespace KNN_800 {

using VelCommon_940::VelMV;

KNNContVariable::KNNContVariable(const KNNSettings& settings,
                                 const VelXML_940::VelVarList& dictionary, int index)
    : index(index), firstValue(VelMV::Missing()) {
    const auto* variable = dynamic_cast<const VelXML_940::VelContVar*>(dictionary.GetVarAt(index));
    if (variable != nullptr) {
        min = variable->GetMin();
        max = variable->GetMax();
    }
    const std::vector<int>& targets = settings.ContResponses;
    const bool isTarget = std::find(targets.begin(), targets.end(), index) != targets.end();
    rescale = settings.RescaleMethod == 0 && !isTarget && index != settings.CaseIDVariable &&
              index != settings.FocalCaseVariable;
}

double KNNContVariable::Coded(double value) const {
    if (!rescale) {
        return value;
    }
    return Rescaled(value, min, max);
}

bool KNNContVariable::IsInvalidValue(const VelCommon_940::Record& record) const {
    return used && VelMV::IsMissing(record[index]);
}

VelCommon_940::VelStatus KNNContVariable::AddTrainingValue(const VelCommon_940::Record& record,
                                                           std::vector<double>& data) {
    const double value = record[index];
    if (!used) {
        data.push_back(value);
        return VelCommon_940::VelStatus();
    }
    if (VelMV::IsMissing(value)) {
        return Error(Code::InvalidTrainingValue);
    }
    if (constant) {
        if (VelMV::IsMissing(firstValue)) {
            firstValue = value;
        } else if (value != firstValue) {
            constant = false;
        }
    }
    data.push_back(Coded(value));
    return VelCommon_940::VelStatus();
}

bool KNNContVariable::CodeValue(const VelCommon_940::Record& record, std::vector<double>& row) {
    if (index < 0 || static_cast<size_t>(index) >= row.size() || index >= record.Size()) {
        return false;
    }
    const double value = record[index];
    if (!used) {
        row[static_cast<size_t>(index)] = value;
        return true;
    }
    if (VelMV::IsMissing(value)) {
        return false;
    }
    row[static_cast<size_t>(index)] = Coded(value);
    return true;
}

void KNNContVariable::Display() const {
    using namespace VelDisplay_940;
    const long level = 1;
    DisplayText(level, "KNNContVariable display start");
    DisplayI("Index", index);
    DisplayD("Minimum", min);
    DisplayD("Maximum", max);
    DisplayB("Rescaled", rescale);
    DisplayB("Used", used);
    DisplayB("Constant", constant);
    DisplayD("First value", firstValue);
    DisplayI("Status", static_cast<int>(status.GetErrorCode()));
    DisplayText(level, "KNNContVariable display end");
}

}  // namespace KNN_800
