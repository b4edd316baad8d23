// Disk-backed elements: children go to the element's temporary file at once, come back between
// its tags when the tree is written, and the file disappears with the element.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "PmmlTestSupport.h"
#include "knn/pmml/KNNXMLArchiveElement.h"
#include "knn/tables/KNNTableFormat.h"

using knn_test::ScratchDir;
using KNNPMML_800::CreateArchiveElement;
using KNNPMML_800::KNNXMLArchiveElement;
namespace fs = std::filesystem;

TEST(ArchiveElement, StreamsChildrenThroughItsFileAndRemovesIt) {
    ScratchDir dir;
    int error = 0;
    {
        VelXML_940::XMLElement root("PMML");
        KNNXMLArchiveElement* table =
            CreateArchiveElement("SimpleTable", false, dir.Prefix(), error).release();
        ASSERT_NE(table, nullptr);
        EXPECT_TRUE(
            std::regex_match(table->TempPath(), std::regex(dir.Prefix() + R"(_knn[0-9]+\.tmp)")));
        table->AddAttribute("name", "t");
        KNN_800::AddColumnNames(table, "a;b");
        KNN_800::AddRow(table, "1;x<\xC3\xA9");
        KNN_800::AddIntegerRow(table, {5, 0, 12});
        table->AddVerbatim("<Free/>\n\n<Free/>");  // the blank line is dropped on output
        EXPECT_EQ(table->ChildCount(), 5);
        EXPECT_TRUE(table->Children().empty());  // nothing kept in memory
        root.AddChild(table);
        KNNXMLArchiveElement* empty =
            CreateArchiveElement("SimpleTable", false, dir.Prefix(), error).release();
        ASSERT_NE(empty, nullptr);
        empty->AddAttribute("name", "e");
        root.AddChild(empty);
        EXPECT_EQ(dir.Files().size(), 2u);

        const std::string expected =
            "<PMML>\n"
            "  <SimpleTable\n"
            "    name=\"t\">\n"
            "    <RowNames/>\n"
            "    <ColumnNames>a;b</ColumnNames>\n"
            "    <Row>1;x&lt;&#xE9;</Row>\n"
            "    <Row>5;0;12</Row>\n"
            "    <Free/>\n"
            "    <Free/>\n"
            "  </SimpleTable>\n"
            "  <SimpleTable\n"
            "    name=\"e\"/>\n"
            "</PMML>\n";
        // Writing reads the file without consuming it: as a stream, then as a string.
        std::ostringstream out;
        VelXML_940::WriteTree(out, nullptr, &root, false);
        EXPECT_EQ(out.str(), expected);
        std::string text;
        VelXML_940::ExportFormat format;
        format.SetIndentation(true);
        root.ExportToString(text, format);
        EXPECT_EQ(text, expected);
    }
    EXPECT_TRUE(dir.Files().empty());
}

TEST(ArchiveElement, TemporaryFileNames) {
    ScratchDir dir;
    int error = 0;
    // Without a trailing separator the directory text is a plain prefix of the file name.
    std::unique_ptr<KNNXMLArchiveElement> prefixed(
        CreateArchiveElement("T", false, dir.Path() + "/run", error));
    ASSERT_NE(prefixed, nullptr);
    EXPECT_TRUE(
        std::regex_match(prefixed->TempPath(), std::regex(dir.Prefix() + R"(run_knn[0-9]+\.tmp)")));
    prefixed.reset();

    // Empty: the system's temporary directory.
    std::unique_ptr<KNNXMLArchiveElement> table(CreateArchiveElement("T", true, "", error));
    ASSERT_NE(table, nullptr);
    const fs::path path = table->TempPath();
    EXPECT_EQ(path.parent_path(), fs::path(P_tmpdir));
    EXPECT_EQ(path.filename().string().rfind("_knn", 0), 0u) << path;
    table.reset();
    EXPECT_FALSE(fs::exists(path));

    // A directory that does not exist, or a path through a regular file: no element, and the
    // cause.
    EXPECT_EQ(CreateArchiveElement("T", false, dir.Prefix() + "missing/", error), nullptr);
    EXPECT_EQ(error, ENOENT);
    std::ofstream(dir.Path() + "/plain") << "x";
    EXPECT_EQ(CreateArchiveElement("T", false, dir.Prefix() + "plain/", error), nullptr);
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"plain"});
}

