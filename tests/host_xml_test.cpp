// XML writer of the host library: layout, escaping, encodings, numbers, and cooperation with
// an element subclass that keeps its children as already-written text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "XMLElement.h"

using namespace VelXML_940;

namespace {

std::string Document(const XMLElement& root, bool utf8, const XMLDocType* docType = nullptr) {
    std::ostringstream out;
    (utf8 ? WriteTreeUTF8 : WriteTree)(out, docType, &root, true);
    return out.str();
}

using Pipe = std::unique_ptr<FILE, int (*)(FILE*)>;

// The string value that the reference parser finds at `xpath` in `doc` (UTF-8); empty when
// it rejects the document.
std::string Parse(const std::string& doc, const std::string& xpath) {
    const std::string path = ::testing::TempDir() + "host_xml_" + std::to_string(getpid());
    std::ofstream(path, std::ios::binary) << doc;
    Pipe pipe(
        popen(("/usr/bin/xmllint --xpath 'string(" + xpath + ")' " + path + " 2>/dev/null").c_str(),
              "r"),
        pclose);
    std::string result;
    char buffer[256];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
        result.append(buffer, n);
    }
    std::remove(path.c_str());
    return result.empty() ? result : result.substr(0, result.size() - 1);  // drop its newline
}

#define REQUIRE_XMLLINT()                                    \
    if (access("/usr/bin/xmllint", X_OK) != 0) {             \
        GTEST_SKIP() << "/usr/bin/xmllint is not installed"; \
    }

}  // namespace

TEST(XmlWriter, WritesIndentedTreeInInsertionOrder) {
    XMLElement root("PMML");
    root.AddAttribute("version", "4.3");
    root.AddAttribute("xmlns", "urn:x");
    XMLElement* header = XMLElement::Create("Header");
    header->AddChild(XMLElement::Create("Application"));
    root.AddChild(header);
    XMLElement* table = XMLElement::Create("SimpleTable");
    table->AddChild(XMLElement::Create("RowNames"));
    XMLElement* columns = XMLElement::Create("ColumnNames");
    columns->AddText(XMLString::Create("a;b"));
    table->AddChild(columns);
    root.AddChild(table);
    // Attributes added after attaching still count; a repeated name keeps its place.
    header->AddAttribute("copyright", "c");
    root.AddAttribute("version", "4.4");

    const XMLDocType docType{"PMML", "pmml.dtd"};
    EXPECT_EQ(Document(root, false, &docType),
              "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n"
              "<!DOCTYPE PMML SYSTEM \"pmml.dtd\">\n"
              "<PMML version=\"4.4\" xmlns=\"urn:x\">\n"
              "  <Header copyright=\"c\">\n"
              "    <Application/>\n"
              "  </Header>\n"
              "  <SimpleTable>\n"
              "    <RowNames/>\n"
              "    <ColumnNames>a;b</ColumnNames>\n"
              "  </SimpleTable>\n"
              "</PMML>\n");
}

TEST(XmlWriter, EscapesMarkupCharactersAndRoundTrips) {
    const std::string nasty = "a&b<c>d\"e'f &amp;";
    XMLElement root("Root");
    root.AddAttribute("v", nasty);
    root.AddText(XMLString::Create(nasty));

    const std::string doc = Document(root, false);
    const std::string escaped = "a&amp;b&lt;c&gt;d&quot;e&apos;f &amp;amp;";
    EXPECT_NE(doc.find("<Root v=\"" + escaped + "\">" + escaped + "</Root>"), std::string::npos)
        << doc;
    REQUIRE_XMLLINT();
    EXPECT_EQ(Parse(doc, "/Root/@v"), nasty);
    EXPECT_EQ(Parse(doc, "/Root"), nasty);
}

TEST(XmlWriter, CommentsAndAttributeLineBreaksReadBackAsWritten) {
    XMLElement root("Root");
    root.AddComment(XMLComment::Create("two lines,\nthe second -- with dashes-"));
    XMLElement* child = XMLElement::Create("Child");
    child->AddAttribute("v", "a\tb\nc\r\nd");
    child->AddComment(XMLComment::Create("bell\x07"));
    root.AddChild(child);

    const std::string doc = Document(root, true);
    EXPECT_EQ(doc,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<Root>\n"
              "  <!-- two lines,\n"
              "       the second - - with dashes- -->\n"
              "  <Child v=\"a&#9;b&#10;c&#13;&#10;d\">\n"
              "    <!-- bell\xEF\xBF\xBD -->\n"
              "  </Child>\n"
              "</Root>\n");
    REQUIRE_XMLLINT();
    EXPECT_EQ(Parse(doc, "/Root/comment()"), " two lines,\n       the second - - with dashes- ");
    EXPECT_EQ(Parse(doc, "/Root/Child/@v"), "a\tb\nc\r\nd");
}

