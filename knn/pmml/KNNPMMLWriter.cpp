#include "knn/pmml/KNNPMMLWriter.h"

#include <stdio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>

#include "knn/base/KNNReporter.h"
#include "knn/base/StageReport.h"
#include "knn/base/StatusCodes.h"
#include "knn/pmml/KNNXMLArchiveElement.h"
#include "knn/tables/KNNTableFormat.h"

namespace KNN_800 {

using VelCommon_940::ExportOptions;
using VelCommon_940::VelStatus;
using VelXML_940::XMLElement;

const char* const kPMMLExtender = "orvex.knn";
const char* const kPMMLCopyright = "Copyright (c) 2026 the knn component authors";

std::unique_ptr<XMLElement> CreateProducerExtension(const std::string& name) {
    std::unique_ptr<XMLElement> extension(XMLElement::Create("Extension"));
    extension->AddAttribute("extender", kPMMLExtender);
    extension->AddAttribute("name", name);
    return extension;
}

namespace {

const char* const kPMMLNamespace = "http://www.dmg.org/PMML-4_3";
const char* const kSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";

}  // namespace

KNNPMMLWriter::KNNPMMLWriter(const KNNDataPreparation& preparation,
                             const std::vector<KNNSingleResponseModel*>& models,
                             const KNNModelSelection* selection, RunContext& context)
    : settings(preparation.Settings()),
      dictionary(preparation.Dictionary()),
      preparation(preparation),
      models(models),
      selection(selection),
      context(context),
      cells(preparation) {
    responseCount = settings.CatResponses.size() + settings.ContResponses.size();
    modelCount = models.size();
    jointScoring = responseCount < 2 || !(settings.IsFeaSelection || settings.IsFeaWeight);
}

// The case tables that never reached their model element (the export stopped early) go with
// the writer, and with them their temporary files.
KNNPMMLWriter::~KNNPMMLWriter() = default;

std::string KNNPMMLWriter::ModelNumber(double value) const {
    return exactNumbers ? FormatExactDouble(value) : FormatDouble(value);
}

VelStatus KNNPMMLWriter::WriteDocument(std::ostream& out, const ExportOptions* options) {
    utf8 = options != nullptr && options->utf8;
    caseTables = options == nullptr || options->caseTables;
    exactNumbers = options != nullptr && options->exactNumbers;
    qualityTables = options == nullptr || options->qualityTables;
    cells.SetExact(exactNumbers);

    // The whole document; its disk-backed elements remove their files when it goes. Every
    // section is the document's from the moment AddChild takes it.
    const Element root(XMLElement::Create("PMML"));
    root->AddAttribute("version", "4.3");
    root->AddAttribute("xmlns", kPMMLNamespace);
    root->AddAttribute("xmlns:xsi", kSchemaInstanceNamespace);
    root->AddAttribute("xsi:schemaLocation", std::string(kPMMLNamespace) + " pmml-4-3.xsd");
    Append(*root, WriteHeader(options));
    Append(*root, WriteBuildTask());
    Append(*root, WriteDataDictionary());
    if (!settings.fieldFormat.empty()) {
        if (Element properties = WriteFieldProperties()) {
            Append(*root, std::move(properties));
        }
    }
    if (status.IsOK()) {
        Append(*root, WriteModels());
    }
    if (!status.IsOK()) {
        return status;
    }

    StartStage();
    if (utf8) {
        VelXML_940::WriteTreeUTF8(out, nullptr, root.get(), true);
    } else {
        VelXML_940::WriteTree(out, nullptr, root.get(), true);
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

KNNPMMLWriter::Element KNNPMMLWriter::WriteHeader(const ExportOptions* options) const {
    Element header(XMLElement::Create("Header"));
    const bool withCopyright = options != nullptr && !options->copyright.empty();
    header->AddAttribute("copyright", withCopyright ? options->copyright : kPMMLCopyright);

    Element application(XMLElement::Create("Application"));
    const bool withName = options != nullptr && !options->applicationName.empty();
    application->AddAttribute("name", withName ? options->applicationName : "NearestNeighbor");
    if (options != nullptr && !options->applicationVersion.empty()) {
        application->AddAttribute("version", options->applicationVersion);
    }
    Append(*header, std::move(application));
    return header;
}

KNNPMMLWriter::Element KNNPMMLWriter::WriteFieldProperties() {
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> extension =
        CreateArchive("Extension", "the field properties");
    if (extension == nullptr) {
        return nullptr;
    }
    extension->AddAttribute("extender", kPMMLExtender);
    extension->AddAttribute("name", "DataDictionaryFieldProperties");
    // Copied unchanged: the settings reader made sure it is well-formed XML content.
    extension->AddVerbatim(settings.fieldFormat);
    CheckArchiveStream(extension.get());
    return extension;
}

void KNNPMMLWriter::StartStage() {
    KNN_800::StartStage(context);
}

void KNNPMMLWriter::ReportStage(const std::string& name) {
    if (name == "writeOrigToDisk" || name == "compDisSaveToDisk" || name == "writePMML") {
        EndStage(context, name.c_str());
    }
}

void KNNPMMLWriter::Fail(long code, const std::string& message) {
    // The first failure of the export is the one reported.
    if (status.IsError()) {
        return;
    }
    status = Error(code);
    status.SetMessage(message);
}

std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> KNNPMMLWriter::CreateArchive(
    const std::string& element, const std::string& what) {
    int error = 0;
    std::unique_ptr<KNNPMML_800::KNNXMLArchiveElement> archive =
        KNNPMML_800::CreateArchiveElement(element, utf8, settings.FileTempDir, error);
    if (archive == nullptr) {
        const std::string where = settings.FileTempDir.empty()
                                      ? std::string("in the system's directory ") + P_tmpdir
                                      : "with TempFileDir '" + settings.FileTempDir + "'";
        Fail(Code::ArchiveNotCreated, what +
                                          " cannot be stored: no temporary file can be created " +
                                          where + ": " + std::strerror(error));
        return nullptr;
    }
    archives.push_back(archive.get());
    return archive;
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
    return KNN_800::FieldName(dictionary, index);
}

}  // namespace KNN_800
