// An XML element whose children live in a temporary file instead of memory. Every child
// handed to it is written at once, as XML text, into the element's own file and then
// destroyed; when the document is written, the element copies the file's lines between its
// tags. The file is named "_knn" + number + ".tmp" after the temporary-file directory of the
// settings (used as a plain prefix) and is removed when the element is destroyed.
#pragma once

#include <iosfwd>
#include <memory>
#include <ostream>
#include <string>

#include "XMLElement.h"
#include "knn/pmml/KNNTempFile.h"

namespace KNNPMML_800 {

class KNNXMLArchiveElement : public VelXML_940::XMLElement {
public:
    KNNXMLArchiveElement(const KNNXMLArchiveElement&) = delete;
    KNNXMLArchiveElement& operator=(const KNNXMLArchiveElement&) = delete;

    void ExportToString(std::string& out, VelXML_940::ExportFormat& format) const override;
    int ExportTo(std::ostream& out, VelXML_940::ExportFormat& format, bool utf8) const override;
    // Both write the child into the file with a fresh format, destroy it and return the new
    // number of children.
    int AddText(VelXML_940::XMLString* text) override;
    int AddChild(VelXML_940::XMLElement* child) override;
    // Writes `text` into the file as it stands (no escaping) and counts it as one child.
    int AddVerbatim(const std::string& text);

    // Writes what is still buffered into the file; false when a write has failed.
    bool FlushFile();
    // The cause (an errno value) of the first failed write or read of the file; 0 while none
    // failed.
    int FileError() const { return file->Error(); }
    int ChildCount() const { return childCount; }
    const std::string& TempPath() const { return file->Path(); }
    bool IsUTF8() const { return utf8; }

private:
    friend std::unique_ptr<KNNXMLArchiveElement> CreateArchiveElement(const std::string& name,
                                                                      bool utf8,
                                                                      const std::string& directory,
                                                                      int& error);
    KNNXMLArchiveElement(const std::string& name, std::unique_ptr<KNNTempFile> file, bool utf8);

    // The element's text, written through `put`; file lines through `copy`; attributes
    // through `attribute`.
    template <class Put, class Copy, class Attribute>
    void Export(VelXML_940::ExportFormat& format, Put put, Copy copy, Attribute attribute) const;
    int Store(VelXML_940::XMLInterface* child);

    int childCount = 0;
    std::unique_ptr<KNNTempFile> file;  // removed with the element
    std::ostream out;                   // writes into `file`
    bool utf8;
};

// A new element named `name` over a new, empty temporary file under `directory` (see
// KNNTempFile::Create); null when the file cannot be created, with the cause (an errno value)
// in `error`. `utf8` is the encoding of the children written to the file.
std::unique_ptr<KNNXMLArchiveElement> CreateArchiveElement(const std::string& name, bool utf8,
                                                           const std::string& directory,
                                                           int& error);

}  // namespace KNNPMML_800
