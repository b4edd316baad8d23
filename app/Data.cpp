#include "Data.h"

#include <algorithm>
#include <cfloat>
#include <fstream>
#include <string_view>
#include <unordered_map>

#include "Csv.h"
#include "Errors.h"
#include "VelMV.h"

namespace knncli {

namespace {

using VelCommon_940::VelMV;

// Records read between two looks at the interruption flag.
constexpr long kRecordsPerCheck = 4096;
// Unknown category texts kept per field for messages.
constexpr size_t kExamplesPerField = 3;

enum class Cell { kValue, kMissing, kUnknownCategory };

// How one dictionary field gets its value in every record.
struct FieldSource {
    enum Kind { kColumn, kRecordNumber, kFold, kConstant } kind = kColumn;
    int column = -1;  // CSV column for kColumn
    double constant = 0.0;
    const VelXML_940::IVelVariable* variable = nullptr;
    const VelXML_940::VelValueTable* table = nullptr;
    bool categorical = false;
    bool numericCategories = false;
    bool checkRange = false;  // a used continuous field with a declared range
    double min = -DBL_MAX;
    double max = DBL_MAX;
};

double MissingFor(const FieldSource& source) {
    return source.categorical ? -1.0 : VelMV::Missing();
}

// Converts one cell; `value` receives the number, the category code, or the missing value.
Cell Convert(const FieldSource& source, const std::string& text, double& value,
             const CsvReader& reader, size_t column) {
    value = MissingFor(source);
    const VelXML_940::VelValueTable* table = source.table;
    if (table != nullptr && !text.empty() && table->IsMissingText(text)) {
        return Cell::kMissing;
    }
    if (source.categorical && !source.numericCategories) {
        // A declared category wins over the texts that usually mean "missing".
        const int code = table != nullptr ? table->FindText(text) : -1;
        if (code >= 0) {
            value = code;
            return Cell::kValue;
        }
        return IsMissingText(text) ? Cell::kMissing : Cell::kUnknownCategory;
    }
    if (IsMissingText(text)) {
        return Cell::kMissing;
    }
    const std::optional<double> number = ParseNumber(text);
    if (!number) {
        std::string message =
            Quoted(text) + " is not a number (field \"" + source.variable->Name() + "\" is " +
            (source.categorical ? "categorical with numeric categories" : "continuous") + ")";
        std::string withPoint = text;
        std::replace(withPoint.begin(), withPoint.end(), ',', '.');
        if (ParseNumber(withPoint)) {
            message += "; numbers use '.' as the decimal separator";
        }
        reader.Fail(column, message);
    }
    if (table != nullptr && table->IsMissingValue(*number)) {
        return Cell::kMissing;
    }
    if (source.categorical) {
        const int code = table != nullptr ? table->FindNumeric(*number) : -1;
        if (code < 0) {
            return Cell::kUnknownCategory;
        }
        value = code;
        return Cell::kValue;
    }
    value = *number;
    return Cell::kValue;
}

std::string Quote(const std::string& name) {
    return "\"" + name + "\"";
}

std::string JoinQuoted(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + Quote(names[i]);
    }
    return text;
}

}  // namespace

std::string DescribeDropReason(const DropReason& reason, const AnalysisSettings& settings) {
    return std::string(reason.kind == DropReason::kMissingValue ? "missing value"
                                                                : "unknown category") +
           " in field " + Quote(settings.FieldName(reason.field));
}

namespace {

// Maps every dictionary field to its source: a column of the header, or a value the program
// supplies. Throws CsvError naming the fields that `role` needs but the header lacks.
std::vector<FieldSource> MapFields(const std::vector<std::string>& header,
                                   const AnalysisSettings& settings, DataRole role,
                                   const CsvReader& reader, LoadedData& data) {
    const VelXML_940::VelVarList& dictionary = *settings.dictionary;
    const int width = dictionary.Size();
    std::vector<int> used = settings.usedFields;
    std::sort(used.begin(), used.end());
    const auto isUsed = [&used](int field) {
        return std::binary_search(used.begin(), used.end(), field);
    };
    // Column of each name; the first one for the empty name, which may come more than once.
    std::unordered_map<std::string_view, int> columnOf;
    columnOf.reserve(header.size());
    for (size_t column = 0; column < header.size(); ++column) {
        columnOf.emplace(header[column], static_cast<int>(column));
    }
    std::vector<FieldSource> sources(static_cast<size_t>(width));
    data.columns.assign(static_cast<size_t>(width), -1);
    std::vector<std::string> absent;
    for (int field = 0; field < width; ++field) {
        FieldSource& source = sources[static_cast<size_t>(field)];
        source.variable = dictionary.GetVarAt(field);
        source.table = source.variable->GetValueTable();
        const int kind = source.variable->GetKind();
        source.categorical = kind != VelXML_940::kContinuous;
        source.numericCategories = kind == VelXML_940::kNumericCategorical;
        if (const auto* continuous = dynamic_cast<const VelXML_940::VelContVar*>(source.variable)) {
            source.min = continuous->GetMin();
            source.max = continuous->GetMax();
            source.checkRange = isUsed(field) && field != settings.caseId &&
                                field != settings.focal && source.min > -DBL_MAX &&
                                source.max < DBL_MAX;
        }
        const auto column = columnOf.find(source.variable->Name());
        if (column != columnOf.end()) {
            source.column = column->second;
            data.columns[static_cast<size_t>(field)] = source.column;
            continue;
        }
        source.kind = FieldSource::kConstant;
        source.constant = MissingFor(source);
        if (field == settings.caseId) {
            data.caseIdFromRecordNumber = true;
            if (role == DataRole::kTraining) {
                source.kind = FieldSource::kRecordNumber;
            }
        } else if (field == settings.fold && source.categorical && role == DataRole::kTraining &&
                   source.variable->GetCategoryCount() > 0) {
            // Record r goes to the fold of category code (r - 1) mod V, V the number of folds:
            // folds of (nearly) equal size, mixed across the file even when it is sorted.
            data.foldSupplied = true;
            source.kind = FieldSource::kFold;
        } else if (field == settings.focal) {
            data.focalSupplied = true;
            // The first category marks every record alike; a continuous focal field gets 1.
            source.constant = source.categorical ? 0.0 : 1.0;
        } else if (role == DataRole::kTraining ||
                   std::find(settings.features.begin(), settings.features.end(), field) !=
                       settings.features.end()) {
            absent.push_back(source.variable->Name());
        }
    }
    if (!absent.empty()) {
        throw CsvError(reader.FileName(), reader.RecordLine(), 0,
                       std::string("the header has no column for the field") +
                           (absent.size() > 1 ? "s " : " ") + JoinQuoted(absent) +
                           " of the settings dictionary");
    }
    return sources;
}

// The identifier cell of a record when identifiers are texts: training records get their
// record number, records to score the record number of the training case with that text.
Cell TextIdentifier(const std::string& text, long record, DataRole role, const LoadedData* training,
                    LoadedData& data, double& value) {
    const std::string id(Trim(text));
    // Records before the first identifier had none.
    data.idTexts.resize(static_cast<size_t>(record));
    data.idTexts.push_back(id);
    value = VelMV::Missing();
    if (IsMissingText(id)) {
        return Cell::kMissing;
    }
    if (role == DataRole::kTraining) {
        value = static_cast<double>(record + 1);
        data.idRecords.emplace(id, record + 1);
    } else if (training != nullptr) {
        const auto found = training->idRecords.find(id);
        if (found != training->idRecords.end()) {
            value = static_cast<double>(found->second);
        }
    }
    return Cell::kValue;
}

}  // namespace

