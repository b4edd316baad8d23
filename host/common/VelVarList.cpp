#include "VelVarList.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "VelMV.h"

namespace VelXML_940 {

// ---------------------------------------------------------------------------------------------
// VelValueTable

VelValueTable::VelValueTable(std::vector<VelCategory> categories, std::vector<double> missingValues,
                             std::vector<std::string> missingTexts)
    : categories_(std::move(categories)),
      missingValues_(std::move(missingValues)),
      missingTexts_(std::move(missingTexts)) {}

bool VelValueTable::IsMissingValue(double value) const {
    if (VelCommon_940::VelMV::IsMissing(value)) {
        return true;
    }
    return std::find(missingValues_.begin(), missingValues_.end(), value) != missingValues_.end();
}

bool VelValueTable::IsMissingText(const std::string& text) const {
    if (text.empty()) {
        return true;
    }
    return std::find(missingTexts_.begin(), missingTexts_.end(), text) != missingTexts_.end();
}

bool VelValueTable::GetValueText(std::string& text, int k) const {
    if (k < 0 || k >= Size()) {
        text.clear();
        return false;
    }
    text = categories_[static_cast<size_t>(k)].text;
    return true;
}

double VelValueTable::GetNumericValue(int k) const {
    if (k < 0 || k >= Size()) {
        return VelCommon_940::VelMV::Missing();
    }
    return categories_[static_cast<size_t>(k)].numeric;
}

void VelValueTable::SetMissing(std::vector<double> values, std::vector<std::string> texts) {
    missingValues_ = std::move(values);
    missingTexts_ = std::move(texts);
}

int VelValueTable::FindText(const std::string& text) const {
    for (size_t k = 0; k < categories_.size(); ++k) {
        if (categories_[k].text == text) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

int VelValueTable::FindNumeric(double value) const {
    for (size_t k = 0; k < categories_.size(); ++k) {
        if (categories_[k].numeric == value) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// VelCategoryLabels

std::vector<std::string> VelCategoryLabels::GetLabels() const {
    std::vector<std::string> labels;
    if (table_ == nullptr) {
        return labels;
    }
    const std::vector<VelCategory>& categories = table_->Categories();
    size_t end = categories.size();
    while (end > 0 && categories[end - 1].label.empty()) {
        --end;
    }
    labels.reserve(end);
    for (size_t k = 0; k < end; ++k) {
        labels.push_back(categories[k].label);
    }
    return labels;
}

bool VelCategoryLabels::GetValueText(std::string& text, int k) const {
    if (table_ == nullptr) {
        text.clear();
        return false;
    }
    return table_->GetValueText(text, k);
}

// ---------------------------------------------------------------------------------------------
// IVelVariable

IVelVariable::IVelVariable(std::string name, VelValueTable table)
    : name_(std::move(name)), table_(std::move(table)), labels_(&table_) {}

// The labels object must read this variable's own table, never the one it was copied from.
IVelVariable::IVelVariable(const IVelVariable& other)
    : name_(other.name_),
      label_(other.label_),
      format_(other.format_),
      table_(other.table_),
      labels_(&table_) {}

IVelVariable& IVelVariable::operator=(const IVelVariable& other) {
    if (this != &other) {
        name_ = other.name_;
        label_ = other.label_;
        format_ = other.format_;
        table_ = other.table_;
        // labels_ is left alone: it already reads this variable's own table.
    }
    return *this;
}

IVelVariable::~IVelVariable() = default;

void IVelVariable::GetName(std::string& name) const {
    name = name_;
}

void IVelVariable::GetLabel(std::string& label) const {
    label = label_;
}

int IVelVariable::GetCategoryCount() const {
    return table_.Size();
}

int IVelVariable::GetFormat() const {
    return format_;
}

const VelValueTable* IVelVariable::GetValueTable() const {
    return &table_;
}

const VelCategoryLabels* IVelVariable::GetCategoryLabels() const {
    return &labels_;
}

// ---------------------------------------------------------------------------------------------
// VelContVar, VelCatVar

VelContVar::VelContVar(std::string name, double min, double max)
    : IVelVariable(std::move(name), VelValueTable()), min_(min), max_(max) {}

void VelContVar::SetRange(double min, double max) {
    min_ = min;
    max_ = max;
}

VelCatVar::VelCatVar(std::string name, int kind, std::vector<VelCategory> categories)
    : IVelVariable(std::move(name), VelValueTable(std::move(categories), {}, {})), kind_(kind) {}

VelCatVar& VelCatVar::operator=(const VelCatVar& other) {
    IVelVariable::operator=(other);
    kind_ = other.kind_;
    return *this;
}

// ---------------------------------------------------------------------------------------------
// VelVarList

VelVarList::~VelVarList() {
    Clear();
}

IVelVariable* VelVarList::GetVarAt(int index) const {
    if (index < 0 || index >= Size()) {
        return nullptr;
    }
    return vars_[static_cast<size_t>(index)];
}

int VelVarList::FindVariable(const std::string& name) const {
    const auto it = indexByName_.find(name);
    return it != indexByName_.end() ? it->second : -1;
}

int VelVarList::Add(IVelVariable* variable) {
    if (variable == nullptr) {
        return -1;
    }
    // The list owns the variable from here on, also when adding it fails.
    std::unique_ptr<IVelVariable> owned(variable);
    vars_.push_back(variable);
    const int index = Size() - 1;
    try {
        indexByName_.emplace(variable->Name(), index);  // a later namesake keeps the first's index
    } catch (...) {
        vars_.pop_back();
        throw;
    }
    owned.release();
    return index;
}

void VelVarList::Clear() {
    for (IVelVariable* variable : vars_) {
        delete variable;
    }
    vars_.clear();
    indexByName_.clear();
}

}  // namespace VelXML_940
