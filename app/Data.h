// Turns a CSV file into records for the component: the header maps columns to dictionary
// fields by name, each cell becomes a number (continuous field) or a category code
// (categorical field), and cases that the component will drop are counted with their reason.
#pragma once

#include <compare>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Settings.h"

namespace knncli {

// Why a record is not a valid case: the first used field, in dictionary order, whose value
// cannot be used.
struct DropReason {
    enum Kind { kMissingValue, kUnknownCategory } kind;
    int field;
    auto operator<=>(const DropReason&) const = default;
};

struct LoadedData {
    std::string file;
    int width = 0;               // values per record: the dictionary's size
    std::vector<double> values;  // one record after another
    std::vector<long> lines;     // line on which each record starts
    long validCases = 0;         // records with a usable value in every used field
    std::map<DropReason, long> dropped;
    // Up to three distinct unknown category texts per field, to show in messages.
    std::map<int, std::vector<std::string>> unknownExamples;
    // Values of used continuous fields that lie outside the declared range, per field.
    std::map<int, long> outOfRange;
    // (record, field) of every cell whose text is not a category of its field.
    std::set<std::pair<long, int>> unknownCells;
    bool caseIdFromRecordNumber = false;  // the identifier column is absent
    bool focalSupplied = false;           // the focal column is absent
    bool foldSupplied = false;            // the fold column is absent: folds by record number
    // Per dictionary field, the CSV column it is read from, or -1.
    std::vector<int> columns;

    // Identifiers that are texts (the first identifier of the training data is not a
    // number): the component gets record numbers (training) or the record number of the
    // training case with the same text (scoring, missing when there is none), and the outputs
    // show the texts.
    bool textIds = false;
    std::vector<std::string> idTexts;                 // per record, with text identifiers
    std::unordered_map<std::string, long> idRecords;  // training: text -> first record number

    long Records() const { return static_cast<long>(lines.size()); }
    bool HasColumn(int field) const {
        return field >= 0 && static_cast<size_t>(field) < columns.size() &&
               columns[static_cast<size_t>(field)] >= 0;
    }
    const double* Record(long index) const {
        return values.data() + static_cast<size_t>(index) * static_cast<size_t>(width);
    }
};

enum class DataRole {
    // Training data: every dictionary field needs a column, except the case identifier (then
    // the record number 1, 2, ...), the focal field (then its first category) and a
    // categorical fold field (then record r gets category code (r - 1) mod V, V being its
    // number of categories).
    kTraining,
    // Records to score: only the features need a column; an absent identifier is left
    // missing, so that a new record may find a training case at distance 0.
    kScoring,
};

// Reads `path` ("-": standard input). Throws CsvError for anything in the file that does not
// fit the settings (naming file, line and column), CliError when the file cannot be opened,
// and CliError(kExitInterrupted) when `interrupted` returns true while reading. Records to
// score take the identifiers' form (numbers or texts) from `training` when it is given.
LoadedData LoadData(const std::string& path, const AnalysisSettings& settings, DataRole role,
                    const std::function<bool()>& interrupted, const LoadedData* training = nullptr);

// Reads only the header of `path` and checks that it has the columns `role` needs, so that a
// mistake in a file read late in a run is found before the work starts. Throws as LoadData.
void CheckHeader(const std::string& path, const AnalysisSettings& settings, DataRole role);

// Human-readable reason, e.g. "missing value in field \"age\"".
std::string DescribeDropReason(const DropReason& reason, const AnalysisSettings& settings);

}  // namespace knncli
