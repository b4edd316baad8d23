#include "knn/pmml/KNNPMMLWriter.h"

#include <stdio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>

#include "knn/api/KNNModel.h"
#include "knn/base/KNNReporter.h"
#include "knn/base/StageReport.h"
#include "knn/base/StatusCodes.h"
#include "knn/data/KNNContVariable.h"
#include "knn/data/KNNDataPreparation.h"
#include "knn/pmml/KNNPMMLPrediction.h"
#include "knn/pmml/KNNXMLArchiveElement.h"
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
    // The document is incomplete when a temporary file could not be read back into it or
    // the output stream did not take all of it.
    for (const KNNPMML_800::KNNXMLArchiveElement* archive : archives) {
        if (archive->FileError() != 0) {
            Fail(Code::ArchiveWriteFailed,
                 "reading the temporary file " + archive->TempPath() +
                     " back failed: " + std::strerror(archive->FileError()));
        }
    }
    if (!out) {
        Fail(Code::ArchiveWriteFailed, "the output stream did not take the whole document");
    }
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
    // Owned here until the document holds it, so that its file goes also after an exception.
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> owned(
        CreateArchive("Extension", "the field properties"));
    if (owned == nullptr) {
        return;
    }
    owned->AddAttribute("extender", kPMMLExtender);
    owned->AddAttribute("name", "DataDictionaryFieldProperties");
    root->AddChild(owned.get());
    KNNPMML_800::KNNXMLArchiveElement* extension = owned.release();
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

KNNPMML_800::KNNXMLArchiveElement* KNNPMMLWriter::CreateArchive(const std::string& element,
                                                                const std::string& what) {
    int error = 0;
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> archive(
        KNNPMML_800::CreateArchiveElement(element, utf8, settings->FileTempDir, error));
    if (archive == nullptr) {
        const std::string where = settings->FileTempDir.empty()
                                      ? std::string("in the system's directory ") + P_tmpdir
                                      : "with TempFileDir '" + settings->FileTempDir + "'";
        Fail(Code::ArchiveNotCreated, what +
                                          " cannot be stored: no temporary file can be created " +
                                          where + ": " + std::strerror(error));
        return nullptr;
    }
    archives.push_back(archive.get());
    return archive.release();
}

// Writes what a finished disk-backed element still buffers, so that a failed write is known
// before anything reaches the output stream.
void KNNPMMLWriter::CheckArchiveStream(XMLElement* element) {
    auto* archive = dynamic_cast<KNNPMML_800::KNNXMLArchiveElement*>(element);
    if (archive != nullptr && !archive->FlushFile()) {
        Fail(Code::ArchiveWriteFailed, "writing the temporary file " + archive->TempPath() +
                                           " failed: " + std::strerror(archive->FileError()));
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
