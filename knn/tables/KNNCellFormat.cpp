#include "knn/tables/KNNCellFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

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

// An order of the finite doubles as integers: a < b exactly when Key(a) < Key(b).
int64_t Key(double value) {
    int64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits >= 0 ? bits : std::numeric_limits<int64_t>::min() - bits;
}

double FromKey(int64_t key) {
    const int64_t bits = key >= 0 ? key : std::numeric_limits<int64_t>::min() - key;
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A value that the range [min, max] rescales to exactly `coded`. Rescaling is monotone, so
// when the value mapped back by the inverse formula misses by a rounding, the doubles around
// it are searched by bisection; a value that rescales to `coded` always exists, since `coded`
// was made by rescaling one.
double Preimage(double coded, double min, double max, double guess) {
    const auto rescaled = [min, max](int64_t key) {
        return KNNContVariable::Rescaled(FromKey(key), min, max);
    };
    if (!std::isfinite(guess) || KNNContVariable::Rescaled(guess, min, max) == coded) {
        return guess;
    }
    int64_t low = Key(guess);
    int64_t high = low;
    const bool below = KNNContVariable::Rescaled(guess, min, max) < coded;
    // Widen the bracket until it holds `coded`: [low, high] with rescaled(low) < coded and
    // rescaled(high) >= coded.
    for (int64_t step = 1; step > 0 && step < (int64_t{1} << 62); step *= 2) {
        if (below) {
            high = low + step;
            if (!std::isfinite(FromKey(high)) || rescaled(high) >= coded) {
                break;
            }
            low = high;
        } else {
            low = high - step;
            if (!std::isfinite(FromKey(low)) || rescaled(low) < coded) {
                break;
            }
            high = low;
        }
    }
    while (high - low > 1) {
        const int64_t middle = low + (high - low) / 2;
        (rescaled(middle) < coded ? low : high) = middle;
    }
    return rescaled(high) == coded ? FromKey(high) : guess;
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
            AppendNumber(out, Unscaled(value, column));
        } else if (VelMV::IsMissing(value) ||
                   (column.values != nullptr && column.values->IsMissingValue(value))) {
            AppendDouble(out, VelMV::Missing());
        } else {
            AppendNumber(out, value);
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
            std::string text;
            if (column.rescaled && !VelMV::IsMissing(value)) {
                AppendNumber(text, Unscaled(value, column));
            } else if (VelMV::IsMissing(value) ||
                       (values != nullptr && values->IsMissingValue(value))) {
                AppendDouble(text, VelMV::Missing());
            } else {
                AppendNumber(text, value);
            }
            return text;
        }
        case VelXML_940::kNumericCategorical: {
            // Not a category (a missing value): the host's missing value.
            std::string text;
            AppendNumber(text, values != nullptr ? values->GetNumericValue(CategoryCode(value))
                                                 : VelMV::Missing());
            return text;
        }
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

void KNNCellFormat::SetExact(bool exactNumbers) {
    exact = exactNumbers;
    for (size_t f = 0; f < columns.size(); ++f) {
        Column& column = columns[f];
        if (column.exists && column.kind != VelXML_940::kContinuous) {
            column.categoryTexts = CategoryTexts(static_cast<int>(f));
        }
    }
}

void KNNCellFormat::AppendNumber(std::string& out, double value) const {
    if (exact) {
        AppendExactDouble(out, value);
    } else {
        AppendDouble(out, value);
    }
}

double KNNCellFormat::Unscaled(double value, const Column& column) const {
    const double guess = (column.max - column.min) * (value + 1.0) * 0.5 + column.min;
    if (!exact) {
        return guess;
    }
    // The value of the guess's 15-digit text, when the range rescales it to `value`, keeps
    // the text of the inexact form (the guess itself is often a rounding away from the value
    // that was read, such as 5.1000000000000005 for 5.1).
    double rounded = 0.0;
    const std::string text = FormatDouble(guess);
    if (std::from_chars(text.data(), text.data() + text.size(), rounded).ptr ==
            text.data() + text.size() &&
        KNNContVariable::Rescaled(rounded, column.min, column.max) == value) {
        return rounded;
    }
    return Preimage(value, column.min, column.max, guess);
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
