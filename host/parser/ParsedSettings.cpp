// Reading a settings document: libxml2 parses the text (no network, no entities, no DTD), the
// tree is walked and checked against the settings format (docs/settings-format.md), and the
// result is kept as a ParsedSettings Document; the libxml2 tree is freed before ParseText
// returns. All checks that can be made without knowing the question happen here, so that a
// faulty document is rejected at once with the line at fault.
#include "ParsedSettings.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlversion.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "VelNumber.h"
#include "VelSettingsParser.h"

namespace VelXML_940 {

using namespace parsed;

namespace {

// libxml2 2.12 made the error argument of structured handlers const.
#if LIBXML_VERSION >= 21200
using XmlErrorArg = const xmlError*;
#else
using XmlErrorArg = xmlError*;
#endif

// The categories of one field read so far, by text and by numeric value (-0 and 0 are one
// value), so that a repeated category is found without comparing it with every other.
struct CategoryIndex {
    std::unordered_map<std::string, size_t> byText;
    std::unordered_map<double, size_t> byNumeric;
};

[[noreturn]] void Fail(long code, long line, const std::string& text) {
    throw ParseFailure{code, AtLine(line, text)};
}

std::string_view Trim(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// from_chars rejects an explicit plus sign; numbers written by hand often carry one.
std::string_view DropPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    return text;
}

// Each reader returns null on success, or the reason the text is not a value of its type,
// worded to follow "which ...". Numbers are read independently of the process locale.
const char* ReadInt(std::string_view text, int& out) {
    const std::string_view digits = DropPlus(Trim(text));
    int value = 0;
    const auto [end, err] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (err == std::errc::result_out_of_range) {
        return "is outside the int range";
    }
    if (err != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        return "is not an integer";
    }
    out = value;
    return nullptr;
}

// A number too close to zero for a double reads as the nearest double (zero or a subnormal);
// only one too large for a double is refused.
const char* ReadDouble(std::string_view text, double& out) {
    const std::string_view digits = DropPlus(Trim(text));
    double value = 0.0;
    const auto [end, err] =
        VelCommon_940::DecimalToDouble(digits.data(), digits.data() + digits.size(), value);
    if (err == std::errc::result_out_of_range) {
        return "is outside the double range";
    }
    if (err != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
        return "is not a number";
    }
    if (!std::isfinite(value)) {
        return "is not a finite number";
    }
    out = value;
    return nullptr;
}

const char* ReadBool(std::string_view text, bool& out) {
    const std::string_view word = Trim(text);
    if (word == "true" || word == "1") {
        out = true;
    } else if (word == "false" || word == "0") {
        out = false;
    } else {
        return "is not true, false, 1 or 0";
    }
    return nullptr;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Frees what libxml2 allocated for the caller.
struct XmlFree {
    void operator()(xmlChar* text) const { xmlFree(text); }
};

std::string ToString(const xmlChar* text) {
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

std::string ElementName(const xmlNode* node) {
    std::string name = ToString(node->name);
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        name = ToString(node->ns->prefix) + ":" + name;
    }
    return name;
}

// At most the first 40 bytes of `text` for a message, cut at a character boundary.
std::string Excerpt(std::string_view text) {
    if (text.size() <= 40) {
        return std::string(text);
    }
    size_t end = 40;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(text.substr(0, end)) + "...";
}

bool IsBlank(const xmlNode* node) {
    return Trim(ToString(node->content)).empty();
}

// Turns the libxml2 tree into a Document, checking every element, attribute and value.
class TreeReader {
public:
    explicit TreeReader(xmlDoc* doc) : doc_(doc) {}

    Document Read() {
        if (doc_->intSubset != nullptr || doc_->extSubset != nullptr) {
            Fail(kParserStructure, 0,
                 "document type declarations are not allowed in a settings document");
        }
        xmlNode* root = xmlDocGetRootElement(doc_);
        if (root == nullptr) {
            Fail(kParserStructure, 0, "the document has no root element");
        }
        if (Name(root) != "Settings") {
            Fail(kParserStructure, Line(root),
                 "the root element is <" + ElementName(root) + ">, expected <Settings>");
        }
        const auto attrs = Attributes(root, {"version"});
        if (const std::string* version = Find(attrs, "version");
            version != nullptr && Trim(*version) != "1") {
            Fail(kParserStructure, Line(root),
                 "unsupported settings format version '" + *version + "' (expected 1)");
        }

        bool seen[4] = {false, false, false, false};
        static const char* const kSections[4] = {"Dictionary", "Targets", "Predictors",
                                                 "Parameters"};
        for (xmlNode* child : Children(root)) {
            const std::string name = Name(child);
            int section = 0;
            while (section < 4 && name != kSections[section]) {
                ++section;
            }
            if (section == 4) {
                Unknown(child);
            }
            if (seen[section]) {
                Fail(kParserStructure, Line(child), "<" + name + "> is given more than once");
            }
            seen[section] = true;
            switch (section) {
                case 0:
                    ReadDictionary(child);
                    break;
                case 1:
                    result_.targets = ReadNameList(child, "Target");
                    break;
                case 2:
                    result_.predictors = ReadNameList(child, "Predictor");
                    break;
                default:
                    ReadParameters(child);
                    break;
            }
        }
        if (!seen[0]) {
            Fail(kParserStructure, Line(root), "<Settings> has no <Dictionary>");
        }
        return std::move(result_);
    }

private:
    using AttrMap = std::vector<std::pair<std::string, std::string>>;

    static long Line(const xmlNode* node) { return node == nullptr ? 0 : xmlGetLineNo(node); }

    static std::string Name(const xmlNode* node) {
        if (node->ns != nullptr) {
            Fail(kParserStructure, Line(node),
                 "element <" + ElementName(node) + "> is in the namespace '" +
                     ToString(node->ns->href) + "'; settings elements have no namespace");
        }
        return ToString(node->name);
    }

    [[noreturn]] static void Unknown(const xmlNode* node) {
        std::string where;
        if (node->parent != nullptr && node->parent->type == XML_ELEMENT_NODE) {
            where = " in <" + ElementName(node->parent) + ">";
        }
        Fail(kParserStructure, Line(node), "unknown element <" + ElementName(node) + ">" + where);
    }

    // The child elements of `node`. Comments and processing instructions are skipped; text
    // other than white space has no place between elements.
    static std::vector<xmlNode*> Children(xmlNode* node) {
        std::vector<xmlNode*> elements;
        for (xmlNode* child = node->children; child != nullptr; child = child->next) {
            switch (child->type) {
                case XML_ELEMENT_NODE:
                    elements.push_back(child);
                    break;
                case XML_TEXT_NODE:
                case XML_CDATA_SECTION_NODE:
                    if (!IsBlank(child)) {
                        Fail(kParserStructure, Line(child),
                             "unexpected text '" + Excerpt(Trim(ToString(child->content))) +
                                 "' in <" + ElementName(node) + ">");
                    }
                    break;
                case XML_COMMENT_NODE:
                case XML_PI_NODE:
                    break;
                default:
                    Fail(kParserStructure, Line(child),
                         "unexpected content in <" + ElementName(node) + ">");
            }
        }
        return elements;
    }

    // The text content of an element that holds a value: text and CDATA joined, exactly as
    // written. Elements inside a value are a structure error.
    static std::string Text(xmlNode* node) {
        std::string text;
        for (xmlNode* child = node->children; child != nullptr; child = child->next) {
            if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
                text += ToString(child->content);
            } else if (child->type == XML_ELEMENT_NODE) {
                Unknown(child);
            } else if (child->type != XML_COMMENT_NODE && child->type != XML_PI_NODE) {
                Fail(kParserStructure, Line(child),
                     "unexpected content in <" + ElementName(node) + ">");
            }
        }
        return text;
    }

    // The attributes of `node`, all of which must be among `allowed`.
    AttrMap Attributes(xmlNode* node, std::initializer_list<std::string_view> allowed) const {
        AttrMap attrs;
        for (xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
            std::string name = ToString(attr->name);
            bool known = attr->ns == nullptr;
            if (!known) {
                name = ToString(attr->ns->prefix) + ":" + name;
            } else {
                known = false;
                for (std::string_view candidate : allowed) {
                    known = known || candidate == name;
                }
            }
            if (!known) {
                Fail(kParserStructure, Line(node),
                     "unknown attribute '" + name + "' on <" + ElementName(node) + ">");
            }
            const std::unique_ptr<xmlChar, XmlFree> value(
                xmlNodeListGetString(doc_, attr->children, 1));
            attrs.emplace_back(std::move(name), ToString(value.get()));
        }
        return attrs;
    }

    static const std::string* Find(const AttrMap& attrs, std::string_view name) {
        for (const auto& [key, value] : attrs) {
            if (key == name) {
                return &value;
            }
        }
        return nullptr;
    }

    static const std::string& Require(const AttrMap& attrs, std::string_view name,
                                      const xmlNode* node) {
        const std::string* value = Find(attrs, name);
        if (value == nullptr) {
            Fail(kParserStructure, Line(node),
                 "<" + ElementName(node) + "> lacks the attribute '" + std::string(name) + "'");
        }
        return *value;
    }

    // A value given either as the attribute "value" or as the element's text, not both.
    static std::string Value(const AttrMap& attrs, xmlNode* node, const std::string& what) {
        const std::string text = Text(node);
        const std::string* attr = Find(attrs, "value");
        if (attr == nullptr) {
            return text;
        }
        if (!Trim(text).empty()) {
            Fail(kParserStructure, Line(node),
                 what + " has both a value attribute and text; give only one");
        }
        return *attr;
    }

    void ReadDictionary(xmlNode* node) {
        Attributes(node, {});
        std::unordered_map<std::string, long> seen;
        for (xmlNode* child : Children(node)) {
            if (Name(child) != "Field") {
                Unknown(child);
            }
            FieldDecl field = ReadField(child);
            const auto [it, inserted] = seen.emplace(field.name, field.line);
            if (!inserted) {
                Fail(kParserDictionary, field.line,
                     "field '" + field.name + "' is already declared on line " +
                         std::to_string(it->second));
            }
            result_.fields.push_back(std::move(field));
        }
    }

    FieldDecl ReadField(xmlNode* node) {
        const auto attrs = Attributes(node, {"name", "kind", "label", "format", "min", "max"});
        FieldDecl field;
        field.line = Line(node);
        field.name = Require(attrs, "name", node);
        if (field.name.empty()) {
            Fail(kParserDictionary, field.line, "a field has an empty name");
        }
        const std::string quoted = "field '" + field.name + "'";
        if (const std::string* label = Find(attrs, "label")) {
            field.label = *label;
        }

        const std::string& kind = Require(attrs, "kind", node);
        const std::string_view kindWord = Trim(kind);
        if (kindWord == "continuous" || kindWord == "1") {
            field.kind = kContinuous;
        } else if (kindWord == "categorical-numeric" || kindWord == "2") {
            field.kind = kNumericCategorical;
        } else if (kindWord == "categorical-string" || kindWord == "3") {
            field.kind = kStringCategorical;
        } else {
            Fail(kParserDictionary, field.line,
                 quoted + " has the unknown kind '" + kind +
                     "' (expected continuous, categorical-numeric or categorical-string)");
        }

        if (const std::string* format = Find(attrs, "format")) {
            field.format = ReadFormat(*format, quoted, field.line);
        }

        const std::string* min = Find(attrs, "min");
        const std::string* max = Find(attrs, "max");
        if (field.kind != kContinuous && (min != nullptr || max != nullptr)) {
            Fail(kParserDictionary, field.line,
                 quoted + " is categorical and cannot declare a min or max");
        }
        if (min != nullptr) {
            field.min = ReadNumber(*min, quoted + " has min='" + *min + "', which ", field.line);
        }
        if (max != nullptr) {
            field.max = ReadNumber(*max, quoted + " has max='" + *max + "', which ", field.line);
        }
        if (field.min > field.max) {
            Fail(kParserDictionary, field.line,
                 quoted + " has min " + *min + " greater than max " + *max);
        }

        CategoryIndex index;
        for (xmlNode* child : Children(node)) {
            const std::string name = Name(child);
            if (name == "Category") {
                ReadCategory(child, field, index, quoted);
            } else if (name == "Missing") {
                ReadMissing(child, field, quoted);
            } else {
                Unknown(child);
            }
        }
        return field;
    }

    static int ReadFormat(const std::string& text, const std::string& quoted, long line) {
        static const std::pair<const char*, int> kFormats[] = {
            {"none", kFormatNone},         {"0", kFormatNone},
            {"date", kFormatDate},         {"4", kFormatDate},
            {"time", kFormatTime},         {"5", kFormatTime},
            {"datetime", kFormatDateTime}, {"6", kFormatDateTime}};
        for (const auto& [word, code] : kFormats) {
            if (EqualsIgnoreCase(Trim(text), word)) {
                return code;
            }
        }
        Fail(kParserDictionary, line,
             quoted + " has the unknown format '" + text +
                 "' (expected none, date, time, datetime or 0, 4, 5, 6)");
    }

    static double ReadNumber(const std::string& text, const std::string& prefix, long line) {
        double value = 0.0;
        if (const char* why = ReadDouble(text, value)) {
            Fail(kParserBadValue, line, prefix + why);
        }
        return value;
    }

    void ReadCategory(xmlNode* node, FieldDecl& field, CategoryIndex& index,
                      const std::string& quoted) const {
        const long line = Line(node);
        if (field.kind == kContinuous) {
            Fail(kParserDictionary, line, quoted + " is continuous and cannot have categories");
        }
        const auto attrs = Attributes(node, {"value", "label", "code"});
        Children(node);
        VelCategory category;
        category.text = Require(attrs, "value", node);
        const std::string* code = Find(attrs, "code");
        if (field.kind == kNumericCategorical) {
            if (code != nullptr) {
                Fail(kParserDictionary, line,
                     quoted +
                         " has numeric categories, whose value is their code; "
                         "remove the code attribute");
            }
            category.numeric = ReadNumber(
                category.text, quoted + " has the category value '" + category.text + "', which ",
                line);
            category.text = std::string(Trim(category.text));
        } else if (code != nullptr) {
            category.numeric = ReadNumber(*code,
                                          quoted + " has a category code '" + *code + "' (value '" +
                                              category.text + "'), which ",
                                          line);
        } else {
            category.numeric = static_cast<double>(field.categories.size());
        }
        if (const std::string* label = Find(attrs, "label")) {
            category.label = *label;
        }
        const auto sameText = index.byText.find(category.text);
        const auto sameNumber = index.byNumeric.find(category.numeric);
        if (sameText != index.byText.end() || sameNumber != index.byNumeric.end()) {
            const size_t other =
                std::min(sameText != index.byText.end() ? sameText->second : SIZE_MAX,
                         sameNumber != index.byNumeric.end() ? sameNumber->second : SIZE_MAX);
            Fail(kParserDictionary, line,
                 quoted + " has the category '" + category.text +
                     "' more than once (same value or code as '" + field.categories[other].text +
                     "')");
        }
        index.byText.emplace(category.text, field.categories.size());
        index.byNumeric.emplace(category.numeric, field.categories.size());
        field.categories.push_back(std::move(category));
    }

    void ReadMissing(xmlNode* node, FieldDecl& field, const std::string& quoted) const {
        const long line = Line(node);
        const auto attrs = Attributes(node, {"value", "text"});
        Children(node);
        const std::string* value = Find(attrs, "value");
        const std::string* text = Find(attrs, "text");
        if ((value == nullptr) == (text == nullptr)) {
            Fail(kParserStructure, line,
                 "<Missing> of " + quoted +
                     " needs exactly one of "
                     "the attributes 'value' and 'text'");
        }
        if (value != nullptr) {
            field.missingValues.push_back(ReadNumber(
                *value, quoted + " has the missing value '" + *value + "', which ", line));
        } else {
            field.missingTexts.push_back(*text);
        }
    }

    std::vector<std::string> ReadNameList(xmlNode* node, const char* itemName) const {
        Attributes(node, {});
        std::vector<std::string> names;
        for (xmlNode* child : Children(node)) {
            if (Name(child) != itemName) {
                Unknown(child);
            }
            const auto attrs = Attributes(child, {"name"});
            Children(child);
            names.push_back(Require(attrs, "name", child));
        }
        return names;
    }

    void ReadParameters(xmlNode* node) {
        Attributes(node, {});
        for (xmlNode* child : Children(node)) {
            const std::string name = Name(child);
            std::string key;
            ParamDecl param;
            if (name == "Parameter") {
                key = ReadParameter(child, param);
            } else if (name == "Array") {
                key = ReadArray(child, param);
            } else {
                Unknown(child);
            }
            const long line = param.line;
            const auto [it, inserted] = result_.params.emplace(key, std::move(param));
            if (!inserted) {
                Fail(kParserStructure, line,
                     "the key '" + key + "' is already given on line " +
                         std::to_string(it->second.line));
            }
        }
    }

    std::string ReadParameter(xmlNode* node, ParamDecl& param) const {
        param.line = Line(node);
        const auto attrs = Attributes(node, {"key", "type", "value"});
        const std::string key = Require(attrs, "key", node);
        const std::string& type = Require(attrs, "type", node);
        const std::string quoted = "parameter '" + key + "'";
        const std::string text = Value(attrs, node, quoted);
        const auto bad = [&](const char* typeName, const char* why) {
            Fail(kParserBadValue, param.line,
                 quoted + " of type " + typeName + " has the value '" + text + "', which " + why);
        };
        if (type == "string") {
            param.type = ParamType::kString;
            param.text = text;
        } else if (type == "int") {
            param.type = ParamType::kInt;
            if (const char* why = ReadInt(text, param.intValue)) {
                bad("int", why);
            }
            param.doubleValue = param.intValue;
        } else if (type == "double") {
            param.type = ParamType::kDouble;
            if (const char* why = ReadDouble(text, param.doubleValue)) {
                bad("double", why);
            }
        } else if (type == "bool") {
            param.type = ParamType::kBool;
            if (const char* why = ReadBool(text, param.boolValue)) {
                bad("bool", why);
            }
        } else {
            Fail(kParserStructure, param.line,
                 quoted + " has the unknown type '" + type +
                     "' (expected string, int, double or bool)");
        }
        return key;
    }

    std::string ReadArray(xmlNode* node, ParamDecl& param) const {
        param.line = Line(node);
        const auto attrs = Attributes(node, {"key", "type"});
        const std::string key = Require(attrs, "key", node);
        const std::string& type = Require(attrs, "type", node);
        const std::string quoted = "array '" + key + "'";
        if (type == "string") {
            param.type = ParamType::kStringArray;
        } else if (type == "double") {
            param.type = ParamType::kDoubleArray;
        } else {
            Fail(kParserStructure, param.line,
                 quoted + " has the unknown type '" + type + "' (expected string or double)");
        }
        int count = 0;
        for (xmlNode* child : Children(node)) {
            if (Name(child) != "Item") {
                Unknown(child);
            }
            const std::string item = "item " + std::to_string(++count) + " of " + quoted;
            std::string text = Value(Attributes(child, {"value"}), child, item);
            if (param.type == ParamType::kDoubleArray) {
                param.doubles.push_back(
                    ReadNumber(text, item + " of type double has the value '" + text + "', which ",
                               Line(child)));
            } else {
                param.texts.push_back(std::move(text));
            }
        }
        return key;
    }

    xmlDoc* doc_;
    Document result_;
};

// Collects what libxml2 reports while parsing, so that nothing is printed and the first error
// can name its line.
struct ErrorSink {
    bool failed = false;
    long line = 0;
    std::string message;