TEST(XmlWriter, AsciiDocumentUsesCharacterReferencesUtf8KeepsBytes) {
    const std::string name =
        "Gr\xC3\xB6\xC3\x9F"
        "e \xF0\x9F\x98\x80";  // "Größe 😀"
    XMLElement root("DataField");
    root.AddAttribute("name", name);
    root.AddText(XMLString::Create(name));

    const std::string ascii = Document(root, false);
    for (unsigned char c : ascii) {
        ASSERT_LT(c, 0x80) << ascii;
    }
    EXPECT_NE(ascii.find("name=\"Gr&#xF6;&#xDF;e &#x1F600;\""), std::string::npos) << ascii;
    const std::string utf8 = Document(root, true);
    EXPECT_NE(utf8.find("encoding=\"UTF-8\""), std::string::npos);
    EXPECT_NE(utf8.find(">" + name + "</DataField>"), std::string::npos) << utf8;

    // Stray, overlong, surrogate and truncated sequences, and control characters.
    std::ostringstream broken;
    Write(broken,
          "a\xFF"
          "b\xC0\xAF"
          "c\xED\xA0\x80"
          "d\xE2\x82");
    EXPECT_EQ(broken.str(), "a&#xFFFD;b&#xFFFD;&#xFFFD;c&#xFFFD;&#xFFFD;&#xFFFD;d&#xFFFD;&#xFFFD;");
    // The same replacements in a UTF-8 document, as the character itself; U+FFFE and U+FFFF
    // are no XML characters either.
    const std::string fffd = "\xEF\xBF\xBD";
    std::ostringstream brokenUtf8;
    WriteUTF(brokenUtf8,
             "a\xFF"
             "b\xC0\xAF"
             "c\xED\xA0\x80"
             "d\xE2\x82"
             "\xEF\xBF\xBE\xC3\xB6");
    EXPECT_EQ(brokenUtf8.str(), "a" + fffd + "b" + fffd + fffd + "c" + fffd + fffd + fffd + "d" +
                                    fffd + fffd + fffd + "\xC3\xB6");
    XMLElement bad("B");
    bad.AddAttribute("v", "x\xFF\x01y");
    bad.AddText(XMLString::Create("\xC3(\xF4\x90"));

    REQUIRE_XMLLINT();
    EXPECT_EQ(Parse(ascii, "/DataField/@name"), name);
    EXPECT_EQ(Parse(utf8, "/DataField"), name);
    for (const bool asUtf8 : {false, true}) {
        EXPECT_EQ(Parse(Document(bad, asUtf8), "/B/@v"), "x" + fffd + fffd + "y");
        EXPECT_EQ(Parse(Document(bad, asUtf8), "/B"), fffd + "(" + fffd + fffd);
    }
}

namespace {

// Keeps every child only as the text it wrote with a fresh format, and writes that text back
// between its own tags, one stored line per output line, one level deeper than itself.
class StoredElement : public XMLElement {
public:
    explicit StoredElement(const std::string& name) : XMLElement(name) {}
    int AddText(XMLString* text) override { return Store(text); }
    int AddChild(XMLElement* child) override { return Store(child); }

    int ExportTo(std::ostream& out, ExportFormat& format, bool utf8) const override {
        const auto write = utf8 ? &WriteUTF : &Write;
        const int depth = format.GetDepth();
        const auto lead = [&format](int d) {
            return (format.IsNewParagraph() ? XMLUtil::ROWSEP : "") +
                   (format.HasIndentation() ? XMLUtil::GetTabs(d) : "");
        };
        write(out, lead(depth) + XMLUtil::BEGIN_ELEMENT + Name());
        for (const XMLAttribute& attribute : Attributes()) {
            write(out, format.IsNewParagraph() ? XMLUtil::ROWSEP : XMLUtil::SPACE);
            write(out, format.HasIndentation() ? XMLUtil::GetTabs(depth + 1) : "");
            attribute.ExportTo(out, format, utf8);
        }
        if (count_ == 0) {
            write(out, XMLUtil::BEGIN_END_ELEMENT + XMLUtil::END_ELEMENT);
        } else {
            write(out, XMLUtil::END_ELEMENT);
            std::istringstream lines(stored_.str());
            for (std::string line; std::getline(lines, line);) {
                if (!line.empty()) {
                    write(out, lead(depth + 1));
                    out << line;
                }
            }
            write(out, lead(depth) + XMLUtil::BEGIN_ELEMENT + XMLUtil::BEGIN_END_ELEMENT + Name() +
                           XMLUtil::END_ELEMENT);
        }
        format.SetIsNewParagraph(true);
        format.SetIndentation(true);
        return 0;
    }

private:
    int Store(XMLInterface* child) {
        ExportFormat fresh;
        child->ExportTo(stored_, fresh, false);
        delete child;
        return ++count_;
    }

