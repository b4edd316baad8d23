// Writing a first settings document from a CSV file: the dictionary is inferred from the
// data, the roles come from the command line.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace knncli {

struct InitOptions {
    std::string data;                      // CSV file to learn the dictionary from
    std::vector<std::string> targets;      // at least one
    std::string id;                        // identifier column; empty: record number
    std::string focal;                     // focal column; empty: every record is focal
    std::vector<std::string> predictors;   // empty: every column not otherwise used
    std::vector<std::string> exclude;      // columns left out of the analysis
    std::vector<std::string> categorical;  // numeric columns to treat as categories
    std::string tempDir;                   // TempFileDir, with its trailing separator
    int k = 0;                             // a fixed K; 0: chosen by cross-validation
};

struct InferredSettings {
    std::string document;            // the settings document, UTF-8 XML
    std::vector<std::string> notes;  // what the user should know about it, one sentence each
};

// Reads the data once and builds the document. Numeric columns become continuous fields whose
// declared range is the data's minimum and maximum; other columns (and those named in
// `categorical`) become categorical fields with their distinct values, sorted, as categories.
// Columns without any value or with a single value are left out (a note says so); excluded
// columns are left out too. When no identifier (focal) column is named, the document adds a
// field that `knn run` fills with the record number (the first category). Unless `k` fixes K,
// the component is to choose K by cross-validation over a fold field that the document adds
// and `knn run` fills by record number: V = min(10, records) folds, K from min(3, MaxK - 1) to
// MaxK = min(10, the records outside the largest fold); with fewer than three records K is
// fixed. Throws CsvError for a faulty file, CliError for options that do not fit the data.
InferredSettings InferSettings(const InitOptions& options,
                               const std::function<bool()>& interrupted);

// Generated field names, unless the data already use them (then a number is appended).
inline constexpr const char* kGeneratedIdName = "_row";
inline constexpr const char* kGeneratedFocalName = "_focal";
inline constexpr const char* kGeneratedFoldName = "_fold";

}  // namespace knncli
