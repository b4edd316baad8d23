// Writes the model document of one export: the header, the settings echo, the data
// dictionary, the optional field-properties extension and the model extension with its
// statistics and case tables. The document is assembled in memory (the case tables in
// temporary files) and reaches the output stream only when every section succeeded. Elements
// are held by unique_ptr until the host's XML classes take them over with AddChild.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "HostInterfaces.h"
#include "VelStatus.h"
#include "VelVarList.h"
#include "XMLElement.h"
#include "knn/base/RunContext.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/model/KNNSingleResponseModel.h"
#include "knn/pmml/KNNPMMLPrediction.h"
#include "knn/selection/KNNModelSelection.h"
#include "knn/settings/KNNSettings.h"
#include "knn/tables/KNNCellFormat.h"

namespace KNNPMML_800 {
class KNNXMLArchiveElement;
}

namespace KNN_800 {

// The producer's name in the "extender" attributes, and its default copyright notice.
extern const char* const kPMMLExtender;
extern const char* const kPMMLCopyright;

// A new "Extension" element of this producer: "extender", then "name".
std::unique_ptr<VelXML_940::XMLElement> CreateProducerExtension(const std::string& name);

class KNNPMMLWriter {
public:
    // The document of one build: its prepared data (with the build's settings and
    // dictionary), its models in the component's order, and the selection that chose them
    // (null without a target). None of them is owned; all must outlive the writer.
    KNNPMMLWriter(const KNNDataPreparation& preparation,
                  const std::vector<KNNSingleResponseModel*>& models,
                  const KNNModelSelection* selection, RunContext& context);
    // Destroys the document, which removes every temporary file of the export.
    ~KNNPMMLWriter();
    KNNPMMLWriter(const KNNPMMLWriter&) = delete;
    KNNPMMLWriter& operator=(const KNNPMMLWriter&) = delete;

    // Assembles the document and writes it to `out`; `options` may be null. When the result
    // is not OK nothing has been written. Called once per writer.
    VelCommon_940::VelStatus WriteDocument(std::ostream& out,
                                           const VelCommon_940::ExportOptions* options);

private:
    using Element = std::unique_ptr<VelXML_940::XMLElement>;

    // What one scoring pass of the case tables serves, one entry per model of the pass. The
    // prediction object reads the tables through pointers to these lists.
    struct CaseTablePass {
        std::vector<std::string> responseNames;
        std::vector<int> kPerTarget;
        std::vector<bool> continuousTarget;
        std::vector<std::vector<std::string>> categoryTexts;
        std::vector<KNNPMML_800::KNNXMLArchiveElement*> neighbourTables;
        std::vector<KNNPMML_800::KNNXMLArchiveElement*> probabilityTables;  // null: continuous
    };

    // Document skeleton and progress (KNNPMMLWriter.cpp).
    Element WriteHeader(const VelCommon_940::ExportOptions* options) const;
    Element WriteFieldProperties();
    void StartStage();
    void ReportStage(const std::string& name);
    void Fail(long code, const std::string& message);

    // Data dictionary, mining schema, settings echo (KNNPMMLDictionary.cpp).
    Element WriteBuildTask() const;
    Element WriteDataDictionary() const;
    Element WriteDataField(const VelXML_940::IVelVariable& variable, int index) const;
    Element WriteMiningSchema(size_t m) const;

    // Model extension (KNNPMMLModels.cpp).
    Element WriteModels();
    Element WriteModel(size_t m);

    // Case tables (KNNPMMLCaseTables.cpp).
    Element WriteOriginalData();
    void WriteNeighborTables(VelXML_940::XMLElement& element, size_t m);
    bool FillCaseTables();
    bool CreatePassTables(size_t first, size_t end);
    bool ScorePass(KNNSingleResponseModel& model, int K);
    void Attach(VelXML_940::XMLElement& element, Element& table);
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> CreateCaseTable(const std::string& name);
    // A disk-backed element for `what` (named in the failure message); null on failure.
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> CreateArchive(const std::string& element,
                                                                     const std::string& what);
    void CheckArchiveStream(VelXML_940::XMLElement* element);

    std::string FieldName(int index) const;
    // A number that makes the model: exact when the options ask for it, else 15 digits.
    std::string ModelNumber(double value) const;

    const KNNSettings& settings;
    const VelXML_940::VelVarList& dictionary;
    const KNNDataPreparation& preparation;
    const std::vector<KNNSingleResponseModel*>& models;
    const KNNModelSelection* selection;
    RunContext& context;
    KNNCellFormat cells;
    bool utf8 = false;
    bool caseTables = true;     // false: the training cases are scored, but no case table is made
    bool exactNumbers = false;  // the numbers that make the model read back exactly
    bool qualityTables = true;  // with caseTables false: false skips the scoring pass
    VelCommon_940::VelStatus status;
    bool jointScoring = true;
    uint64_t responseCount = 0;
    uint64_t modelCount = 0;
    std::unique_ptr<KNNPMMLPrediction> prediction;
    std::vector<KNNPredictionSummary*> summaries;

    // Every disk-backed element of the document, to check after the document was written.
    std::vector<const KNNPMML_800::KNNXMLArchiveElement*> archives;
    // Per model, its case tables, held here until attached to the model's element.
    std::vector<Element> neighbourTables;
    std::vector<Element> probabilityTables;  // null for a continuous target
    CaseTablePass pass;
};

}  // namespace KNN_800