    std::stringstream stored_;
    int count_ = 0;
};

XMLElement* Row(const std::string& text) {
    XMLElement* row = XMLElement::Create("Row");
    row->AddText(XMLString::Create(text));
    return row;
}

}  // namespace

TEST(XmlWriter, SubclassStoringWrittenChildrenFitsTheLayout) {
    XMLElement root("PMML");
    root.AddChild(XMLElement::Create("Header"));
    auto* table = new StoredElement("SimpleTable");
    table->AddAttribute("name", "t");
    table->AddChild(XMLElement::Create("RowNames"));
    EXPECT_EQ(table->AddChild(Row("1;a<b")), 2);
    XMLElement* nested = XMLElement::Create("SimpleTable");
    nested->AddChild(Row("2"));
    table->AddChild(nested);
    root.AddChild(table);
    auto* empty = new StoredElement("SimpleTable");
    empty->AddAttribute("name", "e");
    root.AddChild(empty);
    root.AddChild(XMLElement::Create("Footer"));

    const std::string doc = Document(root, false);
    EXPECT_EQ(doc,
              "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n"
              "<PMML>\n"
              "  <Header/>\n"
              "  <SimpleTable\n"
              "    name=\"t\">\n"
              "    <RowNames/>\n"
              "    <Row>1;a&lt;b</Row>\n"
              "    <SimpleTable>\n"
              "      <Row>2</Row>\n"
              "    </SimpleTable>\n"
              "  </SimpleTable>\n"
              "  <SimpleTable\n"
              "    name=\"e\"/>\n"
              "  <Footer/>\n"
              "</PMML>\n");
    REQUIRE_XMLLINT();
    EXPECT_EQ(Parse(doc, "count(//Row)"), "2");
}

TEST(XmlElement, CloneIsDeepAndStringExportMatchesStream) {
    auto original = std::make_unique<XMLElement>("A");
    original->AddAttribute("k", "v\xC3\xA9");
    XMLElement* child = XMLElement::Create("B");
    EXPECT_EQ(original->AddChild(child), 1);
    EXPECT_EQ(original->AddText(XMLString::Create("t")), 2);
    std::unique_ptr<XMLInterface> copy(original->Clone());
    child->AddAttribute("changed", "yes");
    original.reset();

    std::string text;
    ExportFormat format;
    copy->ExportToString(text, format);
    EXPECT_EQ(text, "<A k=\"v\xC3\xA9\">\n  <B/>\n  t\n</A>\n");
    std::ostringstream streamed;
    ExportFormat streamFormat;
    EXPECT_EQ(copy->ExportTo(streamed, streamFormat, true), 0);
    EXPECT_EQ(streamed.str(), text);
}

TEST(XmlElement, NumericAttributesAreIntegersWhenIntegral) {
    XMLElement e("E");
    const std::vector<std::pair<double, std::string>> cases = {
        {3.0, "3"}, {-42.0, "-42"}, {-0.0, "0"}, {0.1 + 0.2, "0.3"}, {2.5, "2.5"}, {1e20, "1e+20"}};
    for (const auto& [value, text] : cases) {
        e.AddAttribute("n" + text, value);
        EXPECT_EQ(e.Attributes().back().Value(), text);
    }
}

TEST(ReplaceSep, PrintsWithAPointInEveryLocale) {
    EXPECT_EQ(ReplaceSep(0.1 + 0.2, "%.15g"), "0.3");
    EXPECT_EQ(ReplaceSep(1e300, "%.15g"), "1e+300");
    EXPECT_EQ(ReplaceSep(-0.5, "%.15g"), "-0.5");
    const std::string wide = ReplaceSep(1e300, "%.2f");  // longer than a first-guess buffer
    EXPECT_EQ(wide.size(), 304u);
    EXPECT_EQ(wide.substr(0, 2) + wide.substr(301), "10.00");

    // Any installed locale whose decimal separator is not a point.
    std::vector<std::string> candidates = {"de_DE.UTF-8", "fr_FR.UTF-8"};
    Pipe pipe(popen("locale -a 2>/dev/null", "r"), pclose);
    char line[256];
    while (pipe && std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        candidates.emplace_back(line, std::strcspn(line, "\r\n"));
    }
    for (const std::string& name : candidates) {
        if (std::setlocale(LC_NUMERIC, name.c_str()) == nullptr ||
            std::strcmp(std::localeconv()->decimal_point, ".") == 0) {
            continue;
        }
        const std::string point = ReplaceSep(-1234.5, "%.15g");
        const std::string sum = ReplaceSep(0.1 + 0.2, "%.15g");
        std::setlocale(LC_NUMERIC, "C");
        EXPECT_EQ(point, "-1234.5") << name;
        EXPECT_EQ(sum, "0.3") << name;
        return;
    }
    std::setlocale(LC_NUMERIC, "C");
    GTEST_SKIP() << "no installed locale with another decimal separator";
}
