// Helpers for the model-document tests: validation against the PMML 4.3 schema, a scratch
// directory for temporary files, the export of a model built with ModelFixture, and lookups of
// elements and table rows in the written text (whose layout the host writer fixes).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ModelFixture.h"
#include "knn/pmml/KNNPMMLWriter.h"

namespace knn_test {

// Validates with xmllint against the schema kept in tests/pmml. Both are required: without
// them the check fails instead of passing silently.
inline ::testing::AssertionResult MatchesSchema(const std::string& document) {
    const std::string schema = std::string(KNN_SOURCE_DIR) + "/tests/pmml/pmml-4-3.xsd";
    if (!std::filesystem::exists(schema) || access("/usr/bin/xmllint", X_OK) != 0) {
        return ::testing::AssertionFailure() << "need " << schema << " and /usr/bin/xmllint";
    }
    const std::string path = ::testing::TempDir() + "pmml_" + std::to_string(getpid()) + ".xml";
    std::ofstream(path, std::ios::binary) << document;
    FILE* pipe = popen(
        ("/usr/bin/xmllint --noout --schema '" + schema + "' '" + path + "' 2>&1").c_str(), "r");
    std::string output;
    char buffer[512];
    for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int rc = pipe != nullptr ? pclose(pipe) : -1;
    std::remove(path.c_str());
    if (rc != 0) {
        return ::testing::AssertionFailure() << "not valid PMML 4.3:\n" << output;
    }
    return ::testing::AssertionSuccess();
}

// A fresh directory for temporary files, removed with its content.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = ::testing::TempDir() + "knn_pmml_XXXXXX";
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string Prefix() const { return path_ + "/"; }  // as a TempFileDir value
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

// The text of the element that starts at `at`, up to and including its end tag.
inline std::string ElementAt(const std::string& text, size_t at) {
    if (at == std::string::npos)
        return "";
    const std::string tag = text.substr(at + 1, text.find_first_of(" \n/>", at + 1) - at - 1);
    const size_t open = text.find('>', at);
    const size_t end =
        text[open - 1] == '/' ? open + 1 : text.find("</" + tag + ">", open) + tag.size() + 3;
    return text.substr(at, end - at);
}

// The `nth` element whose start tag begins with `start`; empty when there is none.
inline std::string Element(const std::string& text, const std::string& start, int nth = 0) {
    size_t at = text.find(start);
    for (; nth > 0 && at != std::string::npos; --nth)
        at = text.find(start, at + 1);
    return ElementAt(text, at);
}

// The table (simple or complex) named `name`.
inline std::string Table(const std::string& text, const std::string& name) {
    const size_t at = text.find("name=\"" + name + "\">");
    return at == std::string::npos ? "" : ElementAt(text, text.rfind('<', at));
}

// The texts of the elements `tag` directly inside `text`, in order.
inline std::vector<std::string> Texts(const std::string& text, const std::string& tag = "Row") {
    std::vector<std::string> texts;
    const std::string open = "<" + tag + ">";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
        const size_t begin = at + open.size();
        texts.push_back(text.substr(begin, text.find("</" + tag + ">", begin) - begin));
    }
    return texts;
}

inline std::string Columns(const std::string& table) {
    const std::vector<std::string> columns = Texts(table, "ColumnNames");
    return columns.empty() ? "" : columns.front();
}

// The start-tag lines indented by `indent` spaces, without the indentation.
inline std::vector<std::string> TagLines(const std::string& text, size_t indent) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.size() > indent + 1 && line.find_first_not_of(' ') == indent &&
            line[indent + 1] != '/') {
            lines.push_back(line.substr(indent));
        }
    }
    return lines;
}

// A model built with ModelFixture and exported with KNNPMMLWriter.
struct ExportedModel {
    ModelFixture fixture;
    VelCommon_940::VelStatus status;
    std::string document;

    bool Build(const SettingsDocument& settings, VelCommon_940::RecordSource& source) {
        const VelCommon_940::VelStatus built = fixture.Build(settings, source);
        EXPECT_TRUE(built.IsOK()) << built.GetErrorCode() << " " << built.GetMessage();
        return built.IsOK();
    }
    // A successful document is checked against the schema.
    VelCommon_940::VelStatus Export(const VelCommon_940::ExportOptions* options = nullptr) {
        KNN_800::KNNPMMLWriter writer(*fixture.preparation, fixture.model->Models(),
                                      fixture.model->Selection(), fixture.context);
        std::ostringstream out;
        status = writer.WriteDocument(out, options);
        document = out.str();
        if (status.IsOK()) {
            EXPECT_TRUE(MatchesSchema(document));
        }
        return status;
    }
    std::string Model(int m) const { return Element(document, "<NearestNeighborModel ", m); }
};

}  // namespace knn_test
