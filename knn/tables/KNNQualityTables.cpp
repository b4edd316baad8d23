// Per model: the analysis options it was built with, and how well it predicts its training
// cases (error summary and, for a categorical target, the confusion matrix of the scoring pass
// that filled the case tables).
#include <string>

#include "knn/api/KNNModel.h"
#include "knn/pmml/KNNPMMLPrediction.h"
#include "knn/pmml/KNNPMMLWriter.h"
#include "knn/predict/KNNPredictionSummary.h"
#include "knn/settings/KNNSettings.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelXML_940::XMLElement;

XMLElement* KNNPMMLWriter::WriteAnalysisOptions(size_t m) {
    const KNNSingleResponseModel& single = *(*models)[m];
    XMLElement* table = CreateTable("SimpleTable", "AnalysisOptions");
    AddColumnNames(table,
                   "distanceMetric;continuousTransformation;categoricalTransformationselected;"
                   "continuousPrediction;K;selectedFeatures");
    const long selected = static_cast<long>(single.Features().size()) -
                          static_cast<long>(settings->ForcedVariables.size());
    std::string row = settings->IsEuclidean() ? "Euclidean" : "CityBlock";
    row += settings->IsRescaled() ? ";Normalized" : ";NotNormalized";
    row += ";one-of-c";
    row += settings->UsesMedian() ? ";Median" : ";Mean";
    row += ";" + std::to_string(single.GetK());
    row += ";" + std::to_string(selected);
    AddRow(table, row);
    return table;
}

XMLElement* KNNPMMLWriter::WriteModelQuality(size_t m) {
    const KNNSingleResponseModel& single = *(*models)[m];
    XMLElement* quality = CreateTable("ComplexTable", "modelQuality");
    XMLElement* summary = CreateTable("SimpleTable", "errorSummary");
    quality->AddChild(summary);
    AddColumnNames(summary, single.IsContinuous() ? "response;sumOfSquaredError"
                                                  : "response;percentIncorrectlyClassifiedCases");

    const std::vector<double> criteria =
        prediction != nullptr ? prediction->GetCriteria() : std::vector<double>();
    if (!single.IsContinuous() && single.Summary() != nullptr) {
        WriteConfusionMatrix(quality, single.ResponseIndex(), single.Summary()->ConfusionMatrix());
    }
    std::string row = FieldName(single.ResponseIndex()) + ";";
    if (m < criteria.size()) {
        row += FormatDouble(criteria[m]);
    }
    AddRow(summary, row);
    return quality;
}

void KNNPMMLWriter::WriteConfusionMatrix(XMLElement* parent, int field,
                                         const std::vector<std::vector<int>>& matrix) {
    XMLElement* table = CreateTable("SimpleTable", "confusionMatrix");
    parent->AddChild(table);
    const std::vector<std::string> categories = CategoryTexts(field);
    std::string names;
    for (size_t k = 0; k < categories.size(); ++k) {
        names += (k > 0 ? ";" : "") + categories[k];
    }
    AddColumnNames(table, names);
    // Rows by observed category, columns by predicted category.
    for (size_t r = 0; r < categories.size(); ++r) {
        std::vector<int> counts(categories.size(), 0);
        if (r < matrix.size()) {
            for (size_t p = 0; p < counts.size() && p < matrix[r].size(); ++p) {
                counts[p] = matrix[r][p];
            }
        }
        AddIntegerRow(table, counts);
    }
}

}  // namespace KNN_800
