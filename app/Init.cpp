#include "Init.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "Csv.h"
#include "Errors.h"

namespace knncli {

namespace {

// More distinct values than this make a column useless as categories (and expensive to keep).
constexpr size_t kMaxCategories = 1000;
constexpr long kRecordsPerCheck = 4096;
// Automatic K selection: K from kDefaultMinK to kDefaultMaxK, by kDefaultFolds-fold
// cross-validation, each bound lowered for small data sets; kDefaultK when K is fixed.
constexpr int kDefaultFolds = 10;
constexpr int kDefaultMinK = 3;
constexpr int kDefaultMaxK = 10;
constexpr int kDefaultK = 5;

struct Column {
    std::string name;
    long present = 0;     // cells that are not missing
    bool numeric = true;  // every present cell is a number
    long numbers = 0;     // present cells that are numbers
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    std::set<double> numericValues;  // distinct, while there are few enough
    std::set<std::string> texts;     // distinct, while there are few enough
    bool tooManyNumbers = false;
    bool tooManyTexts = false;
    std::string firstText;  // first present cell that is not a number
    long firstTextLine = 0;
};

enum class Role { kLeftOut, kTarget, kPredictor, kId, kFocal, kOther };

std::string Quote(const std::string& name) {
    return "\"" + name + "\"";
}

// Attribute text: markup characters escaped; tabs and line breaks as character references so
// that they survive attribute normalisation. Other control characters cannot be written.
std::string Attribute(const std::string& text, const std::string& what) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    throw CliError(kExitData, what + " " + Quoted(text) +
                                                  " holds a control character, which a settings "
                                                  "document cannot hold");
                }
                out.push_back(c);
        }
    }
    return out;
}

// Comment text: "--" may not occur inside an XML comment.
std::string CommentText(std::string text) {
    for (size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at)) {
        text.replace(at, 2, "- -");
    }
    if (!text.empty() && text.back() == '-') {
        text.push_back(' ');
    }
    return text;
}

std::vector<Column> ScanColumns(const std::string& path, long& records,
                                const std::function<bool()>& interrupted) {
    std::ifstream in = OpenDataFile(path);
    CsvReader reader(in, path);
    const std::vector<std::string> header = ReadHeader(reader);
    std::vector<Column> columns(header.size());
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i].empty()) {
            reader.Fail(i, "the column has no name in the header");
        }
        columns[i].name = header[i];
    }
    records = 0;
    std::vector<std::string> fields;
    while (reader.ReadRecord(fields)) {
        if (fields.size() != header.size()) {
            reader.Fail(std::min(fields.size(), header.size()),
                        "this record has " + std::to_string(fields.size()) +
                            " fields, but the header has " + std::to_string(header.size()));
        }
        if (records % kRecordsPerCheck == 0 && interrupted && interrupted()) {
            throw CliError(kExitInterrupted,
                           "interrupted while reading " + path + "; no output file was written");
        }
        ++records;
        for (size_t i = 0; i < fields.size(); ++i) {
            Column& column = columns[i];
            const std::string& text = fields[i];
            if (IsMissingText(text)) {
                continue;
            }
            ++column.present;
            if (!column.tooManyTexts) {
                column.texts.insert(text);
                column.tooManyTexts = column.texts.size() > kMaxCategories;
            }
            const std::optional<double> number = ParseNumber(text);
            if (!number) {
                if (column.numeric) {
                    column.numeric = false;
                    column.firstText = text;
                    column.firstTextLine = reader.FieldLine(i);
                }
                continue;
            }
            ++column.numbers;
            column.min = std::min(column.min, *number);
            column.max = std::max(column.max, *number);
            if (!column.tooManyNumbers) {
                column.numericValues.insert(*number);
                column.tooManyNumbers = column.numericValues.size() > kMaxCategories;
            }
        }
    }
    return columns;
}

