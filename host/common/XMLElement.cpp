// XML tree and writer.
//
// Layout of a written tree: every element and comment starts on its own line, indented by two
// spaces per level; an element whose children are all text is written on one line
// (<ColumnNames>a;b</ColumnNames>); an element without children is an empty-element tag.
//
// The ExportFormat carries the layout between nodes: "new paragraph" means the node begins
// with ROWSEP, "indentation" that it then writes the tabs of its depth. A parent sets both
// (and the child's depth) before every element or comment child, and clears both before text
// children so that they stay on the parent's line. After writing itself an element leaves the
// format at new paragraph plus indentation. An element exported at a format that is not at a new
// paragraph starts a fragment of its own (the root of a document, or a child written alone
// into a separate store); it ends that fragment with ROWSEP, so fragments stored one after the
// other come out one per line and a document ends with a line separator.
#include "XMLElement.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <utility>

namespace VelXML_940 {

const std::string XMLUtil::BEGIN_ELEMENT = "<";
const std::string XMLUtil::END_ELEMENT = ">";
const std::string XMLUtil::BEGIN_END_ELEMENT = "/";
const std::string XMLUtil::ROWSEP = "\n";
const std::string XMLUtil::SPACE = " ";

std::string XMLUtil::GetTabs(int depth) {
    return depth > 0 ? std::string(static_cast<size_t>(depth) * 2, ' ') : std::string();
}

namespace {

// Escapes the markup characters as entity references; with `whitespace`, also tab, line feed and
// carriage return as character references.
std::string EscapeText(const std::string& text, bool whitespace) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            case '\t':
                escaped += whitespace ? "&#9;" : "\t";
                break;
            case '\n':
                escaped += whitespace ? "&#10;" : "\n";
                break;
            case '\r':
                escaped += whitespace ? "&#13;" : "\r";
                break;
            default:
                // Other control characters cannot appear in an XML document at all, not even
                // as references.
                if (static_cast<unsigned char>(c) < 0x20) {
                    escaped += "&#xFFFD;";
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

}  // namespace

std::string XMLUtil::Escape(const std::string& text) {
    return EscapeText(text, false);
}

std::string XMLUtil::EscapeAttribute(const std::string& text) {
    return EscapeText(text, true);
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the UTF-8 sequence starting at text[i]. Returns its length and stores the code
// point, or returns 0 when the bytes there are not a valid sequence (stray continuation byte,
// truncated sequence, overlong form, surrogate, beyond U+10FFFF).
size_t DecodeUtf8(const std::string& text, size_t i, char32_t& codePoint) {
    const auto byte = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        const unsigned char min = k == 1 ? low : 0x80;
        const unsigned char max = k == 1 ? high : 0xBF;
        if (next < min || next > max) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    return length;
}

void WriteCharacterReference(std::ostream& out, char32_t codePoint) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "&#x%X;", static_cast<unsigned>(codePoint));
    out << buffer;
}

using TextWriter = void (*)(std::ostream&, const std::string&);

TextWriter WriterFor(bool utf8) {
    return utf8 ? &WriteUTF : &Write;
}

// Where an element's layout goes: a stream (through Write or WriteUTF) or a string. The
// element's children and attributes are asked to export themselves the same way.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void Put(const std::string& text) = 0;
    virtual void Attribute(const XMLAttribute& attribute, ExportFormat& format) = 0;
    virtual int Child(const XMLInterface& child, ExportFormat& format) = 0;
    virtual int Result() const = 0;
};

class StreamSink : public Sink {
public:
    StreamSink(std::ostream& out, bool utf8) : out_(out), utf8_(utf8), write_(WriterFor(utf8)) {}
    void Put(const std::string& text) override { write_(out_, text); }
    void Attribute(const XMLAttribute& attribute, ExportFormat& format) override {
        attribute.ExportTo(out_, format, utf8_);
    }
    int Child(const XMLInterface& child, ExportFormat& format) override {
        return child.ExportTo(out_, format, utf8_);
    }
    int Result() const override { return out_ ? 0 : -1; }

private:
    std::ostream& out_;
    bool utf8_;
    TextWriter write_;
};

