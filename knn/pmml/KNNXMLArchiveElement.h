// An XML element whose children live in a temporary file instead of memory. Every child
// handed to it is written at once, as XML text, into the element's own file and then
// destroyed; when the document is written, the element copies the file's lines between its
// tags. The file is named "_knn" + number + ".tmp" after the temporary-file directory of the
// settings (used as a plain prefix) and is removed when the element is destroyed.
#pragma once

#include <fstream>
#include <iosfwd>
#include <string>

#include "XMLElement.h"

namespace KNNPMML_800 {

class KNNXMLArchiveElement : public VelXML_940::XMLElement {
public:
    // Closes and removes the temporary file.
    ~KNNXMLArchiveElement() override;
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

    // True when the file stream is missing or a write to it failed.
    bool StreamFailed() const;
    int ChildCount() const { return childCount; }
    const std::string& TempPath() const { return tempPath; }
    bool IsUTF8() const { return utf8; }

private:
    friend KNNXMLArchiveElement* CreateArchiveElement(const std::string& name, bool utf8,
                                                      const std::string& directory);
    KNNXMLArchiveElement(const std::string& name, std::fstream* stream, std::string path,
                         bool utf8);

    // The element's text, written through `put`; file lines through `copy`; attributes
    // through `attribute`.
    template <class Put, class Copy, class Attribute>
    void Export(VelXML_940::ExportFormat& format, Put put, Copy copy, Attribute attribute) const;
    int Store(VelXML_940::XMLInterface* child);

    int childCount = 0;
    std::fstream* tempStream;  // owned
    std::string tempPath;
    bool utf8;
};

// A name for a new temporary file: `directory` + `prefix` + a number + ".tmp", not naming an
// existing file; empty when no free name turns up. With an empty `directory`, a unique file
// created in the system's temporary directory.
std::string MakeTempFileName(const std::string& directory, const std::string& prefix);

// A new element named `name` over a new, empty temporary file; null when the file cannot be
// created. `utf8` is the encoding of the children written to the file.
KNNXMLArchiveElement* CreateArchiveElement(const std::string& name, bool utf8,
                                           const std::string& directory);

}  // namespace KNNPMML_800
