// The model extension: one "NearestNeighborModels" container with the "originalData" table
// and, per model, a "NearestNeighborModel" element made of tables and the mining schema.
#include <algorithm>
#include <memory>

#include "knn/api/KNNModel.h"
#include "knn/pmml/KNNPMMLWriter.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

using VelXML_940::XMLElement;

void KNNPMMLWriter::WriteModels() {
    XMLElement* extension = CreateProducerExtension("Orvex Models");
    root->AddChild(extension);
    XMLElement* container = XMLElement::Create("NearestNeighborModels");
    extension->AddChild(container);

    StartStage();
    std::unique_ptr<XMLElement> original(WriteOriginalData());
    if (original != nullptr) {
        container->AddChild(original.get());
        original.release();
    }
    ReportStage("writeOrigToDisk");
    if (status.IsError()) {
        return;
    }

    StartStage();
    const uint64_t count = std::max(responseCount, modelCount);
    for (size_t m = 0; m < count && m < models->size(); ++m) {
        const std::string name =
            responseCount != 0 ? FieldName((*models)[m]->ResponseIndex()) : std::string();
        XMLElement* element = XMLElement::Create("NearestNeighborModel");
        element->AddAttribute("modelName", name);
        element->AddAttribute("response", name);
        container->AddChild(element);

        element->AddChild(WriteAnalysisOptions(m));
        element->AddChild(WriteMiningSchema(m));
        if (responseCount != 0) {
            if (XMLElement* selection = WriteSelectionTable(m)) {
                element->AddChild(selection);
            }
        }
        WriteNeighborTables(element, m);
        if (status.IsError()) {
            return;
        }
        if (responseCount != 0) {
            element->AddChild(WriteModelQuality(m));
        }
    }
    ReportStage("compDisSaveToDisk");
}

XMLElement* KNNPMMLWriter::WriteSelectionTable(size_t m) {
    const KNNSettings& s = *settings;
    if (s.IsFeaSelection && s.IsAutoKSelection) {
        return WriteFeatureKSelection(m);
    }
    if (s.IsFeaSelection && (s.IsAutoFeaSelection || s.SpecifiedFeaNum >= 0)) {
        return WriteFeatureSelection(m);
    }
    if (s.IsAutoKSelection) {
        return WriteKSelection(m);
    }
    return nullptr;
}

}  // namespace KNN_800
