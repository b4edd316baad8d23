// Writing a first settings document from a CSV file: the dictionary is inferred from the
// data, the roles and the way the model is chosen come from the command line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace knncli {

struct InitOptions {
    std::string data;                      // CSV file to learn the dictionary from
    std::vector<std::string> targets;      // at least one
    std::string id;                        // identifier column; empty: record number
    std::string focal;                     // focal column; empty: every record is focal
    std::string fold;                      // column that gives each record's fold; empty: none
    std::vector<std::string> predictors;   // empty: every column not otherwise used
    std::vector<std::string> exclude;      // columns left out of the analysis
    std::vector<std::string> categorical;  // numeric columns to treat as categories
    std::string tempDir;                   // TempFileDir, with its trailing separator
    int k = 0;                             // a fixed K; 0: chosen automatically
    int minK = 0;                          // bounds of automatic K; 0: the default
    int maxK = 0;
    int folds = 0;  // folds numbered by record; 0: min(10, records)

    // Forward feature selection: a fixed number of features besides the forced ones, or an
    // automatic stop when the error changes by less than selectStop (relative).
    int selectCount = 0;
    bool selectAuto = false;
    std::optional<double> selectStop;
    std::vector<std::string> forced;

    bool weight = false;     // weigh the features by their importance
    bool cityBlock = false;  // city-block distance instead of Euclidean
    bool rescale = true;     // rescale continuous predictors by their declared range
    bool median = false;     // predict continuous targets by the neighbours' median

    bool Selects() const { return selectCount > 0 || selectAuto; }
};

struct InferredSettings {
    std::string document;            // the settings document, UTF-8 XML
    std::vector<std::string> notes;  // what the user should know about it, one sentence each
};

// Reads the data once and builds the document. Columns whose values are all numbers become
// continuous fields whose declared range is the data's minimum and maximum; other columns (and
// those named in `categorical`) become categorical fields with their distinct values, sorted,
// as categories. A column of which at least 90% of the values are numbers but one is not is
// an error that names the cell, unless `categorical` names it or it is left out. Columns
// without any value or with a single value are left out, and so are text columns that look
// like identifiers unless `predictors` names them (a note says so); excluded columns are left
// out too. An identifier column of texts is declared with the record numbers 1 ... records.
// When no identifier (focal) column is named, the document adds a field that `knn run` fills
// with the record number (the first category). Unless `k` fixes K, the component is to choose
// K: with feature selection together with the features (MaxK up to records - 1); otherwise
// by cross-validation over the `fold` column, or over a fold field that the document adds and
// `knn run` fills by record number: V = `folds` or min(10, records) folds, K from
// min(3, MaxK - 1) to MaxK = min(10, the records outside the largest fold), unless `minK` and
// `maxK` say otherwise; with fewer than three records K is fixed. Throws CsvError for a faulty
// file, CliError for options that do not fit together or do not fit the data.
InferredSettings InferSettings(const InitOptions& options,
                               const std::function<bool()>& interrupted);

// Generated field names, unless the data already use them (then a number is appended).
inline constexpr const char* kGeneratedIdName = "_row";
inline constexpr const char* kGeneratedFocalName = "_focal";
inline constexpr const char* kGeneratedFoldName = "_fold";

}  // namespace knncli