std::vector<std::string> SplitList(const std::vector<std::string>& items) {
    std::vector<std::string> names;
    for (const std::string& item : items) {
        std::string_view rest = item;
        for (;;) {
            const size_t comma = rest.find(',');
            const std::string_view name = Trim(rest.substr(0, comma));
            if (!name.empty()) {
                names.emplace_back(name);
            }
            if (comma == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(comma + 1);
        }
    }
    return names;
}

std::string UnusedName(const std::string& base, const std::vector<Column>& columns) {
    const auto taken = [&columns](const std::string& name) {
        return std::any_of(columns.begin(), columns.end(),
                           [&name](const Column& c) { return c.name == name; });
    };
    std::string name = base;
    for (int n = 2; taken(name); ++n) {
        name = base + std::to_string(n);
    }
    return name;
}

// How the settings set K: chosen by cross-validation when the data allow it and no fixed K
// was asked for, else fixed.
struct KChoice {
    int folds = 0;  // 0: K is fixed at specifiedK
    int minK = 0;
    int maxK = 0;
    int specifiedK = 0;
};

KChoice ChooseK(long records, int fixedK) {
    KChoice choice;
    const long folds = std::min<long>(kDefaultFolds, records);
    // Every held-out record needs MaxK neighbours in the other folds; the largest fold holds
    // ceil(records / folds) records.
    const long maxK = std::min<long>(kDefaultMaxK, records - (records + folds - 1) / folds);
    if (fixedK > 0 || folds < 2 || maxK < 2) {
        choice.specifiedK =
            fixedK > 0 ? fixedK : static_cast<int>(std::clamp<long>(records - 1, 1, kDefaultK));
        return choice;
    }
    choice.folds = static_cast<int>(folds);
    choice.maxK = static_cast<int>(maxK);
    choice.minK = std::min(kDefaultMinK, choice.maxK - 1);
    choice.specifiedK = std::min(kDefaultK, choice.maxK);
    return choice;
}

}  // namespace

