// A continuous field of the prepared data. A used predictor is rescaled so that its declared
// range maps onto -1 ... 1 (values outside the range land outside it, unclipped) when the
// analysis normalises; targets, the case identifier and the focal field keep their raw values.
#pragma once

#include <cstddef>
#include <vector>

#include "Record.h"
#include "VelStatus.h"
#include "VelVarList.h"
#include "knn/data/IKNNVariable.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNContVariable : public IKNNVariable {
public:
    // Reads the declared range of the dictionary field at `index`.
    KNNContVariable(const KNNSettings& settings, const VelXML_940::VelVarList& dictionary,
                    int index);
    ~KNNContVariable() override = default;

    // An unused field appends its raw value (even a missing one); a used one appends the coded
    // value and tracks constancy. 200048 for a missing value of a used field.
    VelCommon_940::VelStatus AddTrainingValue(const VelCommon_940::Record& record,
                                              std::vector<double>& data) override;
    bool CodeValue(const VelCommon_940::Record& record, std::vector<double>& row) override;
    const std::vector<int>* GetCategoryCounts() const override { return nullptr; }
    void SetUsed(bool isUsed) override { used = isUsed; }
    bool IsInvalidValue(const VelCommon_940::Record& record) const override;
    bool IsConstant() const override { return constant; }

    // The value as stored in the prepared data: 2t - 1 with t = (value - min) / (max - min)
    // when rescaling, else unchanged.
    double Coded(double value) const;
    // 2t - 1 with t = (value - min) / (max - min): a value rescaled onto -1 ... 1 by the range.
    static double Rescaled(double value, double min, double max) {
        const double t = (value - min) / (max - min);
        return 2.0 * t - 1.0;
    }

    int Index() const { return index; }
    bool IsUsed() const { return used; }
    bool IsRescaled() const { return rescale; }
    double Min() const { return min; }
    double Max() const { return max; }

    void Display() const;

private:
    double min = 0.0;
    double max = 0.0;
    int index;
    bool rescale = false;
    bool constant = true;
    bool used = false;
    double firstValue;  // the missing value until a value was seen
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
