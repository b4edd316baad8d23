#include "knn/pmml/KNNPMMLWriter.h"

#include <algorithm>
#include <ostream>

#include "knn/core/KNNReporter.h"
#include "knn/core/StageReport.h"
#include "knn/core/StatusCodes.h"
#include "knn/data/KNNContVariable.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/model/KNNModel.h"
#include "knn/pmml/KNNXMLArchiveElement.h"
#include "knn/predict/KNNPMMLPrediction.h"
#include "knn/settings/KNNSettings.h"

namespace KNN_800 {

using VelCommon_940::ExportOptions;
using VelCommon_940::VelStatus;
using VelXML_940::XMLElement;

const char* const kPMMLExtender = "orvex.knn";
const char* const kPMMLCopyright = "Copyright (c) 2026 the knn component authors";

XMLElement* CreateProducerExtension(const std::string& name) {
    XMLElement* extension = XMLElement::Create("Extension");
    extension->AddAttribute("extender", kPMMLExtender);
    extension->AddAttribute("name", name);
    return extension;
}

namespace {

const char* const kPMMLNamespace = "http://www.dmg.org/PMML-4_3";
const char* const kSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";

}  // namespace

KNNPMMLWriter::KNNPMMLWriter(KNNSettings* settings, VelXML_940::VelVarList* dictionary,
                             KNNModel* model, KNNDataPreparation* preparation,
                             InterruptionProbe* probe)
    : settings(settings),
      dictionary(dictionary),
      model(model),
      preparation(preparation),
      probe(probe),
      models(&model->Models()),
      sink(settings->Sink),
      reporter(settings->Reporter()) {
    responseCount = settings->CatResponses.size() + settings->ContResponses.size();
    modelCount = models->size();
    jointScoring = responseCount < 2 || !(settings->IsFeaSelection || settings->IsFeaWeight);

    // A continuous field is stored rescaled when its prepared variable rescales and the field
    // was in use while the records were read; unused fields keep their raw values.
    const std::vector<IKNNVariable*>& variables = preparation->Variables();
    const std::vector<int>& used = settings->UsedVariables;
    rescaledColumns.assign(variables.size(), false);
    for (size_t f = 0; f < variables.size(); ++f) {
        const auto* continuous = dynamic_cast<const KNNContVariable*>(variables[f]);
        rescaledColumns[f] = continuous != nullptr && continuous->IsRescaled() &&
                             std::find(used.begin(), used.end(), static_cast<int>(f)) != used.end();
    }
}

KNNPMMLWriter::~KNNPMMLWriter() {
    delete prediction;
    delete root;
    // Tables that never reached their model element (the export stopped early).
    for (XMLElement* table : neighbourTables) {
        delete table;
    }
    for (XMLElement* table : probabilityTables) {
        delete table;
    }
}

VelStatus KNNPMMLWriter::WriteDocument(std::ostream& out, const ExportOptions* options) {
    utf8 = options != nullptr && options->utf8;

    root = XMLElement::Create("PMML");
    root->AddAttribute("version", "4.3");
    root->AddAttribute("xmlns", kPMMLNamespace);
    root->AddAttribute("xmlns:xsi", kSchemaInstanceNamespace);
    root->AddAttribute("xsi:schemaLocation", std::string(kPMMLNamespace) + " pmml-4-3.xsd");

    WriteHeader(options);
    WriteBuildTask();
    WriteDataDictionary();
    if (!settings->fieldFormat.empty()) {
        WriteFieldProperties();
    }
    if (status.IsOK()) {
        WriteModels();
    }
    if (!status.IsOK()) {
        return status;
    }

    StartStage();
    if (utf8) {
        VelXML_940::WriteTreeUTF8(out, nullptr, root, true);
    } else {
        VelXML_940::WriteTree(out, nullptr, root, true);
    }
    out.flush();
    ReportStage("writePMML");
    return status;
}

void KNNPMMLWriter::WriteHeader(const ExportOptions* options) {
    XMLElement* header = XMLElement::Create("Header");
    const bool withCopyright = options != nullptr && !options->copyright.empty();
    header->AddAttribute("copyright", withCopyright ? options->copyright : kPMMLCopyright);

    XMLElement* application = XMLElement::Create("Application");
    header->AddChild(application);
    const bool withName = options != nullptr && !options->applicationName.empty();
    application->AddAttribute("name", withName ? options->applicationName : "NearestNeighbor");
    if (options != nullptr && !options->applicationVersion.empty()) {
        application->AddAttribute("version", options->applicationVersion);
    }
    root->AddChild(header);
}

void KNNPMMLWriter::WriteFieldProperties() {
    KNNPMML_800::KNNXMLArchiveElement* extension =
        KNNPMML_800::CreateArchiveElement("Extension", utf8, settings->FileTempDir);
    if (extension == nullptr) {
        Fail(Code::ArchiveNotCreated, "the field properties cannot be stored under TempFileDir '" +
                                          settings->FileTempDir + "'");
        return;
    }
    extension->AddAttribute("extender", kPMMLExtender);
    extension->AddAttribute("name", "DataDictionaryFieldProperties");
    root->AddChild(extension);
    // Copied unchanged: the settings promise well-formed XML content.
    extension->AddVerbatim(settings->fieldFormat);
    CheckArchiveStream(extension);
}

void KNNPMMLWriter::StartStage() {
    KNN_800::StartStage(reporter);
}

void KNNPMMLWriter::ReportStage(const std::string& name) {
    if (reporter == nullptr || sink == nullptr) {
        return;
    }
    if (name != "writeOrigToDisk" && name != "compDisSaveToDisk" && name != "writePMML") {
        return;
    }
    reporter->SetValues(name, 1, KNNReporter::Clock());
    sink->Notify(reporter);
}

void KNNPMMLWriter::Fail(long code, const std::string& message) {
    // The first failure of the export is the one reported.
    if (status.IsError()) {
        return;
    }
    status = Error(code);
    status.SetMessage(message);
}

void KNNPMMLWriter::CheckArchiveStream(const XMLElement* element) {
    const auto* archive = dynamic_cast<const KNNPMML_800::KNNXMLArchiveElement*>(element);
    if (archive != nullptr && archive->StreamFailed()) {
        Fail(Code::ArchiveWriteFailed,
             "writing the temporary file " + archive->TempPath() + " failed");
    }
}

std::string KNNPMMLWriter::FieldName(int index) const {
    std::string name;
    if (const VelXML_940::IVelVariable* variable = dictionary->GetVarAt(index)) {
        variable->GetName(name);
    }
    return name;
}

std::string KNNPMMLWriter::JoinedNames(const std::vector<int>& fields) const {
    std::string names;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            names += '+';
        }
        names += FieldName(fields[i]);
    }
    return names;
}

}  // namespace KNN_800