class StringSink : public Sink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    void Put(const std::string& text) override { out_ += text; }
    void Attribute(const XMLAttribute& attribute, ExportFormat& format) override {
        attribute.ExportToString(out_, format);
    }
    int Child(const XMLInterface& child, ExportFormat& format) override {
        child.ExportToString(out_, format);
        return 0;
    }
    int Result() const override { return 0; }

private:
    std::string& out_;
};

bool IsText(const XMLInterface* node) {
    return dynamic_cast<const XMLString*>(node) != nullptr;
}

int ExportElement(const XMLElement& element, Sink& sink, ExportFormat& format) {
    const int depth = format.GetDepth();
    const bool startsFragment = !format.IsNewParagraph();

    std::string text;
    if (format.IsNewParagraph()) {
        text += XMLUtil::ROWSEP;
    }
    if (format.HasIndentation()) {
        text += XMLUtil::GetTabs(depth);
    }
    text += XMLUtil::BEGIN_ELEMENT + element.Name();
    sink.Put(text);

    for (const XMLAttribute& attribute : element.Attributes()) {
        sink.Put(XMLUtil::SPACE);
        sink.Attribute(attribute, format);
    }

    int result = 0;
    const std::vector<XMLInterface*>& children = element.Children();
    if (children.empty()) {
        sink.Put(XMLUtil::BEGIN_END_ELEMENT + XMLUtil::END_ELEMENT);
    } else {
        sink.Put(XMLUtil::END_ELEMENT);
        bool textOnly = true;
        for (const XMLInterface* child : children) {
            textOnly = textOnly && IsText(child);
        }
        for (const XMLInterface* child : children) {
            // Text between element children gets a line of its own as well.
            format.SetIsNewParagraph(!textOnly);
            format.SetIndentation(!textOnly);
            format.SetDepth(depth + 1);
            const int childResult = sink.Child(*child, format);
            if (result == 0) {
                result = childResult;
            }
        }
        text.clear();
        if (!textOnly) {
            text += XMLUtil::ROWSEP + XMLUtil::GetTabs(depth);
        }
        text += XMLUtil::BEGIN_ELEMENT + XMLUtil::BEGIN_END_ELEMENT + element.Name() +
                XMLUtil::END_ELEMENT;
        sink.Put(text);
    }

    format.SetDepth(depth);
    format.SetIsNewParagraph(true);
    format.SetIndentation(true);
    if (startsFragment) {
        sink.Put(XMLUtil::ROWSEP);
    }
    return result != 0 ? result : sink.Result();
}

// The line separator and indentation that the format asks for before a node.
std::string Lead(const ExportFormat& format) {
    std::string lead;
    if (format.IsNewParagraph()) {
        lead += XMLUtil::ROWSEP;
    }
    if (format.HasIndentation()) {
        lead += XMLUtil::GetTabs(format.GetDepth());
    }
    return lead;
}