InferredSettings InferSettings(const InitOptions& options,
                               const std::function<bool()>& interrupted) {
    long records = 0;
    std::vector<Column> columns = ScanColumns(options.data, records, interrupted);
    if (records == 0) {
        throw CliError(kExitData, options.data + ": the file has a header line but no records");
    }

    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < columns.size(); ++i) {
        byName[columns[i].name] = i;
    }
    const auto find = [&](const std::string& name, const char* option) {
        const auto it = byName.find(name);
        if (it == byName.end()) {
            std::string known;
            for (const Column& column : columns) {
                known += (known.empty() ? "" : ", ") + column.name;
            }
            throw CliError(kExitUsage, std::string(option) + " names the column " + Quote(name) +
                                           ", which " + options.data + " does not have (its " +
                                           "columns: " + known + ")");
        }
        return it->second;
    };

    std::vector<Role> roles(columns.size(), Role::kOther);
    std::set<size_t> categorical;
    for (const std::string& name : SplitList(options.categorical)) {
        categorical.insert(find(name, "--categorical"));
    }
    for (const std::string& name : SplitList(options.exclude)) {
        roles[find(name, "--exclude")] = Role::kLeftOut;
    }
    std::vector<size_t> targets;
    for (const std::string& name : options.targets) {
        const size_t i = find(name, "--target");
        if (std::find(targets.begin(), targets.end(), i) != targets.end()) {
            throw CliError(kExitUsage, "--target names " + Quote(name) + " twice");
        }
        if (roles[i] == Role::kLeftOut) {
            throw CliError(kExitUsage, Quote(name) + " is both a target and excluded");
        }
        roles[i] = Role::kTarget;
        targets.push_back(i);
    }
    const auto assign = [&](const std::string& name, const char* option, Role role) {
        if (name.empty()) {
            return;
        }
        const size_t i = find(name, option);
        if (roles[i] != Role::kOther) {
            throw CliError(kExitUsage, std::string(option) + " names " + Quote(name) +
                                           ", which already has another role");
        }
        roles[i] = role;
    };
    assign(options.id, "--id", Role::kId);
    assign(options.focal, "--focal", Role::kFocal);

    InferredSettings result;
    std::vector<std::string>& notes = result.notes;
    if (!options.predictors.empty()) {
        std::set<size_t> chosen;
        for (const std::string& name : SplitList(options.predictors)) {
            const size_t i = find(name, "--predictors");
            if (roles[i] != Role::kOther) {
                throw CliError(kExitUsage, "--predictors names " + Quote(name) +
                                               ", which is a target, the identifier, the focal "
                                               "field or excluded");
            }
            chosen.insert(i);
        }
        for (size_t i = 0; i < columns.size(); ++i) {
            if (roles[i] == Role::kOther) {
                roles[i] = chosen.count(i) ? Role::kPredictor : Role::kLeftOut;
            }
        }
    } else {
        for (Role& role : roles) {
            if (role == Role::kOther) {
                role = Role::kPredictor;
            }
        }
    }

    // Decide each column's kind; drop predictors that cannot tell cases apart.
    const auto isCategorical = [&](size_t i) {
        return !columns[i].numeric || categorical.count(i) > 0;
    };
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column& column = columns[i];
        if (roles[i] == Role::kLeftOut) {
            continue;
        }
        if (!column.numeric && column.numbers > 0 && roles[i] != Role::kId) {
            notes.push_back(
                "column " + Quote(column.name) + " is treated as categorical because of the text " +
                Quoted(column.firstText) + " on line " + std::to_string(column.firstTextLine));
        }
        const size_t distinct =
            isCategorical(i) ? (column.numeric ? column.numericValues.size() : column.texts.size())
                             : (column.present > 0 && column.min == column.max ? 1 : 2);
        const bool tooMany = column.numeric ? column.tooManyNumbers : column.tooManyTexts;
        switch (roles[i]) {
            case Role::kId:
                if (!column.numeric) {
                    throw CliError(kExitData, "the identifier column " + Quote(column.name) +
                                                  " must hold numbers, but line " +
                                                  std::to_string(column.firstTextLine) + " has " +
                                                  Quoted(column.firstText));
                }
                if (column.present < records) {
                    notes.push_back(std::to_string(records - column.present) +
                                    " records have no identifier in " + Quote(column.name) +
                                    "; knn run drops them");
                }
                break;
            case Role::kTarget:
                if (column.present == 0 || distinct < 2) {
                    throw CliError(kExitData, "the target " + Quote(column.name) +
                                                  (column.present == 0
                                                       ? " has no value in any record"
                                                       : " has the same value in every record") +
                                                  "; there is nothing to predict");
                }
                if (isCategorical(i) && tooMany) {
                    throw CliError(kExitData,
                                   "the target " + Quote(column.name) + " has more than " +
                                       std::to_string(kMaxCategories) +
                                       " distinct values, too many for categories; if it is "
                                       "numeric, do not name it with --categorical");
                }
                break;
            case Role::kPredictor:
                if (column.present == 0 || distinct < 2) {
                    notes.push_back("column " + Quote(column.name) + " is left out: " +
                                    (column.present == 0 ? "it has no value in any record"
                                                         : "it has the same value in every "
                                                           "record"));
                    roles[i] = Role::kLeftOut;
                } else if (isCategorical(i) && tooMany) {
                    throw CliError(kExitData, "column " + Quote(column.name) + " has more than " +
                                                  std::to_string(kMaxCategories) +
                                                  " distinct values, too many for categories; "
                                                  "leave it out with --exclude " +
                                                  column.name);
                }
                break;
            default:
                if (column.present == 0 || (isCategorical(i) && tooMany)) {
                    throw CliError(kExitData, "the focal column " + Quote(column.name) +
                                                  " has no usable categories");
                }
                break;
        }
    }
    if (std::none_of(roles.begin(), roles.end(), [](Role r) { return r == Role::kPredictor; })) {
        throw CliError(kExitUsage, "no predictor remains; name some with --predictors");
    }

    const std::string idName =
        options.id.empty() ? UnusedName(kGeneratedIdName, columns) : options.id;
    const std::string focalName =
        options.focal.empty() ? UnusedName(kGeneratedFocalName, columns) : options.focal;
    if (options.id.empty()) {
        notes.push_back("the data have no identifier column: the settings add " + Quote(idName) +
                        ", the record number (1, 2, ...), which knn run supplies");
    }
    if (options.focal.empty()) {
        notes.push_back("the data have no focal column: the settings add " + Quote(focalName) +
                        " with the single category 1, which knn run supplies for every record");
    }
    const KChoice k = ChooseK(records, options.k);
    const std::string foldName = UnusedName(kGeneratedFoldName, columns);
    if (k.folds > 0) {
        notes.push_back("K is chosen between " + std::to_string(k.minK) + " and " +
                        std::to_string(k.maxK) + " by " + std::to_string(k.folds) +
                        "-fold cross-validation: the settings add the fold field " +
                        Quote(foldName) + ", which knn run fills by record number");
    } else if (options.k == 0) {
        notes.push_back("with " + std::to_string(records) +
                        " records K cannot be chosen by cross-validation: it is fixed at " +
                        std::to_string(k.specifiedK));
    }

    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml << "<!-- Settings inferred by knn init from " << CommentText(options.data) << " ("
        << records << " records). -->\n";
    for (const std::string& note : notes) {
        xml << "<!-- Note: " << CommentText(note) << ". -->\n";
    }
    xml << "<Settings version=\"1\">\n  <Dictionary>\n";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (roles[i] == Role::kLeftOut) {
            continue;
        }
        const Column& column = columns[i];
        const std::string name = Attribute(column.name, "the column name");
        if (!isCategorical(i)) {
            xml << "    <Field name=\"" << name << "\" kind=\"continuous\" min=\""
                << FormatNumber(column.min) << "\" max=\"" << FormatNumber(column.max) << "\"/>\n";
            continue;
        }
        xml << "    <Field name=\"" << name << "\" kind=\""
            << (column.numeric ? "categorical-numeric" : "categorical-string") << "\">\n";
        if (column.numeric) {
            for (const double value : column.numericValues) {
                xml << "      <Category value=\"" << FormatNumber(value) << "\"/>\n";
            }
        } else {
            for (const std::string& text : column.texts) {
                xml << "      <Category value=\"" << Attribute(text, "the category") << "\"/>\n";
            }
        }
        xml << "    </Field>\n";
    }
    if (options.id.empty()) {
        xml << "    <Field name=\"" << Attribute(idName, "") << "\" kind=\"continuous\" "
            << "label=\"Record number\" min=\"1\" max=\"" << records << "\"/>\n";
    }
    if (options.focal.empty()) {
        xml << "    <Field name=\"" << Attribute(focalName, "")
            << "\" kind=\"categorical-numeric\" label=\"Focal record\">\n"
            << "      <Category value=\"1\"/>\n    </Field>\n";
    }
    if (k.folds > 0) {
        xml << "    <Field name=\"" << Attribute(foldName, "")
            << "\" kind=\"categorical-numeric\" label=\"Cross-validation fold\">\n";
        for (int fold = 1; fold <= k.folds; ++fold) {
            xml << "      <Category value=\"" << fold << "\"/>\n";
        }
        xml << "    </Field>\n";
    }
    xml << "  </Dictionary>\n  <Targets>\n";
    for (const size_t i : targets) {
        xml << "    <Target name=\"" << Attribute(columns[i].name, "") << "\"/>\n";
    }
    xml << "  </Targets>\n  <Predictors>\n";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (roles[i] == Role::kPredictor) {
            xml << "    <Predictor name=\"" << Attribute(columns[i].name, "") << "\"/>\n";
        }
    }
    xml << "  </Predictors>\n  <Parameters>\n";
    xml << "    <Parameter key=\"CaseIDVar\" type=\"string\" value=\"" << Attribute(idName, "")
        << "\"/>\n";
    xml << "    <Parameter key=\"FocalVar\" type=\"string\" value=\"" << Attribute(focalName, "")
        << "\"/>\n";
    if (options.focal.empty()) {
        xml << "    <Parameter key=\"FocalCaseValue\" type=\"string\" value=\"1\"/>\n";
    }
    xml << "    <Parameter key=\"RescaleMethod\" type=\"bool\" value=\"true\"/>\n"
        << "    <Parameter key=\"DistMetric\" type=\"string\" value=\"Euclidean\"/>\n"
        << "    <Parameter key=\"TempFileDir\" type=\"string\" value=\""
        << Attribute(options.tempDir, "the temporary directory") << "\"/>\n";
    if (k.folds > 0) {
        xml << "    <!-- K is chosen between MinK and MaxK by cross-validation over VFoldValue "
               "folds:\n"
               "         the field VFoldVar gives each record's fold (knn run numbers the records\n"
               "         into folds when the data have no such column). For a fixed K, set\n"
               "         IsAutoKSelection to false; SpecifiedK is then K. -->\n"
            << "    <Parameter key=\"IsAutoKSelection\" type=\"bool\" value=\"true\"/>\n"
            << "    <Parameter key=\"MinK\" type=\"int\" value=\"" << k.minK << "\"/>\n"
            << "    <Parameter key=\"MaxK\" type=\"int\" value=\"" << k.maxK << "\"/>\n"
            << "    <Parameter key=\"VFoldVar\" type=\"string\" value=\"" << Attribute(foldName, "")
            << "\"/>\n"
            << "    <Parameter key=\"VFoldValue\" type=\"int\" value=\"" << k.folds << "\"/>\n";
    } else {
        xml << "    <!-- K is fixed at SpecifiedK. Without a fixed K, knn init writes settings "
               "that\n"
               "         let the component choose K by cross-validation. -->\n"
            << "    <Parameter key=\"IsAutoKSelection\" type=\"bool\" value=\"false\"/>\n";
    }
    xml << "    <Parameter key=\"SpecifiedK\" type=\"int\" value=\"" << k.specifiedK << "\"/>\n"
        << "  </Parameters>\n</Settings>\n";
    result.document = xml.str();
    return result;
}

}  // namespace knncli
