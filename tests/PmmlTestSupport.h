// Helpers for the model-document tests: a small reader for the documents the writer produces,
// validation against the PMML 4.3 schema, a scratch directory for temporary files, and the
// export of a model built with ModelFixture.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ModelFixture.h"
#include "knn/pmml/KNNPMMLWriter.h"

namespace knn_test {

// One element of a parsed document: attributes in document order, element children, and the
// concatenated text directly inside it (entities decoded).
struct XmlNode {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<XmlNode> children;
    std::string text;

    bool Has(const std::string& key) const {
        for (const auto& [k, v] : attributes) {
            if (k == key)
                return true;
        }
        return false;
    }
    std::string Attr(const std::string& key) const {
        for (const auto& [k, v] : attributes) {
            if (k == key)
                return v;
        }
        return "";
    }
    std::vector<std::string> AttrNames() const {
        std::vector<std::string> names;
        for (const auto& a : attributes)
            names.push_back(a.first);
        return names;
    }
    std::vector<std::string> ChildNames() const {
        std::vector<std::string> names;
        for (const XmlNode& c : children)
            names.push_back(c.name);
        return names;
    }
    std::vector<const XmlNode*> All(const std::string& tag) const {
        std::vector<const XmlNode*> found;
        for (const XmlNode& c : children) {
            if (c.name == tag)
                found.push_back(&c);
        }
        return found;
    }
    // The first child with this tag (and, when given, this "name" attribute); null if none.
    const XmlNode* Child(const std::string& tag, const std::string& nameAttr = "") const {
        for (const XmlNode& c : children) {
            if (c.name == tag && (nameAttr.empty() || c.Attr("name") == nameAttr))
                return &c;
        }
        return nullptr;
    }
    // A simple or complex table child named `table`.
    const XmlNode* Table(const std::string& table) const {
        for (const XmlNode& c : children) {
            if ((c.name == "SimpleTable" || c.name == "ComplexTable") && c.Attr("name") == table)
                return &c;
        }
        return nullptr;
    }
    std::string Columns() const {
        const XmlNode* columns = Child("ColumnNames");
        return columns != nullptr ? columns->text : "<no ColumnNames>";
    }
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (const XmlNode* row : All("Row"))
            rows.push_back(row->text);
        return rows;
    }
};

class XmlReader {
public:
    explicit XmlReader(const std::string& text) : s(text) {}

    // The root element; fails the test on anything it does not understand.
    XmlNode Parse() {
        XmlNode root;
        SkipMisc();
        if (!ParseElement(root))
            ADD_FAILURE() << "malformed document near offset " << i;
        return root;
    }

private:
    void SkipSpace() {
        while (i < s.size() && isspace(static_cast<unsigned char>(s[i])))
            ++i;
    }
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            if (s.compare(i, 2, "<?") == 0) {
                i = s.find("?>", i) + 2;
            } else {
                return;
            }
        }
    }
    std::string Name() {
        const size_t start = i;
        while (i < s.size() && !isspace(static_cast<unsigned char>(s[i])) && s[i] != '=' &&
               s[i] != '>' && s[i] != '/')
            ++i;
        return s.substr(start, i - start);
    }
    static void AppendUtf8(std::string& out, unsigned long cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    static std::string Decode(const std::string& raw) {
        std::string out;
        for (size_t k = 0; k < raw.size(); ++k) {
            if (raw[k] != '&') {
                out += raw[k];
                continue;
            }
            const size_t end = raw.find(';', k);
            const std::string entity = raw.substr(k + 1, end - k - 1);
            if (entity == "amp")
                out += '&';
            else if (entity == "lt")
                out += '<';
            else if (entity == "gt")
                out += '>';
            else if (entity == "quot")
                out += '"';
            else if (entity == "apos")
                out += '\'';
            else if (entity.rfind("#x", 0) == 0)
                AppendUtf8(out, std::stoul(entity.substr(2), nullptr, 16));
            else if (entity.rfind("#", 0) == 0)
                AppendUtf8(out, std::stoul(entity.substr(1)));
            k = end;
        }
        return out;
    }
    bool ParseElement(XmlNode& node) {
        if (i >= s.size() || s[i] != '<')
            return false;
        ++i;
        node.name = Name();
        for (;;) {
            SkipSpace();
            if (i >= s.size())
                return false;
            if (s.compare(i, 2, "/>") == 0) {
                i += 2;
                return true;
            }
            if (s[i] == '>') {
                ++i;
                break;
            }
            std::string key = Name();
            if (i + 1 >= s.size() || s[i] != '=' || s[i + 1] != '"')
                return false;
            const size_t end = s.find('"', i + 2);
            node.attributes.emplace_back(key, Decode(s.substr(i + 2, end - i - 2)));
            i = end + 1;
        }
        for (;;) {
            const size_t next = s.find('<', i);
            if (next == std::string::npos)
                return false;
            node.text += Decode(s.substr(i, next - i));
            i = next;
            if (s.compare(i, 2, "</") == 0) {
                i = s.find('>', i) + 1;
                // Text only matters in elements without element children.
                if (!node.children.empty())
                    node.text.clear();
                return true;
            }
            node.children.emplace_back();
            if (!ParseElement(node.children.back()))
                return false;
        }
    }

    const std::string& s;
    size_t i = 0;
};