void WriteDocument(std::ostream& out, const XMLDocType* docType, const XMLElement* root,
                   bool declaration, bool utf8) {
    const TextWriter write = WriterFor(utf8);
    if (declaration) {
        write(out, std::string("<?xml version=\"1.0\" encoding=\"") +
                       (utf8 ? "UTF-8" : "US-ASCII") + "\"?>" + XMLUtil::ROWSEP);
    }
    if (docType != nullptr) {
        write(out, "<!DOCTYPE " + docType->rootName + " SYSTEM \"" + docType->systemId + "\">" +
                       XMLUtil::ROWSEP);
    }
    if (root != nullptr) {
        // The root starts a fragment, so it ends the document with a line separator.
        ExportFormat format;
        format.SetIndentation(true);
        root->ExportTo(out, format, utf8);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Text output

namespace {

// Writes ASCII as it is and every other character unchanged (`utf8`) or as a character
// reference. U+FFFE and U+FFFF are not XML characters and become U+FFFD, and so does each byte
// that starts no valid sequence, decoding resuming at the next byte: the document stays
// well-formed whatever bytes the text holds.
void WriteText(std::ostream& out, const std::string& text, bool utf8) {
    size_t plainStart = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const size_t length = DecodeUtf8(text, i, codePoint);
        const bool valid = length != 0 && codePoint != 0xFFFE && codePoint != 0xFFFF;
        if (valid && utf8) {
            i += length;
            continue;
        }
        out.write(text.data() + plainStart, static_cast<std::streamsize>(i - plainStart));
        if (utf8) {
            out << "\xEF\xBF\xBD";  // U+FFFD
        } else {
            WriteCharacterReference(out, valid ? codePoint : kReplacement);
        }
        i += length == 0 ? 1 : length;
        plainStart = i;
    }
    out.write(text.data() + plainStart, static_cast<std::streamsize>(text.size() - plainStart));
}

}  // namespace

void Write(std::ostream& out, const std::string& text) {
    WriteText(out, text, false);
}

void WriteUTF(std::ostream& out, const std::string& text) {
    WriteText(out, text, true);
}

std::string ReplaceSep(double value, const char* format) {
    if (format == nullptr) {
        return std::string();
    }
    std::string text(64, '\0');
    int length = std::snprintf(text.data(), text.size(), format, value);
    if (length < 0) {
        return std::string();
    }
    if (static_cast<size_t>(length) >= text.size()) {
        text.assign(static_cast<size_t>(length) + 1, '\0');
        length = std::snprintf(text.data(), text.size(), format, value);
        if (length < 0) {
            return std::string();
        }
    }
    text.resize(static_cast<size_t>(length));

    const char* point = std::localeconv()->decimal_point;
    const std::string separator = point != nullptr ? point : ".";
    if (separator.empty() || separator == ".") {
        return text;
    }
    std::string pointed;
    pointed.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (text.compare(at, separator.size(), separator) == 0) {
            pointed += '.';
            at += separator.size();
        } else {
            pointed += text[at++];
        }
    }
    return pointed;
}

// ---------------------------------------------------------------------------------------------
// Nodes

XMLInterface::~XMLInterface() = default;

XMLAttribute::XMLAttribute(std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)) {}

void XMLAttribute::ExportToString(std::string& out, ExportFormat& /*format*/) const {
    out += name_ + "=\"" + XMLUtil::EscapeAttribute(value_) + "\"";
}

int XMLAttribute::ExportTo(std::ostream& out, ExportFormat& /*format*/, bool utf8) const {
    WriterFor(utf8)(out, name_ + "=\"" + XMLUtil::EscapeAttribute(value_) + "\"");
    return out ? 0 : -1;
}

XMLInterface* XMLAttribute::Clone() const {
    return new XMLAttribute(name_, value_);
}

XMLString* XMLString::Create(const std::string& text) {
    return new XMLString(text);
}

XMLString::XMLString(std::string text) : text_(std::move(text)) {}

void XMLString::ExportToString(std::string& out, ExportFormat& format) const {
    out += Lead(format) + XMLUtil::Escape(text_);
}

int XMLString::ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const {
    WriterFor(utf8)(out, Lead(format) + XMLUtil::Escape(text_));
    return out ? 0 : -1;
}

XMLInterface* XMLString::Clone() const {
    return new XMLString(text_);
}

