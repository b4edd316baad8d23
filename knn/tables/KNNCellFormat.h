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
    // The texts of the categories 0, 1, ... of a categorical field.
    std::vector<std::string> CategoryTexts(int field) const;

private:
    const VelXML_940::VelVarList& dictionary;
    // Per dictionary field: stored rescaled to -1 ... 1 in the prepared rows.
    std::vector<bool> rescaledColumns;
};

}  // namespace KNN_800