inline XmlNode ParseXml(const std::string& text) {
    return XmlReader(text).Parse();
}

inline const std::string kSchemaPath = std::string(KNN_SOURCE_DIR) + "/../shared/pmml/pmml-4-3.xsd";

// Validates `document` against the PMML 4.3 schema with xmllint. The schema and the tool are
// required: without them the check fails rather than passes silently.
inline ::testing::AssertionResult MatchesSchema(const std::string& document) {
    if (!std::filesystem::exists(kSchemaPath)) {
        return ::testing::AssertionFailure() << "the PMML schema is missing: " << kSchemaPath;
    }
    if (access("/usr/bin/xmllint", X_OK) != 0) {
        return ::testing::AssertionFailure() << "/usr/bin/xmllint is needed to validate";
    }
    const std::string path = ::testing::TempDir() + "pmml_doc_" + std::to_string(getpid()) + ".xml";
    std::ofstream(path, std::ios::binary) << document;
    const std::string command =
        "/usr/bin/xmllint --noout --schema '" + kSchemaPath + "' '" + path + "' 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int rc = pipe != nullptr ? pclose(pipe) : -1;
    std::remove(path.c_str());
    if (rc != 0) {
        return ::testing::AssertionFailure() << "schema validation failed:\n" << output;
    }
    return ::testing::AssertionSuccess();
}

// A fresh directory for the temporary files of an export, removed with its content.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = ::testing::TempDir() + "knn_pmml_XXXXXX";
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The directory as a TempFileDir value (with its trailing separator).
    std::string Prefix() const { return path_ + "/"; }
    const std::string& Path() const { return path_; }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    std::string path_;
};

// A model built with ModelFixture, exported with KNNPMMLWriter.
struct ExportedModel {
    ModelFixture fixture;
    VelCommon_940::VelStatus built;
    VelCommon_940::VelStatus status;
    std::string document;
    XmlNode root;

    // Builds; false (with a test failure) when the build does not succeed.
    bool Build(const SettingsDocument& settings, VelCommon_940::RecordSource& source) {
        built = fixture.Build(settings, source);
        EXPECT_TRUE(built.IsOK()) << built.GetErrorCode() << " " << built.GetMessage();
        return built.IsOK();
    }
    // Exports; a successful document is parsed and checked against the schema.
    VelCommon_940::VelStatus Export(const VelCommon_940::ExportOptions* options = nullptr) {
        KNN_800::KNNPMMLWriter writer(fixture.reader.Settings(), fixture.reader.Dictionary(),
                                      fixture.model.get(), fixture.preparation.get(),
                                      &fixture.probe);
        std::ostringstream out;
        status = writer.WriteDocument(out, options);
        document = out.str();
        if (status.IsOK()) {
            EXPECT_TRUE(MatchesSchema(document));
            root = ParseXml(document);
        }
        return status;
    }
    const XmlNode& Models() const {
        static const XmlNode none;
        const XmlNode* extension = root.Child("Extension", "Orvex Models");
        const XmlNode* models =
            extension != nullptr ? extension->Child("NearestNeighborModels") : nullptr;
        return models != nullptr ? *models : none;
    }
    // The element of model m.
    const XmlNode& Model(size_t m) const {
        static const XmlNode none;
        const std::vector<const XmlNode*> all = Models().All("NearestNeighborModel");
        return m < all.size() ? *all[m] : none;
    }
};

}  // namespace knn_test