namespace {

constexpr char kCommentStart[] = "<!-- ";

// The comment's markup, its lines after the first indented by `continuation`.
std::string CommentMarkup(const std::string& text, const std::string& continuation) {
    std::string body;
    for (char c : text) {
        if (c == '\n') {
            body += XMLUtil::ROWSEP + continuation;
        } else if (c == '-' && !body.empty() && body.back() == '-') {
            body += " -";
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            body += "\xEF\xBF\xBD";  // U+FFFD: a comment knows no character references
        } else {
            body += c;
        }
    }
    // The space before the end keeps a final '-' from running into it.
    return kCommentStart + body + " -->";
}

// A comment written at `format`: on the line the format starts, continued under its text.
std::string Comment(const std::string& text, const ExportFormat& format) {
    const std::string indentation =
        format.HasIndentation() ? XMLUtil::GetTabs(format.GetDepth()) : std::string();
    return Lead(format) +
           CommentMarkup(text, indentation + std::string(sizeof kCommentStart - 1, ' '));
}

}  // namespace

XMLComment* XMLComment::Create(const std::string& text) {
    return new XMLComment(text);
}

XMLComment::XMLComment(std::string text) : text_(std::move(text)) {}

void XMLComment::ExportToString(std::string& out, ExportFormat& format) const {
    out += Comment(text_, format);
}

int XMLComment::ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const {
    WriterFor(utf8)(out, Comment(text_, format));
    return out ? 0 : -1;
}

XMLInterface* XMLComment::Clone() const {
    return new XMLComment(text_);
}

XMLElement* XMLElement::Create(const std::string& name) {
    return new XMLElement(name);
}

XMLElement::XMLElement(std::string name) : name_(std::move(name)) {}

XMLElement::~XMLElement() {
    for (XMLInterface* child : children_) {
        delete child;
    }
}

void XMLElement::ExportToString(std::string& out, ExportFormat& format) const {
    StringSink sink(out);
    ExportElement(*this, sink, format);
}

int XMLElement::ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const {
    StreamSink sink(out, utf8);
    return ExportElement(*this, sink, format);
}

XMLInterface* XMLElement::Clone() const {
    auto* copy = new XMLElement(name_);
    copy->attributes_ = attributes_;
    copy->children_.reserve(children_.size());
    for (const XMLInterface* child : children_) {
        copy->children_.push_back(child->Clone());
    }
    return copy;
}

int XMLElement::AddText(XMLString* text) {
    // Owned from here on: a child that cannot be stored is deleted, not leaked.
    std::unique_ptr<XMLString> owned(text);
    if (owned != nullptr) {
        children_.push_back(owned.get());
        owned.release();
    }
    return static_cast<int>(children_.size());
}

int XMLElement::AddChild(XMLElement* child) {
    std::unique_ptr<XMLElement> owned(child);
    if (owned != nullptr) {
        children_.push_back(owned.get());
        owned.release();
    }
    return static_cast<int>(children_.size());
}

int XMLElement::AddComment(XMLComment* comment) {
    std::unique_ptr<XMLComment> owned(comment);
    if (owned != nullptr) {
        children_.push_back(owned.get());
        owned.release();
    }
    return static_cast<int>(children_.size());
}

void XMLElement::AddAttribute(const std::string& name, const std::string& value) {
    // A repeated name would make the tag malformed: the later value replaces the earlier one
    // and keeps its place.
    for (XMLAttribute& attribute : attributes_) {
        if (attribute.Name() == name) {
            attribute = XMLAttribute(name, value);
            return;
        }
    }
    attributes_.emplace_back(name, value);
}

void XMLElement::AddAttribute(const std::string& name, double value) {
    // Integral values (counts) read as plain integers; huge ones take the general form.
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15) {
        AddAttribute(name, std::to_string(static_cast<std::int64_t>(value)));
    } else {
        AddAttribute(name, ReplaceSep(value, "%.15g"));
    }
}

// ---------------------------------------------------------------------------------------------
// Documents

void WriteTree(std::ostream& out, const XMLDocType* docType, const XMLElement* root,
               bool declaration) {
    WriteDocument(out, docType, root, declaration, false);
}

void WriteTreeUTF8(std::ostream& out, const XMLDocType* docType, const XMLElement* root,
                   bool declaration) {
    WriteDocument(out, docType, root, declaration, true);
}

}  // namespace VelXML_940
