#include "Data.h"

#include <algorithm>
#include <cfloat>
#include <string_view>
#include <unordered_map>

#include "Errors.h"
#include "VelMV.h"

namespace knncli {

using VelCommon_940::VelMV;

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

    // Finds std::string keys by std::string_view, without a string per look-up.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>()(text);
        }
    };
    // The code of each category, by its text (string categories) or by its value (numeric
    // ones; 0 and -0 are one key, as they compare equal); of a category given twice, the first.
    std::unordered_map<std::string, int, TextHash, std::equal_to<>> textCodes;
    std::unordered_map<double, int> numberCodes;
};

namespace {

// Records read between two looks at the interruption flag.
constexpr long kRecordsPerCheck = 4096;
// Unknown category texts kept per field for messages.
constexpr size_t kExamplesPerField = 3;

double MissingFor(const FieldSource& source) {
    return source.categorical ? -1.0 : VelMV::Missing();
}

// Whether the dictionary declares `text` (not empty) missing for the field.
bool IsDeclaredMissing(const FieldSource& source, std::string_view text) {
    if (source.table == nullptr || text.empty()) {
        return false;
    }
    const std::vector<std::string>& texts = source.table->MissingTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Converts one cell; `value` receives the number, the category code, or the missing value.
Cell Convert(const FieldSource& source, std::string_view text, double& value,
             const CsvReader& reader, size_t column) {
    value = MissingFor(source);
    const VelXML_940::VelValueTable* table = source.table;
    if (IsDeclaredMissing(source, text)) {
        return Cell::kMissing;
    }
    if (source.categorical && !source.numericCategories) {
        // A declared category wins over the texts that usually mean "missing".
        const auto code = source.textCodes.find(text);
        if (code != source.textCodes.end()) {
            value = code->second;
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
        std::string withPoint(text);
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
        const auto code = source.numberCodes.find(*number);
        if (code == source.numberCodes.end()) {
            return Cell::kUnknownCategory;
        }
        value = code->second;
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
        if (source.categorical && source.table != nullptr) {
            const std::vector<VelXML_940::VelCategory>& categories = source.table->Categories();
            for (size_t code = 0; code < categories.size(); ++code) {
                if (source.numericCategories) {
                    source.numberCodes.emplace(categories[code].numeric, static_cast<int>(code));
                } else {
                    source.textCodes.emplace(categories[code].text, static_cast<int>(code));
                }
            }
        }
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

}  // namespace

DataReader::DataReader(const std::string& path, const AnalysisSettings& settings, DataRole role,
                       const LoadedData* training)
    : input_(path),
      reader_(input_.Stream(), input_.Name()),
      settings_(settings),
      role_(role),
      training_(training) {
    const std::vector<std::string> header = ReadHeader(reader_);
    columns_ = header.size();
    data_.file = input_.Name();
    data_.width = settings.dictionary->Size();
    sources_ = MapFields(header, settings, role, reader_, data_);
    used_ = settings.usedFields;
    std::sort(used_.begin(), used_.end());

    // Whether identifiers are numbers or texts: the training data's first identifier decides,
    // and records to score follow the training data.
    const bool idColumn = data_.HasColumn(settings.caseId);
    idFormKnown_ = !idColumn || training != nullptr;
    data_.textIds = idColumn && training != nullptr && training->textIds;
    cells_.resize(static_cast<size_t>(data_.width));
    row_.resize(static_cast<size_t>(data_.width));
}

DataReader::~DataReader() = default;

// The identifier cell of a record when identifiers are texts: training records get their
// record number, records to score the record number of the training case with that text.
Cell DataReader::Identifier(std::string_view text, long record, double& value) {
    const std::string_view id = Trim(text);
    // Records before the first identifier had none.
    data_.idTexts.PadTo(static_cast<size_t>(record));
    const bool missing = IsMissingText(id);
    data_.idTexts.Add(id, role_ == DataRole::kTraining && !missing);
    value = VelMV::Missing();
    if (missing) {
        return Cell::kMissing;
    }
    if (role_ == DataRole::kTraining) {
        value = static_cast<double>(record + 1);
    } else if (training_ != nullptr) {
        const long found = training_->idTexts.FirstRecord(id);
        if (found > 0) {
            value = static_cast<double>(found);
        }
    }
    return Cell::kValue;
}

const double* DataReader::Next() {
    if (!ReadDataRecord(reader_, fields_, columns_)) {
        return nullptr;
    }
    const long record = data_.records++;
    for (int field = 0; field < data_.width; ++field) {
        const FieldSource& source = sources_[static_cast<size_t>(field)];
        double value = source.constant;
        Cell cell = Cell::kValue;
        if (source.kind == FieldSource::kRecordNumber) {
            value = static_cast<double>(record + 1);
        } else if (source.kind == FieldSource::kFold) {
            value = static_cast<double>(record % source.variable->GetCategoryCount());
        } else if (source.kind == FieldSource::kColumn) {
            const size_t column = static_cast<size_t>(source.column);
            const std::string_view text = fields_[column];
            if (field == settings_.caseId && !idFormKnown_ && !IsMissingText(text)) {
                idFormKnown_ = true;
                data_.textIds = !ParseNumber(text);
            }
            cell = field == settings_.caseId && data_.textIds
                       ? Identifier(text, record, value)
                       : Convert(source, text, value, reader_, column);
        } else if (VelMV::IsMissing(value) || value < 0.0) {
            cell = Cell::kMissing;
        }
        cells_[static_cast<size_t>(field)] = cell;
        row_[static_cast<size_t>(field)] = value;
        if (cell == Cell::kUnknownCategory) {
            if (role_ == DataRole::kScoring) {
                data_.unknownCells.emplace(record, field);
            }
            std::vector<std::string>& examples = data_.unknownExamples[field];
            const std::string_view text = fields_[static_cast<size_t>(source.column)];
            if (examples.size() < kExamplesPerField &&
                std::find(examples.begin(), examples.end(), text) == examples.end()) {
                examples.emplace_back(text);
            }
        } else if (cell == Cell::kValue && source.checkRange &&
                   (value < source.min || value > source.max)) {
            ++data_.outOfRange[field];
        }
    }
    if (role_ == DataRole::kTraining) {
        bool valid = true;
        for (int field : used_) {
            const Cell cell = cells_[static_cast<size_t>(field)];
            if (cell != Cell::kValue) {
                const DropReason reason{cell == Cell::kMissing ? DropReason::kMissingValue
                                                               : DropReason::kUnknownCategory,
                                        field};
                ++data_.dropped[reason];
                valid = false;
                break;
            }
        }
        if (valid) {
            ++data_.validCases;
        }
    }
    return row_.data();
}

void CheckHeader(const std::string& path, const AnalysisSettings& settings, DataRole role) {
    DataReader reader(path, settings, role);
}

std::string ReadingInterrupted(const std::string& file) {
    return "interrupted while reading " + file + "; no output file was written";
}

LoadedData LoadData(const std::string& path, const AnalysisSettings& settings, DataRole role,
                    const std::function<bool()>& interrupted, const LoadedData* training) {
    DataReader reader(path, settings, role, training);
    const size_t width = static_cast<size_t>(settings.dictionary->Size());
    std::vector<double> values;
    std::vector<long> lines;
    for (;;) {
        if (reader.Facts().records % kRecordsPerCheck == 0 && interrupted && interrupted()) {
            throw CliError(kExitInterrupted, ReadingInterrupted(reader.Facts().file));
        }
        const double* row = reader.Next();
        if (row == nullptr) {
            break;
        }
        values.insert(values.end(), row, row + width);
        lines.push_back(reader.RecordLine());
    }
    LoadedData data = reader.TakeFacts();
    data.values = std::move(values);
    data.lines = std::move(lines);
    return data;
}

}  // namespace knncli
