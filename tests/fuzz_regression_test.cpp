// Every input kept under tests/fuzz, the fuzzers' seed corpora and the inputs that once broke a
// reader (regressions/), read again through the same entry points as the fuzz targets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/FuzzEntries.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFuzzDir = fs::path(KNN_SOURCE_DIR) / "tests" / "fuzz";

// Reads every file of the directories through `entry`; returns how many there were.
template <typename Entry>
int ReadAll(std::initializer_list<const char*> directories, Entry entry) {
    int count = 0;
    for (const char* directory : directories) {
        if (!fs::exists(kFuzzDir / directory)) {
            continue;
        }
        for (const auto& file : fs::directory_iterator(kFuzzDir / directory)) {
            std::ifstream in(file.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            EXPECT_EQ(entry(bytes.str()), "") << file.path();
            ++count;
        }
    }
    return count;
}

}  // namespace

TEST(FuzzInputs, SettingsDocuments) {
    EXPECT_GT(ReadAll({"corpus-settings", "regressions/settings"}, knn_fuzz::ReadSettingsDocument),
              0);
}

TEST(FuzzInputs, CsvFiles) {
    EXPECT_GT(ReadAll({"corpus-csv", "regressions/csv"}, knn_fuzz::ReadCsvFile), 0);
}

TEST(FuzzInputs, ModelDocuments) {
    EXPECT_GT(ReadAll({"corpus-model", "regressions/model"}, knn_fuzz::ReadModelDocumentFile), 0);
}