void CheckHeader(const std::string& path, const AnalysisSettings& settings, DataRole role) {
    DataInput input(path);
    CsvReader reader(input.Stream(), input.Name());
    LoadedData data;
    MapFields(ReadHeader(reader), settings, role, reader, data);
}

LoadedData LoadData(const std::string& path, const AnalysisSettings& settings, DataRole role,
                    const std::function<bool()>& interrupted, const LoadedData* training) {
    DataInput input(path);
    CsvReader reader(input.Stream(), input.Name());
    const std::vector<std::string> header = ReadHeader(reader);

    LoadedData data;
    data.file = input.Name();
    data.width = settings.dictionary->Size();
    const std::vector<FieldSource> sources = MapFields(header, settings, role, reader, data);
    std::vector<int> used = settings.usedFields;
    std::sort(used.begin(), used.end());

    // Whether identifiers are numbers or texts: the training data's first identifier decides,
    // and records to score follow the training data.
    const bool idColumn = data.HasColumn(settings.caseId);
    bool idFormKnown = !idColumn || training != nullptr;
    data.textIds = idColumn && training != nullptr && training->textIds;

    std::vector<std::string> fields;
    std::vector<Cell> cells(static_cast<size_t>(data.width));
    while (ReadDataRecord(reader, fields, header.size())) {
        const long record = data.Records();
        if (record % kRecordsPerCheck == 0 && interrupted && interrupted()) {
            throw CliError(kExitInterrupted, "interrupted while reading " + data.file +
                                                 "; no output file was written");
        }
        data.lines.push_back(reader.RecordLine());
        for (int field = 0; field < data.width; ++field) {
            const FieldSource& source = sources[static_cast<size_t>(field)];
            double value = source.constant;
            Cell cell = Cell::kValue;
            if (source.kind == FieldSource::kRecordNumber) {
                value = static_cast<double>(record + 1);
            } else if (source.kind == FieldSource::kFold) {
                value = static_cast<double>(record % source.variable->GetCategoryCount());
            } else if (source.kind == FieldSource::kColumn) {
                const size_t column = static_cast<size_t>(source.column);
                const std::string& text = fields[column];
                if (field == settings.caseId && !idFormKnown && !IsMissingText(text)) {
                    idFormKnown = true;
                    data.textIds = !ParseNumber(text);
                }
                cell = field == settings.caseId && data.textIds
                           ? TextIdentifier(text, record, role, training, data, value)
                           : Convert(source, text, value, reader, column);
            } else if (VelMV::IsMissing(value) || value < 0.0) {
                cell = Cell::kMissing;
            }
            cells[static_cast<size_t>(field)] = cell;
            data.values.push_back(value);
            if (cell == Cell::kUnknownCategory) {
                data.unknownCells.emplace(record, field);
                std::vector<std::string>& examples = data.unknownExamples[field];
                const std::string& text = fields[static_cast<size_t>(source.column)];
                if (examples.size() < kExamplesPerField &&
                    std::find(examples.begin(), examples.end(), text) == examples.end()) {
                    examples.push_back(text);
                }
            } else if (cell == Cell::kValue && source.checkRange &&
                       (value < source.min || value > source.max)) {
                ++data.outOfRange[field];
            }
        }
        if (role != DataRole::kTraining) {
            continue;
        }
        bool valid = true;
        for (int field : used) {
            const Cell cell = cells[static_cast<size_t>(field)];
            if (cell != Cell::kValue) {
                const DropReason reason{cell == Cell::kMissing ? DropReason::kMissingValue
                                                               : DropReason::kUnknownCategory,
                                        field};
                ++data.dropped[reason];
                valid = false;
                break;
            }
        }
        if (valid) {
            ++data.validCases;
        }
    }
    return data;
}

}  // namespace knncli
