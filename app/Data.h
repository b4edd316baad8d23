// Turns a CSV file into records for the component: the header maps columns to dictionary
// fields by name, each cell becomes a number (continuous field) or a category code
// (categorical field), and cases that the component will drop are counted with their reason.
// DataReader does it one record at a time, so that a file can be handed on as it is read;
// LoadData keeps every record's values.
#pragma once

#include <compare>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Csv.h"
#include "IdentifierTexts.h"
#include "Settings.h"

namespace knncli {

// Why a record is not a valid case: the first used field, in dictionary order, whose value
// cannot be used.
struct DropReason {
    enum Kind { kMissingValue, kUnknownCategory } kind;
    int field;
    auto operator<=>(const DropReason&) const = default;
};

// What is known of a data file once it is read: how many records, why some are no valid
// cases, and, only when LoadData kept them, the records' values.
struct LoadedData {
    std::string file;
    int width = 0;               // values per record: the dictionary's size
    long records = 0;            // records read
    std::vector<double> values;  // LoadData: one record after another
    std::vector<long> lines;     // LoadData: line on which each record starts
    long validCases = 0;         // records with a usable value in every used field
    std::map<DropReason, long> dropped;
    // Up to three distinct unknown category texts per field, to show in messages.
    std::map<int, std::vector<std::string>> unknownExamples;
    // Values of used continuous fields that lie outside the declared range, per field.
    std::map<int, long> outOfRange;
    // Records to score: (record, field) of every cell whose text is not a category of its field.
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
    IdentifierTexts idTexts;  // per record; in training data the first record of a text is found

    long Records() const { return records; }
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

struct FieldSource;

// What a cell gave its field.
enum class Cell { kValue, kMissing, kUnknownCategory };

// Reads a data file one record at a time. Throws CsvError for anything in the file that does
// not fit the settings (naming file, line and column), CliError when the file cannot be
// opened. Records to score take the identifiers' form (numbers or texts) from `training`
// when it is given; it must outlive the reader.
class DataReader {
public:
    // Opens `path` ("-": standard input), reads the header and maps the columns to the fields.
    DataReader(const std::string& path, const AnalysisSettings& settings, DataRole role,
               const LoadedData* training = nullptr);
    ~DataReader();
    DataReader(const DataReader&) = delete;
    DataReader& operator=(const DataReader&) = delete;

    // The values of the next record, one per dictionary field, valid until the next call;
    // null at the end of the file.
    const double* Next();
    // Line on which the last record read starts.
    long RecordLine() const { return reader_.RecordLine(); }
    // Bytes of the file read so far.
    uint64_t Consumed() const { return reader_.Consumed(); }
    // What is known of the records read so far (no values).
    const LoadedData& Facts() const { return data_; }
    LoadedData TakeFacts() { return std::move(data_); }

private:
    Cell Identifier(std::string_view text, long record, double& value);

    DataInput input_;
    CsvReader reader_;
    const AnalysisSettings& settings_;
    DataRole role_;
    const LoadedData* training_;
    LoadedData data_;
    size_t columns_ = 0;  // of the header
    std::vector<FieldSource> sources_;
    std::vector<int> used_;  // used fields, in dictionary order
    bool idFormKnown_ = false;
    std::vector<std::string_view> fields_;
    std::vector<Cell> cells_;
    std::vector<double> row_;
};

// Reads `path` ("-": standard input) and keeps every record's values and the line it starts
// on. Throws as DataReader, and CliError(kExitInterrupted) when `interrupted` returns true
// while reading.
LoadedData LoadData(const std::string& path, const AnalysisSettings& settings, DataRole role,
                    const std::function<bool()>& interrupted, const LoadedData* training = nullptr);

// The message of an interruption while `file` is read.
std::string ReadingInterrupted(const std::string& file);

// Reads only the header of `path` and checks that it has the columns `role` needs, so that a
// mistake in a file read late in a run is found before the work starts. Throws as LoadData.
void CheckHeader(const std::string& path, const AnalysisSettings& settings, DataRole role);

// Human-readable reason, e.g. "missing value in field \"age\"".
std::string DescribeDropReason(const DropReason& reason, const AnalysisSettings& settings);

}  // namespace knncli