    static void Receive(void* context, XmlErrorArg error) {
        auto* sink = static_cast<ErrorSink*>(context);
        if (sink == nullptr || error == nullptr || error->level < XML_ERR_ERROR || sink->failed) {
            return;
        }
        sink->failed = true;
        sink->line = error->line;
        sink->message = error->message == nullptr ? "unknown error" : error->message;
        while (!sink->message.empty() &&
               (sink->message.back() == '\n' || sink->message.back() == ' ')) {
            sink->message.pop_back();
        }
    }
};

void SilentGeneric(void*, const char*, ...) {}

// Routes libxml2's reports on this thread to an ErrorSink for the lifetime of the guard and
// restores the previous handlers afterwards.
class ErrorRouting {
public:
    explicit ErrorRouting(ErrorSink* sink)
        : structured_(xmlStructuredError),
          structuredContext_(xmlStructuredErrorContext),
          generic_(xmlGenericError),
          genericContext_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(sink, &ErrorSink::Receive);
        xmlSetGenericErrorFunc(nullptr, &SilentGeneric);
    }
    ~ErrorRouting() {
        xmlSetStructuredErrorFunc(structuredContext_, structured_);
        xmlSetGenericErrorFunc(genericContext_, generic_);
    }
    ErrorRouting(const ErrorRouting&) = delete;
    ErrorRouting& operator=(const ErrorRouting&) = delete;

private:
    xmlStructuredErrorFunc structured_;
    void* structuredContext_;
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

// No network, no entity substitution and no DTD loading; reports go to the sink only.
constexpr int kReadOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES;

struct DocDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct CtxtDeleter {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

}  // namespace

namespace parsed {

// Parses `text` into a Document; throws ParseFailure.
Document ParseText(const std::string& text) {
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        Fail(kParserMalformed, 0, "the settings document is too large");
    }
    ErrorSink sink;
    ErrorRouting routing(&sink);
    std::unique_ptr<xmlParserCtxt, CtxtDeleter> ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        Fail(kParserMalformed, 0, "the XML parser could not be created");
    }
    std::unique_ptr<xmlDoc, DocDeleter> doc(xmlCtxtReadMemory(
        ctxt.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr, kReadOptions));
    if (!doc || sink.failed) {
        if (!sink.failed) {
            sink.message = "the document could not be read";
        }
        Fail(kParserMalformed, sink.line, "malformed XML: " + sink.message);
    }
    return TreeReader(doc.get()).Read();
}

}  // namespace parsed

bool CheckXMLContent(const std::string& text, std::string& reason) {
    // The text is read as the content of one element, on the element's own line, so that line
    // numbers are those of the text; an element the text leaves open meets the wrapper's end tag.
    const std::string wrapped = "<content>" + text + "</content>";
    if (wrapped.size() > static_cast<size_t>(INT_MAX)) {
        reason = "the text is too large";
        return false;
    }
    ErrorSink sink;
    ErrorRouting routing(&sink);
    std::unique_ptr<xmlParserCtxt, CtxtDeleter> ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        reason = "the XML parser could not be created";
        return false;
    }
    std::unique_ptr<xmlDoc, DocDeleter> doc(xmlCtxtReadMemory(ctxt.get(), wrapped.data(),
                                                              static_cast<int>(wrapped.size()),
                                                              nullptr, "UTF-8", kReadOptions));
    if (!doc || sink.failed) {
        reason = AtLine(sink.line, sink.failed ? sink.message : "the text could not be read");
        return false;
    }
    return true;
}

}  // namespace VelXML_940
