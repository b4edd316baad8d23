#include "knn/pmml/KNNXMLArchiveElement.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

namespace KNNPMML_800 {

using VelXML_940::ExportFormat;
using VelXML_940::XMLAttribute;
using VelXML_940::XMLElement;
using VelXML_940::XMLInterface;
using VelXML_940::XMLString;
using VelXML_940::XMLUtil;

namespace {

constexpr std::streamsize kReadBlock = 1 << 16;  // bytes read from the file at a time

}  // namespace

std::unique_ptr<KNNXMLArchiveElement> CreateArchiveElement(const std::string& name, bool utf8,
                                                           const std::string& directory,
                                                           int& error) {
    std::unique_ptr<KNNTempFile> file(KNNTempFile::Create(directory, "_knn", error));
    if (file == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<KNNXMLArchiveElement>(
        new KNNXMLArchiveElement(name, std::move(file), utf8));
}

KNNXMLArchiveElement::KNNXMLArchiveElement(const std::string& name,
                                           std::unique_ptr<KNNTempFile> file, bool utf8)
    : XMLElement(name), file(std::move(file)), out(this->file.get()), utf8(utf8) {}

int KNNXMLArchiveElement::Store(XMLInterface* child) {
    // Owned from here on, written out and deleted, also when writing throws.
    const std::unique_ptr<XMLInterface> owned(child);
    if (owned == nullptr) {
        return childCount;
    }
    ExportFormat fresh;
    owned->ExportTo(out, fresh, utf8);
    return ++childCount;
}

int KNNXMLArchiveElement::AddText(XMLString* text) {
    return Store(text);
}

int KNNXMLArchiveElement::AddChild(XMLElement* child) {
    return Store(child);
}

int KNNXMLArchiveElement::AddVerbatim(const std::string& text) {
    (utf8 ? VelXML_940::WriteUTF : VelXML_940::Write)(out, text + XMLUtil::ROWSEP);
    return ++childCount;
}

int KNNXMLArchiveElement::AddRow(const std::string& cells) {
    WriteRow(cells);
    return ++childCount;
}

void KNNXMLArchiveElement::NumberRows(size_t count) {
    rowsStart = file->Size();
    rows.assign(count, StoredRow{kNotStored, 0});
}

int KNNXMLArchiveElement::AddRowAt(size_t number, const std::string& cells) {
    const uint64_t start = file->Size();
    WriteRow(cells);
    const bool first = rows[number].offset == kNotStored;
    rows[number] = StoredRow{start, static_cast<uint32_t>(file->Size() - start)};
    return first ? ++childCount : childCount;
}

void KNNXMLArchiveElement::WriteRow(const std::string& cells) {
    // Text needs escaping only where it holds a markup character or a control character;
    // table cells rarely do.
    const bool plain = std::none_of(cells.begin(), cells.end(), [](char c) {
        return c == '&' || c == '<' || c == '>' || c == '"' || c == '\'' ||
               static_cast<unsigned char>(c) < 0x20;
    });
    row.assign("<Row>");
    row += plain ? cells : XMLUtil::Escape(cells);
    row += "</Row>";
    row += XMLUtil::ROWSEP;
    (utf8 ? VelXML_940::WriteUTF : VelXML_940::Write)(out, row);
}

bool KNNXMLArchiveElement::InNumberOrder() const {
    if (rows.empty()) {
        return true;  // no numbered rows: the file is in the order it was written
    }
    uint64_t next = rowsStart;
    for (const StoredRow& stored : rows) {
        if (stored.offset != next) {
            return false;
        }
        next += stored.length;
    }
    return next == file->Size();
}

bool KNNXMLArchiveElement::FlushFile() {
    return file->Flush();
}

template <class Put, class Copy, class Attribute>
void KNNXMLArchiveElement::Export(ExportFormat& format, Put put, Copy copy,
                                  Attribute attribute) const {
    const int depth = format.GetDepth();
    const auto lead = [&format](int level) {
        std::string text;
        if (format.IsNewParagraph()) {
            text += XMLUtil::ROWSEP;
        }
        if (format.HasIndentation()) {
            text += XMLUtil::GetTabs(level);
        }
        return text;
    };

    put(lead(depth) + XMLUtil::BEGIN_ELEMENT + Name());
    if (!Attributes().empty()) {
        format.SetDepth(depth + 1);
        for (const XMLAttribute& item : Attributes()) {
            put((format.IsNewParagraph() ? XMLUtil::ROWSEP : XMLUtil::SPACE) +
                (format.HasIndentation() ? XMLUtil::GetTabs(depth + 1) : std::string()));
            attribute(item, format);
        }
        format.SetDepth(depth);
    }

    if (childCount == 0) {
        put(XMLUtil::BEGIN_END_ELEMENT + XMLUtil::END_ELEMENT);
    } else {
        put(XMLUtil::END_ELEMENT);
        format.SetDepth(depth + 1);
        const std::string prefix = lead(depth + 1);
        // A file that cannot be written or read back keeps the cause in its error, which the
        // document's writer checks. Every stored line goes one level deeper than this element;
        // blank lines are dropped. A line that runs over the end of what was read is carried
        // over to the next read.
        std::string carried;
        const auto lines = [&](const char* at, const char* end) {
            while (at < end) {
                const char* const lineEnd =
                    static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
                if (lineEnd == nullptr) {
                    carried.append(at, end);
                    return;
                }
                if (!carried.empty()) {
                    carried.append(at, lineEnd);
                    put(prefix);
                    copy(carried.data(), carried.size());
                    carried.clear();
                } else if (lineEnd > at) {
                    put(prefix);
                    copy(at, static_cast<size_t>(lineEnd - at));
                }
                at = lineEnd + 1;
            }
        };
        // The file in blocks: all of it, or what came before the numbered rows when they were
        // not stored one after the other in number order.
        file->Rewind();
        const uint64_t sequential = InNumberOrder() ? file->Size() : rowsStart;
        std::vector<char> block(kReadBlock);
        for (uint64_t at = 0; at < sequential;) {
            const size_t length =
                static_cast<size_t>(std::min<uint64_t>(kReadBlock, sequential - at));
            if (!file->ReadAt(at, length, block.data())) {
                break;
            }
            lines(block.data(), block.data() + length);
            at += length;
        }
        if (sequential < file->Size()) {
            for (const StoredRow& stored : rows) {
                if (stored.offset == kNotStored) {
                    continue;
                }
                block.resize(std::max<size_t>(block.size(), stored.length));
                if (!file->ReadAt(stored.offset, stored.length, block.data())) {
                    break;
                }
                lines(block.data(), block.data() + stored.length);
            }
        }
        if (!carried.empty()) {
            put(prefix);
            copy(carried.data(), carried.size());
        }
        format.SetDepth(depth);
        put(lead(depth) + XMLUtil::BEGIN_ELEMENT + XMLUtil::BEGIN_END_ELEMENT + Name() +
            XMLUtil::END_ELEMENT);
    }
    format.SetIsNewParagraph(true);
    format.SetIndentation(true);
}

int KNNXMLArchiveElement::ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const {
    const auto write = utf8 ? VelXML_940::WriteUTF : VelXML_940::Write;
    // The stored lines were encoded with this element's own flag when they were written.
    Export(
        format, [&](const std::string& text) { write(out, text); },
        [&](const char* line, size_t length) {
            out.write(line, static_cast<std::streamsize>(length));
        },
        [&](const XMLAttribute& item, ExportFormat& itemFormat) {
            item.ExportTo(out, itemFormat, utf8);
        });
    return 0;
}

void KNNXMLArchiveElement::ExportToString(std::string& out, ExportFormat& format) const {
    Export(
        format, [&](const std::string& text) { out += text; },
        [&](const char* line, size_t length) { out.append(line, length); },
        [&](const XMLAttribute& item, ExportFormat& itemFormat) {
            item.ExportToString(out, itemFormat);
        });
}

}  // namespace KNNPMML_800
