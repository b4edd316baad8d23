// Disk-backed elements: children go to the element's temporary file at once, come back between
// its tags when the tree is written, and the file disappears with the element.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>

#include "PmmlTestSupport.h"
#include "knn/pmml/KNNXMLArchiveElement.h"
#include "knn/tables/KNNTableFormat.h"

using knn_test::ScratchDir;
using KNNPMML_800::CreateArchiveElement;
using KNNPMML_800::KNNXMLArchiveElement;
using KNNPMML_800::MakeTempFileName;
using VelXML_940::XMLElement;
namespace fs = std::filesystem;

TEST(ArchiveElement, StreamsChildrenThroughItsFileAndRemovesIt) {
    ScratchDir dir;
    std::string path;
    {
        XMLElement root("PMML");
        KNNXMLArchiveElement* table = CreateArchiveElement("SimpleTable", false, dir.Prefix());
        ASSERT_NE(table, nullptr);
        path = table->TempPath();
        EXPECT_TRUE(
            std::regex_match(fs::path(path).filename().string(), std::regex(R"(_knn[0-9]+\.tmp)")))
            << path;
        EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir.Path()));

        table->AddAttribute("name", "t");
        KNN_800::AddColumnNames(table, "a;b");
        KNN_800::AddRow(table, "1;x<y");
        KNN_800::AddIntegerRow(table, {5, 0, 12});
        table->AddVerbatim("<Free/>\n\n<Free/>");  // the blank line is dropped on output
        EXPECT_EQ(table->ChildCount(), 5);
        EXPECT_TRUE(table->Children().empty());  // written at once, not kept
        root.AddChild(table);
        KNNXMLArchiveElement* empty = CreateArchiveElement("SimpleTable", false, dir.Prefix());
        ASSERT_NE(empty, nullptr);
        EXPECT_NE(empty->TempPath(), path);
        empty->AddAttribute("name", "e");
        root.AddChild(empty);

        std::ostringstream out;
        VelXML_940::WriteTree(out, nullptr, &root, false);
        const std::string expected =
            "<PMML>\n"
            "  <SimpleTable\n"
            "    name=\"t\">\n"
            "    <RowNames/>\n"
            "    <ColumnNames>a;b</ColumnNames>\n"
            "    <Row>1;x&lt;y</Row>\n"
            "    <Row>5;0;12</Row>\n"
            "    <Free/>\n"
            "    <Free/>\n"
            "  </SimpleTable>\n"
            "  <SimpleTable\n"
            "    name=\"e\"/>\n"
            "</PMML>\n";
        EXPECT_EQ(out.str(), expected);
        // Writing reads the file without consuming it; the string form is the same text.
        std::string text;
        VelXML_940::ExportFormat format;
        format.SetIndentation(true);
        root.ExportToString(text, format);
        EXPECT_EQ(text, expected);
        EXPECT_EQ(dir.Files().size(), 2u);
    }
    EXPECT_TRUE(dir.Files().empty());
}

TEST(ArchiveElement, EncodesChildrenWithItsOwnFlag) {
    ScratchDir dir;
    const std::string name =
        "Gr\xC3\xB6\xC3\x9F"
        "e";
    for (const bool utf8 : {false, true}) {
        std::unique_ptr<KNNXMLArchiveElement> table(
            CreateArchiveElement("SimpleTable", utf8, dir.Prefix()));
        ASSERT_NE(table, nullptr);
        KNN_800::AddRow(table.get(), name);
        std::ostringstream out;
        VelXML_940::ExportFormat format;
        table->ExportTo(out, format, utf8);
        EXPECT_NE(out.str().find(utf8 ? name : "Gr&#xF6;&#xDF;e"), std::string::npos) << out.str();
    }
}

TEST(ArchiveElement, TemporaryFileNames) {
    ScratchDir dir;
    // Without a trailing separator the directory text is a plain prefix of the file name.
    const std::string prefixed = MakeTempFileName(dir.Path() + "/run", "_knn");
    EXPECT_TRUE(std::regex_match(fs::path(prefixed).filename().string(),
                                 std::regex(R"(run_knn[0-9]+\.tmp)")))
        << prefixed;
    EXPECT_FALSE(fs::exists(prefixed));  // only named, not created

    // Empty: a new, unique file in the system's temporary directory.
    const std::string system = MakeTempFileName("", "_knn");
    EXPECT_EQ(fs::path(system).parent_path(), fs::path(P_tmpdir));
    EXPECT_EQ(fs::path(system).filename().string().rfind("_knn", 0), 0u) << system;
    EXPECT_TRUE(fs::exists(system));
    const std::string another = MakeTempFileName("", "_knn");
    EXPECT_NE(another, system);
    fs::remove(system);
    fs::remove(another);
    {
        std::unique_ptr<KNNXMLArchiveElement> table(CreateArchiveElement("T", false, ""));
        ASSERT_NE(table, nullptr);
        EXPECT_TRUE(fs::exists(table->TempPath()));
        const std::string path = table->TempPath();
        table.reset();
        EXPECT_FALSE(fs::exists(path));
    }

    // A directory that does not exist, or a path through a regular file: no element.
    EXPECT_EQ(CreateArchiveElement("T", false, dir.Prefix() + "missing/"), nullptr);
    std::ofstream(dir.Path() + "/plain") << "x";
    EXPECT_EQ(CreateArchiveElement("T", false, dir.Prefix() + "plain/"), nullptr);
}
