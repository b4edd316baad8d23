#include "knn/tables/KNNQualityTables.h"

#include "knn/predict/KNNPredictionSummary.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelXML_940::XMLElement;

namespace {

// Rows by observed category, columns by predicted category.
void AppendConfusionMatrix(XMLElement& parent, const std::vector<std::string>& categories,
                           const std::vector<std::vector<int>>& matrix) {
    std::unique_ptr<XMLElement> owned = CreateTable("SimpleTable", "confusionMatrix");
    XMLElement* table = owned.get();
    Append(parent, std::move(owned));  // in memory: rows may follow once it is attached
    std::string names;
    for (size_t k = 0; k < categories.size(); ++k) {
        names += (k > 0 ? ";" : "") + categories[k];
    }
    AddColumnNames(table, names);
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

}  // namespace

std::unique_ptr<XMLElement> AnalysisOptionsTable(const KNNSettings& settings,
                                                 const KNNSingleResponseModel& model) {
    std::unique_ptr<XMLElement> table = CreateTable("SimpleTable", "AnalysisOptions");
    AddColumnNames(table.get(),
                   "distanceMetric;continuousTransformation;categoricalTransformationselected;"
                   "continuousPrediction;K;selectedFeatures");
    const long selected = static_cast<long>(model.Features().size()) -
                          static_cast<long>(settings.ForcedVariables.size());
    std::string row = settings.IsEuclidean() ? "Euclidean" : "CityBlock";
    row += settings.IsRescaled() ? ";Normalized" : ";NotNormalized";
    row += ";one-of-c";
    row += settings.UsesMedian() ? ";Median" : ";Mean";
    row += ";" + std::to_string(model.GetK());
    row += ";" + std::to_string(selected);
    AddRow(table.get(), row);
    return table;
}

std::unique_ptr<XMLElement> ModelQualityTable(const KNNSingleResponseModel& model,
                                              const std::string& responseName,
                                              std::optional<double> criterion,
                                              const std::vector<std::string>& categoryTexts) {
    std::unique_ptr<XMLElement> quality = CreateTable("ComplexTable", "modelQuality");
    std::unique_ptr<XMLElement> owned = CreateTable("SimpleTable", "errorSummary");
    XMLElement* summary = owned.get();
    Append(*quality, std::move(owned));  // its row follows the confusion matrix
    AddColumnNames(summary, model.IsContinuous() ? "response;sumOfSquaredError"
                                                 : "response;percentIncorrectlyClassifiedCases");
    if (!model.IsContinuous() && model.Summary() != nullptr) {
        AppendConfusionMatrix(*quality, categoryTexts, model.Summary()->ConfusionMatrix());
    }
    AddRow(summary, responseName + ";" + (criterion ? FormatDouble(*criterion) : std::string()));
    return quality;
}

}  // namespace KNN_800
