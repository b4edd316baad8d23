// Writes the model document of one export: the header, the settings echo, the data
// dictionary, the optional field-properties extension and the model extension with its
// statistics and case tables. The document is assembled in memory (the case tables in
// temporary files) and reaches the output stream only when every section succeeded.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "HostInterfaces.h"
#include "VelStatus.h"
#include "VelVarList.h"
#include "XMLElement.h"
#include "knn/base/InterruptionProbe.h"

namespace KNNPMML_800 {
class KNNXMLArchiveElement;
}

namespace KNN_800 {

class KNNDataPreparation;
class KNNModel;
class KNNPMMLPrediction;
class KNNPredictionSummary;
class KNNReporter;
class KNNSettings;
class KNNSingleResponseModel;

// The producer's name in the "extender" attributes, and its default copyright notice.
extern const char* const kPMMLExtender;
extern const char* const kPMMLCopyright;

// A new "Extension" element of this producer: "extender", then "name".
VelXML_940::XMLElement* CreateProducerExtension(const std::string& name);

class KNNPMMLWriter {
public:
    // None of the arguments is owned; all must outlive the writer.
    KNNPMMLWriter(KNNSettings* settings, VelXML_940::VelVarList* dictionary, KNNModel* model,
                  KNNDataPreparation* preparation, InterruptionProbe* probe);
    // Destroys the document, which removes every temporary file of the export.
    ~KNNPMMLWriter();
    KNNPMMLWriter(const KNNPMMLWriter&) = delete;
    KNNPMMLWriter& operator=(const KNNPMMLWriter&) = delete;

    // Assembles the document and writes it to `out`; `options` may be null. When the result
    // is not OK nothing has been written. Called once per writer.
    VelCommon_940::VelStatus WriteDocument(std::ostream& out,
                                           const VelCommon_940::ExportOptions* options);

private:
    // What one scoring pass of the case tables serves, one entry per model of the pass. The
    // prediction object reads the tables through pointers to these lists.
    struct CaseTablePass {
        std::vector<std::string> responseNames;
        std::vector<int> kPerTarget;
        std::vector<bool> continuousTarget;
        std::vector<std::vector<std::string>> categoryTexts;
        std::vector<VelXML_940::XMLElement*> neighbourTables;
        std::vector<VelXML_940::XMLElement*> probabilityTables;  // null: continuous target
    };

    // Document skeleton and progress (KNNPMMLWriter.cpp).
    void WriteHeader(const VelCommon_940::ExportOptions* options);
    void WriteFieldProperties();
    void StartStage();
    void ReportStage(const std::string& name);
    void Fail(long code, const std::string& message);

    // Data dictionary, mining schema, settings echo (KNNPMMLDictionary.cpp).
    void WriteBuildTask();
    void WriteDataDictionary();
    VelXML_940::XMLElement* WriteDataField(const VelXML_940::IVelVariable& variable, int index);
    VelXML_940::XMLElement* WriteMiningSchema(size_t m);

    // Model extension (KNNPMMLModels.cpp).
    void WriteModels();
    VelXML_940::XMLElement* WriteSelectionTable(size_t m);

    // Case tables (KNNPMMLCaseTables.cpp).
    VelXML_940::XMLElement* WriteOriginalData();
    void WriteNeighborTables(VelXML_940::XMLElement* element, size_t m);
    bool FillCaseTables();
    bool CreatePassTables(size_t first, size_t end);
    bool ScorePass(KNNSingleResponseModel& model, int K);
    void Attach(VelXML_940::XMLElement* element, VelXML_940::XMLElement*& table);
    VelXML_940::XMLElement* CreateCaseTable(const std::string& name);
    // A disk-backed element for `what` (named in the failure message); null on failure.
    KNNPMML_800::KNNXMLArchiveElement* CreateArchive(const std::string& element,
                                                     const std::string& what);
    void CheckArchiveStream(VelXML_940::XMLElement* element);
    std::string FormatCell(double value, int field) const;
    std::vector<std::string> CategoryTexts(int field) const;

    // Statistics tables (knn/tables).
    VelXML_940::XMLElement* WriteAnalysisOptions(size_t m);
    VelXML_940::XMLElement* WriteModelQuality(size_t m);
    void WriteConfusionMatrix(VelXML_940::XMLElement* parent, int field,
                              const std::vector<std::vector<int>>& matrix);
    VelXML_940::XMLElement* WriteKSelection(size_t m);
    VelXML_940::XMLElement* WriteFeatureSelection(size_t m);
    VelXML_940::XMLElement* WriteFeatureKSelection(size_t m);

    std::string FieldName(int index) const;
    // The names of `fields` joined by '+'.
    std::string JoinedNames(const std::vector<int>& fields) const;

    KNNSettings* settings;
    VelXML_940::VelVarList* dictionary;
    KNNModel* model;
    KNNDataPreparation* preparation;
    InterruptionProbe* probe;
    bool utf8 = false;
    VelCommon_940::VelStatus status;
    VelXML_940::XMLElement* root = nullptr;  // owned, with everything attached to it
    bool jointScoring = true;
    uint64_t responseCount = 0;
    uint64_t modelCount = 0;
    const std::vector<KNNSingleResponseModel*>* models;
    KNNPMMLPrediction* prediction = nullptr;  // owned
    std::vector<KNNPredictionSummary*> summaries;
    VelCommon_940::ProgressSink* sink;
    KNNReporter* reporter;

    // Every disk-backed element of the document, to check after the document was written.
    std::vector<const KNNPMML_800::KNNXMLArchiveElement*> archives;
    // Per model, its case tables; owned here until attached to the model's element.
    std::vector<VelXML_940::XMLElement*> neighbourTables;
    std::vector<VelXML_940::XMLElement*> probabilityTables;
    CaseTablePass pass;
    // Per dictionary field: stored rescaled to -1 ... 1 in the prepared rows.
    std::vector<bool> rescaledColumns;
};

}  // namespace KNN_800
