#include "knn/pmml/KNNXMLArchiveElement.h"

#include <istream>
#include <memory>
#include <ostream>
#include <utility>

namespace KNNPMML_800 {

using VelXML_940::ExportFormat;
using VelXML_940::XMLAttribute;
using VelXML_940::XMLElement;
using VelXML_940::XMLInterface;
using VelXML_940::XMLString;
using VelXML_940::XMLUtil;

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
        // document's writer checks.
        file->Rewind();
        std::istream in(file.get());
        // Every stored line goes one level deeper than this element; blank lines are dropped.
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty()) {
                put(prefix);
                copy(line);
            }
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
        [&](const std::string& line) { out << line; },
        [&](const XMLAttribute& item, ExportFormat& itemFormat) {
            item.ExportTo(out, itemFormat, utf8);
        });
    return 0;
}

void KNNXMLArchiveElement::ExportToString(std::string& out, ExportFormat& format) const {
    Export(
        format, [&](const std::string& text) { out += text; },
        [&](const std::string& line) { out += line; },
        [&](const XMLAttribute& item, ExportFormat& itemFormat) {
            item.ExportToString(out, itemFormat);
        });
}

}  // namespace KNNPMML_800
