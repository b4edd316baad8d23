// The steps of knn init, each in a file of its own: scanning the columns of the data
// (InitScan.cpp), deciding each column's role and kind (InitRoles.cpp), choosing how K is set
// (Init.cpp) and writing the settings document (InitDocument.cpp).
#pragma once

#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "Init.h"
#include "VelLimits.h"

namespace knncli {

// More distinct values than this make a column useless as categories (and expensive to keep);
// the component refuses a target or predictor with more.
inline constexpr size_t kMaxCategories = VelCommon_940::kMaxCategories;

// What one pass over the data learnt about a column.
struct Column {
    std::string name;
    long present = 0;            // cells that are not missing
    long numbers = 0;            // present cells that are numbers
    bool firstIsNumber = false;  // the first present cell is a number
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    // Distinct values with the number of cells that hold them, while there are few enough.
    std::map<double, long> numericValues;
    std::map<std::string, long> texts;
    bool tooManyNumbers = false;
    bool tooManyTexts = false;
    std::string firstText;  // first present cell that is not a number
    long firstTextLine = 0;

    bool AllNumbers() const { return numbers == present; }
    // At least 90% of the present cells are numbers: a cell that is not is taken for a mistake.
    bool MostlyNumbers() const { return present > 0 && numbers * 10 >= present * 9; }
};

struct ScannedData {
    std::string path;
    long records = 0;
    std::vector<Column> columns;  // in file order; the column's position is its index
};

// Reads the file once. Throws CsvError for a faulty file, CliError when interrupted.
ScannedData ScanColumns(const std::string& path, const std::function<bool()>& interrupted);

enum class Role { kOther, kLeftOut, kTarget, kPredictor, kId, kFocal, kFold };

enum class Kind {
    kContinuous,         // declared range: the data's minimum and maximum
    kNumericCategories,  // the distinct numbers
    kStringCategories,   // the distinct texts
    kRecordNumber,       // text identifiers: the component is given the record number
};

// How the settings set K.
struct KChoice {
    bool automatic = false;  // false: K is fixed at specifiedK
    int folds = 0;           // automatic: folds of cross-validation; 0: chosen with the features
    int minK = 0;
    int maxK = 0;
    int specifiedK = 0;
};

// Everything the document is written from.
struct Plan {
    std::vector<Role> roles;      // per column
    std::vector<Kind> kinds;      // per column; meaningless for columns left out
    std::vector<size_t> targets;  // in the order of --target
    std::vector<size_t> forced;   // features that forward selection must keep
    std::string idName;           // the identifier field: the --id column or a generated one
    std::string focalName;
    std::string foldName;  // the fold field: the --fold column or a generated one
    KChoice k;
    std::vector<std::string> notes;
};

// Gives each column its role and kind, and checks that the options fit the data. Adds a note
// for every column left out, or treated otherwise than its values suggest. Throws CliError or
// CsvError.
Plan DecideRoles(const InitOptions& options, const ScannedData& data);

std::string WriteDocument(const InitOptions& options, const ScannedData& data, const Plan& plan);

// `name` in double quotes, for notes and messages.
inline std::string Quote(const std::string& name) {
    return "\"" + name + "\"";
}

}  // namespace knncli
