// The model extension: one "NearestNeighborModels" container with the "originalData" table
// and, per model, a "NearestNeighborModel" element made of tables and the mining schema.
#include <algorithm>
#include <memory>

#include "knn/pmml/KNNPMMLWriter.h"
#include "knn/tables/KNNQualityTables.h"
#include "knn/tables/KNNSelectionTables.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelXML_940::XMLElement;

KNNPMMLWriter::Element KNNPMMLWriter::WriteModels() {
    Element extension = CreateProducerExtension("Orvex Models");
    Element owned(XMLElement::Create("NearestNeighborModels"));
    XMLElement& container = *owned;
    Append(*extension, std::move(owned));

    StartStage();
    if (caseTables) {
        if (Element original = WriteOriginalData()) {
            Append(container, std::move(original));
        }
    }
    ReportStage("writeOrigToDisk");
    if (status.IsError()) {
        return extension;
    }

    StartStage();
    const uint64_t count = std::max(responseCount, modelCount);
    for (size_t m = 0; m < count && m < models.size(); ++m) {
        Element model = WriteModel(m);
        if (status.IsError()) {
            return extension;
        }
        Append(container, std::move(model));
    }
    ReportStage("compDisSaveToDisk");
    return extension;
}

KNNPMMLWriter::Element KNNPMMLWriter::WriteModel(size_t m) {
    const KNNSingleResponseModel& single = *models[m];
    const std::string name = responseCount != 0 ? FieldName(single.ResponseIndex()) : "";
    Element element(XMLElement::Create("NearestNeighborModel"));
    element->AddAttribute("modelName", name);
    element->AddAttribute("response", name);

    Append(*element, AnalysisOptionsTable(settings, single));
    Append(*element, WriteMiningSchema(m));
    if (responseCount != 0) {
        if (Element table = SelectionTable(settings, dictionary, selection, m)) {
            Append(*element, std::move(table));
        }
    }
    // Without case tables and model-quality tables nothing needs the training cases scored.
    if (!caseTables && !qualityTables) {
        return element;
    }
    WriteNeighborTables(*element, m);
    if (status.IsError() || responseCount == 0) {
        return element;
    }
    const std::vector<double> criteria =
        prediction != nullptr ? prediction->GetCriteria() : std::vector<double>();
    const std::vector<std::string> categories = single.IsContinuous()
                                                    ? std::vector<std::string>()
                                                    : cells.CategoryTexts(single.ResponseIndex());
    Append(*element,
           ModelQualityTable(single, name,
                             m < criteria.size() ? std::optional(criteria[m]) : std::nullopt,
                             categories));
    return element;
}

}  // namespace KNN_800