TEST(ArchiveElement, RowsStoredDirectlyReadBackAsRowElements) {
    ScratchDir dir;
    // Markup, a line break, a control character, text that is and is not UTF-8, an empty
    // row, and rows longer than a block of the read-back.
    const std::vector<std::string> rows = {
        "1;2.5;-3e+20",
        "a&b<c>d\"e'f",
        "two\nlines",
        std::string("nul\x01;tab\t"),
        "caf\xC3\xA9;\xFF\xFE",
        "",
        std::string(200000, '7'),
        std::string(70000, 'x') + "\n" + std::string(65536, 'y')};
    for (const bool utf8 : {false, true}) {
        int error = 0;
        VelXML_940::XMLElement direct("PMML");
        VelXML_940::XMLElement built("PMML");
        KNNXMLArchiveElement* fast = CreateArchiveElement("T", utf8, dir.Prefix(), error).release();
        KNNXMLArchiveElement* slow = CreateArchiveElement("T", utf8, dir.Prefix(), error).release();
        direct.AddChild(fast);
        built.AddChild(slow);
        for (const std::string& row : rows) {
            EXPECT_EQ(fast->AddRow(row), slow->ChildCount() + 1);
            KNN_800::AddRow(slow, row);
        }
        std::ostringstream a, b;
        (utf8 ? VelXML_940::WriteTreeUTF8 : VelXML_940::WriteTree)(a, nullptr, &direct, true);
        (utf8 ? VelXML_940::WriteTreeUTF8 : VelXML_940::WriteTree)(b, nullptr, &built, true);
        EXPECT_EQ(a.str(), b.str());
        EXPECT_NE(a.str().find("\n    <Row>a&amp;b&lt;c&gt;d&quot;e&apos;f</Row>\n"),
                  std::string::npos);
        EXPECT_NE(a.str().find("\n    <Row>" + std::string(200000, '7') + "</Row>\n"),
                  std::string::npos);
    }
}

TEST(ArchiveElement, NumberedRowsComeOutInNumberOrder) {
    ScratchDir dir;
    const std::vector<std::string> rows = {"r0", std::string(100000, 'a'), "r<2>",
                                           "three\nlines\n"};
    const auto exported = [&](const std::vector<size_t>& order, bool twice) {
        int error = 0;
        VelXML_940::XMLElement root("PMML");
        KNNXMLArchiveElement* table =
            CreateArchiveElement("T", false, dir.Prefix(), error).release();
        root.AddChild(table);
        KNN_800::AddColumnNames(table, "c");
        table->NumberRows(rows.size());
        if (twice) {
            table->AddRowAt(1, "replaced later");
        }
        for (const size_t number : order) {
            table->AddRowAt(number, rows[number]);
        }
        EXPECT_EQ(table->ChildCount(), 2 + static_cast<int>(rows.size()));
        std::ostringstream out;
        VelXML_940::WriteTree(out, nullptr, &root, false);
        std::string text;
        VelXML_940::ExportFormat format;
        format.SetIndentation(true);
        root.ExportToString(text, format);
        EXPECT_EQ(text, out.str());
        return out.str();
    };
    const std::string inOrder = exported({0, 1, 2, 3}, false);
    EXPECT_NE(inOrder.find("<ColumnNames>c</ColumnNames>\n    <Row>r0</Row>\n    <Row>aaa"),
              std::string::npos);
    EXPECT_NE(inOrder.find(
                  "<Row>r&lt;2&gt;</Row>\n    <Row>three\n    lines\n    </Row>\n  </T>\n</PMML>"),
              std::string::npos);
    EXPECT_EQ(exported({2, 0, 3, 1}, false), inOrder);
    EXPECT_EQ(exported({3, 2, 1, 0}, true), inOrder);
    EXPECT_TRUE(dir.Files().empty());
}
