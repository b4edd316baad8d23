// An XML element whose children live in a temporary file instead of memory. Every child
// handed to it is written at once, as XML text, into the element's own file and then
// destroyed; when the document is written, the element copies the file's lines between its
// tags. The file is named "_knn" + number + ".tmp" after the temporary-file directory of the
// settings (used as a plain prefix) and is removed when the element is destroyed.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

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
    // Stores a "Row" element holding the text `cells`: the same bytes that AddChild of such an
    // element stores, without making the element and its text node for every row.
    int AddRow(const std::string& cells);
    // Rows by number: after this call the element takes `count` rows through AddRowAt, in any
    // order, and writes them in number order after what it held before. Nothing else is
    // added after it.
    void NumberRows(size_t count);
    // Stores row `number` (below the count given to NumberRows) like AddRow; a row stored
    // again replaces the earlier one.
    int AddRowAt(size_t number, const std::string& cells);

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

    // The element's text, written through `put`; file lines (a pointer and a length) through
    // `copy`; attributes through `attribute`.
    template <class Put, class Copy, class Attribute>
    void Export(VelXML_940::ExportFormat& format, Put put, Copy copy, Attribute attribute) const;
    int Store(VelXML_940::XMLInterface* child);
    // Writes the text of a "Row" element holding `cells` into the file.
    void WriteRow(const std::string& cells);
    // Whether the file holds the numbered rows (if any) one after the other in number order,
    // each once, and nothing after them: it can then be copied as it stands.
    bool InNumberOrder() const;

    // Where each numbered row lies in the file; kNotStored for a row not stored. Packed to 12
    // bytes: a table of a million cases keeps a million of them.
    struct [[gnu::packed]] StoredRow {
        uint64_t offset;
        uint32_t length;
    };
    static_assert(sizeof(StoredRow) == 12);
    static constexpr uint64_t kNotStored = ~uint64_t{0};

    int childCount = 0;
    std::string row;                    // AddRow's text, kept to reuse its memory
    uint64_t rowsStart = 0;             // with numbered rows: the end of what came before
    std::vector<StoredRow> rows;        // numbered rows, by number
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
