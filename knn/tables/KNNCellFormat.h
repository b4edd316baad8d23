// The text of a field's value in the tables of the model document, in the field's own terms:
// a continuous value as a double (a rescaled predictor mapped back to its declared range, a
// missing value as the host's missing value), a numeric category as its value, a string
// category as its text with ';' and '\' escaped by a backslash ("-1" for none).
#pragma once

#include <string>
#include <vector>

#include "VelVarList.h"
#include "knn/data/KNNDataPreparation.h"

namespace KNN_800 {

class KNNCellFormat {
public:
    // Over the dictionary and the prepared data of one build; neither is owned.
    explicit KNNCellFormat(const KNNDataPreparation& preparation);

    // The text of `value` as stored in the prepared rows for dictionary field `field`.
    std::string Text(double value, int field) const;
    // The same text appended to `out`; a category's text is made once, when the cell format
    // is, so that writing the rows of a table computes only the doubles.
    void AppendText(std::string& out, double value, int field) const;
    // The texts of the categories 0, 1, ... of a categorical field.
    std::vector<std::string> CategoryTexts(int field) const;
    // With `exact`, numbers are written so that each reads back as exactly the double it
    // stands for, and a rescaled value as a value that the range rescales to exactly it
    // (instead of with 15 significant digits).
    void SetExact(bool exact);

private:
    // What the text of a field's values needs, per dictionary field.
    struct Column {
        int kind = VelXML_940::kContinuous;
        bool exists = false;
        bool rescaled = false;  // stored rescaled to -1 ... 1 in the prepared rows
        double min = 0.0;       // the declared range, when rescaled
        double max = 0.0;
        const VelXML_940::VelValueTable* values = nullptr;
        std::vector<std::string> categoryTexts;  // by category number (categorical fields)
    };

    // The text of a value that has no text made in advance.
    std::string ComputeText(double value, int field) const;

    void AppendNumber(std::string& out, double value) const;
    // A value in the field's own units, for a value rescaled by the column's range.
    double Unscaled(double value, const Column& column) const;

    const VelXML_940::VelVarList& dictionary;
    std::vector<Column> columns;
    bool exact = false;
};

}  // namespace KNN_800
