#include "knn/pmml/KNNXMLArchiveElement.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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

// Draws before giving up: a directory without search permission answers every probe with
// "permission denied", so no candidate would ever be free. No name is returned then, and the
// caller reports that the file cannot be created.
constexpr int kMaxNameAttempts = 10000;

// What a probe of a candidate name found.
enum class Probe { Free, Taken };

Probe ProbeName(const std::string& candidate) {
    errno = 0;
    if (FILE* file = std::fopen(candidate.c_str(), "rb")) {
        std::fclose(file);
        return Probe::Taken;
    }
    // Denied: something may be there that this process cannot see.
    return errno == EACCES ? Probe::Taken : Probe::Free;
}

// A unique file created in the system's temporary directory; empty when none can be made.
std::string SystemTempFile(const std::string& prefix) {
    std::string pattern = std::string(P_tmpdir) + "/" + prefix + "XXXXXX.tmp";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
        return std::string();
    }
    close(fd);
    return std::string(name.data());
}

}  // namespace

std::string MakeTempFileName(const std::string& directory, const std::string& prefix) {
    if (directory.empty()) {
        return SystemTempFile(prefix);
    }
    // The generator is seeded once per name from the calendar time and then drawn until a
    // free name comes up. (Seeding before every draw would repeat a taken number until the
    // clock's second changes, so every table after the first would wait up to a second.)
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        std::string candidate = directory + prefix + std::to_string(std::rand()) + ".tmp";
        if (ProbeName(candidate) == Probe::Free) {
            return candidate;
        }
    }
    return std::string();
}

KNNXMLArchiveElement* CreateArchiveElement(const std::string& name, bool utf8,
                                           const std::string& directory) {
    const std::string path = MakeTempFileName(directory, "_knn");
    if (path.empty()) {
        return nullptr;
    }
    auto* stream =
        new std::fstream(path, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    if (!stream->good()) {
        delete stream;
        // Only the system temporary directory's file was created before the open.
        if (directory.empty()) {
            std::remove(path.c_str());
        }
        return nullptr;
    }
    return new KNNXMLArchiveElement(name, stream, path, utf8);
}

KNNXMLArchiveElement::KNNXMLArchiveElement(const std::string& name, std::fstream* stream,
                                           std::string path, bool utf8)
    : XMLElement(name), tempStream(stream), tempPath(std::move(path)), utf8(utf8) {}

KNNXMLArchiveElement::~KNNXMLArchiveElement() {
    if (tempStream != nullptr) {
        tempStream->close();  // a failed close only marks the stream; the file goes anyway
        delete tempStream;
    }
    std::remove(tempPath.c_str());
}

int KNNXMLArchiveElement::Store(XMLInterface* child) {
    if (child == nullptr) {
        return childCount;
    }
    if (tempStream != nullptr) {
        ExportFormat fresh;
        child->ExportTo(*tempStream, fresh, utf8);
    }
    delete child;
    return ++childCount;
}

int KNNXMLArchiveElement::AddText(XMLString* text) {
    return Store(text);
}

int KNNXMLArchiveElement::AddChild(XMLElement* child) {
    return Store(child);
}

int KNNXMLArchiveElement::AddVerbatim(const std::string& text) {
    if (tempStream != nullptr) {
        (utf8 ? VelXML_940::WriteUTF : VelXML_940::Write)(*tempStream, text + XMLUtil::ROWSEP);
    }
    return ++childCount;
}

bool KNNXMLArchiveElement::StreamFailed() const {
    return tempStream == nullptr || tempStream->bad();
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

    if (childCount == 0 || tempStream == nullptr) {
        put(XMLUtil::BEGIN_END_ELEMENT + XMLUtil::END_ELEMENT);
    } else {
        put(XMLUtil::END_ELEMENT);
        format.SetDepth(depth + 1);
        const std::string prefix = lead(depth + 1);
        tempStream->clear();
        tempStream->seekg(0);
        // Every stored line goes one level deeper than this element; blank lines are dropped.
        std::string line;
        while (std::getline(*tempStream, line)) {
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
