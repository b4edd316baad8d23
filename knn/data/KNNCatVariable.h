// A categorical field of the prepared data: values are category codes 0 ... n-1 (-1 missing).
// Counts the categories of the valid training cases and notices a field that never varies.
// The case-label field only labels cases: any code is accepted and none is counted.
#pragma once

#include <cstddef>
#include <vector>

#include "Record.h"
#include "VelStatus.h"
#include "VelVarList.h"
#include "knn/data/IKNNVariable.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

class KNNCatVariable : public IKNNVariable {
public:
    // Reads the number of categories of the dictionary field at `index`.
    KNNCatVariable(const KNNSettings& settings, const VelXML_940::VelVarList& dictionary,
                   int index);
    ~KNNCatVariable() override = default;

    // An unused field appends its raw value; a used one appends the category code, tracks
    // constancy and counts the code (except for the case-label field). 200048 for a code that
    // is not usable.
    VelCommon_940::VelStatus AddTrainingValue(const VelCommon_940::Record& record,
                                              std::vector<double>& data) override;
    bool CodeValue(const VelCommon_940::Record& record, std::vector<double>& row) override;
    const std::vector<int>* GetCategoryCounts() const override { return &counts; }
    void SetUsed(bool isUsed) override { used = isUsed; }
    // Only a used field other than the case label can make a case invalid: by a code outside
    // 0 ... n-1 (missing -1, too large, negative, fractional or not a number).
    bool IsInvalidValue(const VelCommon_940::Record& record) const override;
    bool IsConstant() const override { return constant; }

    int CategoryCount() const { return categoryCount; }
    int Index() const { return index; }
    bool IsUsed() const { return used; }
    bool IsCaseLabel() const { return isCaseLabel; }

    void Display() const;

private:
    // True when `value` is a whole number in 0 ... categoryCount-1, i.e. may index `counts`.
    bool IsCategory(double value) const;

    std::vector<int> counts;
    int categoryCount = 0;
    int index;
    bool constant = true;
    bool used = false;
    int firstValue = -1;  // -1 until a value was seen
    bool isCaseLabel = false;
    VelCommon_940::VelStatus status;
};

}  // namespace KNN_800
