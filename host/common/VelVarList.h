// The variable dictionary: one entry per field of the data, in field order, with its kind,
// name, label, format, declared range (continuous) or categories (categorical), and the values
// that count as missing.
#pragma once

#include <cfloat>
#include <string>
#include <unordered_map>
#include <vector>

#include "VelExport.h"

namespace VelXML_940 {

// Field kinds as GetKind reports them.
enum VelKind : int { kContinuous = 1, kNumericCategorical = 2, kStringCategorical = 3 };

// Format codes that change how a field is typed in a model document.
enum VelFormat : int { kFormatNone = 0, kFormatDate = 4, kFormatTime = 5, kFormatDateTime = 6 };

// One category of a categorical field.
struct VelCategory {
    std::string text;      // value as text ("setosa", or "2" for a numeric category)
    double numeric = 0.0;  // numeric value (meaningful for numeric categories)
    std::string label;     // optional display label; empty when none
};

// Category values of a field plus the values declared missing.
class VEL_API VelValueTable {
public:
    VelValueTable() = default;
    VelValueTable(std::vector<VelCategory> categories, std::vector<double> missingValues,
                  std::vector<std::string> missingTexts);

    bool IsMissingValue(double value) const;
    bool IsMissingText(const std::string& text) const;
    // Category `k` as text; empty text (and false) outside the category range.
    bool GetValueText(std::string& text, int k) const;
    // Numeric value of category `k`; the host missing value outside the range.
    double GetNumericValue(int k) const;

    int Size() const { return static_cast<int>(categories_.size()); }
    const std::vector<VelCategory>& Categories() const { return categories_; }
    const std::vector<double>& MissingValues() const { return missingValues_; }
    const std::vector<std::string>& MissingTexts() const { return missingTexts_; }
    void SetMissing(std::vector<double> values, std::vector<std::string> texts);
    // The category whose text is `text`, or -1.
    int FindText(const std::string& text) const;
    // The category whose numeric value is `value`, or -1.
    int FindNumeric(double value) const;

private:
    std::vector<VelCategory> categories_;
    std::vector<double> missingValues_;
    std::vector<std::string> missingTexts_;
};

// Display labels of a field's categories; the list may be shorter than the category count
// (it ends at the last category that has a label).
class VEL_API VelCategoryLabels {
public:
    explicit VelCategoryLabels(const VelValueTable* table = nullptr) : table_(table) {}
    std::vector<std::string> GetLabels() const;
    bool GetValueText(std::string& text, int k) const;

private:
    const VelValueTable* table_;
};

class VEL_API IVelVariable {
public:
    virtual ~IVelVariable();
    virtual int GetKind() const = 0;
    virtual void GetName(std::string& name) const;
    virtual void GetLabel(std::string& label) const;
    virtual int GetCategoryCount() const;
    virtual int GetFormat() const;
    virtual const VelValueTable* GetValueTable() const;
    virtual const VelCategoryLabels* GetCategoryLabels() const;

    const std::string& Name() const { return name_; }
    void SetLabel(const std::string& label) { label_ = label; }
    void SetFormat(int format) { format_ = format; }
    VelValueTable& ValueTable() { return table_; }

protected:
    IVelVariable(std::string name, VelValueTable table);
    IVelVariable(const IVelVariable& other);
    IVelVariable& operator=(const IVelVariable& other);

private:
    std::string name_;
    std::string label_;
    int format_ = kFormatNone;
    VelValueTable table_;
    VelCategoryLabels labels_;
};

class VEL_API VelContVar : public IVelVariable {
public:
    explicit VelContVar(std::string name, double min = -DBL_MAX, double max = DBL_MAX);
    int GetKind() const override { return kContinuous; }
    // Declared range; -DBL_MAX / DBL_MAX when none was declared.
    double GetMin() const { return min_; }
    double GetMax() const { return max_; }
    void SetRange(double min, double max);

private:
    double min_;
    double max_;
};

class VEL_API VelCatVar : public IVelVariable {
public:
    // `kind` is kNumericCategorical or kStringCategorical.
    VelCatVar(std::string name, int kind, std::vector<VelCategory> categories);
    VelCatVar(const VelCatVar& other) = default;
    VelCatVar& operator=(const VelCatVar& other);
    int GetKind() const override { return kind_; }

private:
    int kind_;
};

class VEL_API VelVarList {
public:
    VelVarList() = default;
    VelVarList(const VelVarList&) = delete;
    VelVarList& operator=(const VelVarList&) = delete;
    virtual ~VelVarList();

    int Size() const { return static_cast<int>(vars_.size()); }
    // The variable at `index`, or null outside the list.
    IVelVariable* GetVarAt(int index) const;
    // The index of the first field named `name`, or -1; constant time. A variable's name must
    // not change (by assignment) while it is in the list.
    int FindVariable(const std::string& name) const;
    // Takes ownership, also when adding fails (it is then deleted); returns the new variable's
    // index.
    int Add(IVelVariable* variable);
    void Clear();

private:
    std::vector<IVelVariable*> vars_;
    // Name to the index of the first variable of that name, kept in step by Add and Clear.
    std::unordered_map<std::string, int> indexByName_;
};

}  // namespace VelXML_940
