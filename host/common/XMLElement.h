// In-memory XML tree used to assemble output documents, and the writer functions that put it
// on a stream. Strings inside the tree are UTF-8. A document written as UTF-8 keeps non-ASCII
// characters as they are; any other document is written in pure ASCII, with every non-ASCII
// character as a numeric character reference. Either way, bytes that are not UTF-8 are written
// as the replacement character U+FFFD.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "VelExport.h"

namespace VelXML_940 {

class VEL_API ExportFormat {
public:
    ExportFormat() = default;
    bool IsNewParagraph() const { return newParagraph_; }
    void SetIsNewParagraph(bool value) { newParagraph_ = value; }
    bool HasIndentation() const { return indentation_; }
    void SetIndentation(bool value) { indentation_ = value; }
    int GetDepth() const { return depth_; }
    void SetDepth(int depth) { depth_ = depth; }

private:
    bool newParagraph_ = false;
    bool indentation_ = false;
    int depth_ = 0;
};

struct VEL_API XMLUtil {
    static const std::string BEGIN_ELEMENT;      // "<"
    static const std::string END_ELEMENT;        // ">"
    static const std::string BEGIN_END_ELEMENT;  // "/"
    static const std::string ROWSEP;             // line separator
    static const std::string SPACE;              // " "
    static std::string GetTabs(int depth);
    // Escapes & < > " ' as entity references.
    static std::string Escape(const std::string& text);
    // Escapes like Escape, and writes tab, line feed and carriage return as character
    // references, which keep them through the normalisation of attribute values.
    static std::string EscapeAttribute(const std::string& text);
};

// Writes text as it stands (document not UTF-8: non-ASCII as character references).
VEL_API void Write(std::ostream& out, const std::string& text);
// Writes text as it stands (document UTF-8).
VEL_API void WriteUTF(std::ostream& out, const std::string& text);
// `value` printed with the printf-style `format`, with the locale's decimal separator replaced
// by a point.
VEL_API std::string ReplaceSep(double value, const char* format);

class VEL_API XMLInterface {
public:
    virtual ~XMLInterface();
    virtual void ExportToString(std::string& out, ExportFormat& format) const = 0;
    virtual int ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const = 0;
    virtual XMLInterface* Clone() const = 0;
};

class VEL_API XMLAttribute : public XMLInterface {
public:
    XMLAttribute(std::string name, std::string value);
    void ExportToString(std::string& out, ExportFormat& format) const override;
    int ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const override;
    XMLInterface* Clone() const override;
    const std::string& Name() const { return name_; }
    const std::string& Value() const { return value_; }

private:
    std::string name_;
    std::string value_;
};

class VEL_API XMLString : public XMLInterface {
public:
    static XMLString* Create(const std::string& text);
    explicit XMLString(std::string text);
    void ExportToString(std::string& out, ExportFormat& format) const override;
    int ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const override;
    XMLInterface* Clone() const override;
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// A comment, written as <!-- text --> on a line of its own. A line break in the text starts a
// line aligned with the first one. "--", which may not occur in a comment, is written "- -",
// and control characters other than tab and line break as U+FFFD. (A comment resolves no
// character reference, so in a document that is not UTF-8 its non-ASCII characters show as
// references.)
class VEL_API XMLComment : public XMLInterface {
public:
    static XMLComment* Create(const std::string& text);
    explicit XMLComment(std::string text);
    void ExportToString(std::string& out, ExportFormat& format) const override;
    int ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const override;
    XMLInterface* Clone() const override;

private:
    std::string text_;
};

class VEL_API XMLElement : public XMLInterface {
public:
    static XMLElement* Create(const std::string& name);
    explicit XMLElement(std::string name);
    ~XMLElement() override;
    XMLElement(const XMLElement&) = delete;
    XMLElement& operator=(const XMLElement&) = delete;

    void ExportToString(std::string& out, ExportFormat& format) const override;
    int ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const override;
    XMLInterface* Clone() const override;
    // Each takes ownership of the child, also when it fails (an exception deletes it), and
    // returns the new number of children.
    virtual int AddText(XMLString* text);
    virtual int AddChild(XMLElement* child);
    virtual int AddComment(XMLComment* comment);

    void AddAttribute(const std::string& name, const std::string& value);
    void AddAttribute(const std::string& name, double value);

    const std::string& Name() const { return name_; }
    const std::vector<XMLAttribute>& Attributes() const { return attributes_; }
    const std::vector<XMLInterface*>& Children() const { return children_; }

private:
    std::string name_;
    std::vector<XMLAttribute> attributes_;
    std::vector<XMLInterface*> children_;
};

// A document type declaration written before the root when given.
struct VEL_API XMLDocType {
    std::string rootName;
    std::string systemId;
};

// Write the XML declaration (when `declaration`), the document type (when not null) and the
// tree. WriteTree produces an ASCII document, WriteTreeUTF8 a UTF-8 one.
VEL_API void WriteTree(std::ostream& out, const XMLDocType* docType, const XMLElement* root,
                       bool declaration);
VEL_API void WriteTreeUTF8(std::ostream& out, const XMLDocType* docType, const XMLElement* root,
                           bool declaration);

}  // namespace VelXML_940
