#include "knn/tables/KNNCellFormat.h"

#include <algorithm>
#include <cmath>

#include "VelMV.h"
#include "knn/base/CategoryCode.h"
#include "knn/data/KNNContVariable.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelCommon_940::VelMV;

namespace {

// ';' separates cells and '\' escapes: both get a backslash in front.
std::string EscapeCell(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == ';' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

}  // namespace

KNNCellFormat::KNNCellFormat(const KNNDataPreparation& preparation)
    : dictionary(preparation.Dictionary()) {
    // A continuous field is stored rescaled when its prepared variable rescales and the field
    // was in use while the records were read; unused fields keep their raw values.
    const auto& variables = preparation.Variables();
    const std::vector<int>& used = preparation.Settings().UsedVariables;
    columns.resize(static_cast<size_t>(std::max(dictionary.Size(), 0)));
    for (size_t f = 0; f < columns.size(); ++f) {
        const VelXML_940::IVelVariable* variable = dictionary.GetVarAt(static_cast<int>(f));
        Column& column = columns[f];
        column.exists = variable != nullptr;
        if (variable == nullptr) {
            continue;
        }
        column.kind = variable->GetKind();
        column.values = variable->GetValueTable();
        const auto* prepared = f < variables.size()
                                   ? dynamic_cast<const KNNContVariable*>(variables[f].get())
                                   : nullptr;
        const auto* continuous = dynamic_cast<const VelXML_940::VelContVar*>(variable);
        if (prepared != nullptr && prepared->IsRescaled() && continuous != nullptr &&
            std::find(used.begin(), used.end(), static_cast<int>(f)) != used.end()) {
            column.rescaled = true;
            column.min = continuous->GetMin();
            column.max = continuous->GetMax();
        }
    }
    for (size_t f = 0; f < columns.size(); ++f) {
        Column& column = columns[f];
        if (column.exists && column.kind != VelXML_940::kContinuous) {
            column.categoryTexts = CategoryTexts(static_cast<int>(f));
        }
    }
}

std::string KNNCellFormat::Text(double value, int field) const {
    std::string text;
    AppendText(text, value, field);
    return text;
}

void KNNCellFormat::AppendText(std::string& out, double value, int field) const {
    if (field < 0 || static_cast<size_t>(field) >= columns.size()) {
        out += ComputeText(value, field);
        return;
    }
    const Column& column = columns[static_cast<size_t>(field)];
    if (column.kind == VelXML_940::kContinuous) {
        if (!column.exists) {
            return;
        }
        if (column.rescaled && !VelMV::IsMissing(value)) {
            AppendDouble(out, (column.max - column.min) * (value + 1.0) * 0.5 + column.min);
        } else if (VelMV::IsMissing(value) ||
                   (column.values != nullptr && column.values->IsMissingValue(value))) {
            AppendDouble(out, VelMV::Missing());
        } else {
            AppendDouble(out, value);
        }
        return;
    }
    // A whole category number has its text made in advance; anything else is worked out.
    if (value >= 0.0 && value < static_cast<double>(column.categoryTexts.size()) &&
        value == std::floor(value)) {
        out += column.categoryTexts[static_cast<size_t>(value)];
    } else {
        out += ComputeText(value, field);
    }
}

std::string KNNCellFormat::ComputeText(double value, int field) const {
    const VelXML_940::IVelVariable* variable = dictionary.GetVarAt(field);
    if (variable == nullptr) {
        return std::string();
    }
    const VelXML_940::VelValueTable* values = variable->GetValueTable();
    switch (variable->GetKind()) {
        case VelXML_940::kContinuous: {
            const Column& column = columns[static_cast<size_t>(field)];
            // A rescaled value is never missing (cases missing a used field were dropped),
            // and it must not be compared with missing values declared in raw units.
            if (column.rescaled && !VelMV::IsMissing(value)) {
                return FormatDouble((column.max - column.min) * (value + 1.0) * 0.5 + column.min);
            }
            if (VelMV::IsMissing(value) || (values != nullptr && values->IsMissingValue(value))) {
                return FormatDouble(VelMV::Missing());
            }
            return FormatDouble(value);
        }
        case VelXML_940::kNumericCategorical:
            // Not a category (a missing value): the host's missing value.
            return FormatDouble(values != nullptr ? values->GetNumericValue(CategoryCode(value))
                                                  : VelMV::Missing());
        case VelXML_940::kStringCategorical: {
            std::string text;
            if (value == -1.0 || values == nullptr || values->IsMissingText(FormatDouble(value)) ||
                !values->GetValueText(text, CategoryCode(value))) {
                return "-1";
            }
            return EscapeCell(text);
        }
        default:
            return std::string();
    }
}

std::vector<std::string> KNNCellFormat::CategoryTexts(int field) const {
    std::vector<std::string> texts;
    const VelXML_940::IVelVariable* variable = dictionary.GetVarAt(field);
    const int count = variable != nullptr ? variable->GetCategoryCount() : 0;
    for (int k = 0; k < count; ++k) {
        texts.push_back(ComputeText(static_cast<double>(k), field));
    }
    return texts;
}

}  // namespace KNN_800
