// knn init, second step: the role of each column (from the command line) and its kind (from
// its values), with the checks that the data can play those roles.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "Csv.h"
#include "Errors.h"
#include "InitSteps.h"
#include "VelNumber.h"

namespace knncli {

namespace {

// A text column with this many values, all different, looks like an identifier.
constexpr long kIdentifierLikeRecords = 10;

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

// Finds the column that an option names; an unknown name is a usage error that lists them all.
class ColumnIndex {
public:
    explicit ColumnIndex(const ScannedData& data) : data_(data) {
        for (size_t i = 0; i < data.columns.size(); ++i) {
            byName_[data.columns[i].name] = i;
        }
    }
    size_t operator()(const std::string& name, const char* option) const {
        const auto it = byName_.find(name);
        if (it != byName_.end()) {
            return it->second;
        }
        std::string known;
        for (const Column& column : data_.columns) {
            known += (known.empty() ? "" : ", ") + column.name;
        }
        throw CliError(kExitUsage, std::string(option) + " names the column " + Quote(name) +
                                       ", which " + data_.path + " does not have (its " +
                                       "columns: " + known + ")");
    }

private:
    const ScannedData& data_;
    std::map<std::string, size_t> byName_;
};

// Roles from the command line: targets, identifier, focal and fold columns, the excluded
// columns, and the predictors (named, or every column without another role).
void AssignRoles(const InitOptions& options, const ColumnIndex& find, Plan& plan) {
    std::vector<Role>& roles = plan.roles;
    for (const std::string& name : SplitList(options.exclude)) {
        roles[find(name, "--exclude")] = Role::kLeftOut;
    }
    for (const std::string& name : options.targets) {
        const size_t i = find(name, "--target");
        if (std::find(plan.targets.begin(), plan.targets.end(), i) != plan.targets.end()) {
            throw CliError(kExitUsage, "--target names " + Quote(name) + " twice");
        }
        if (roles[i] == Role::kLeftOut) {
            throw CliError(kExitUsage, Quote(name) + " is both a target and excluded");
        }
        roles[i] = Role::kTarget;
        plan.targets.push_back(i);
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
    assign(options.fold, "--fold", Role::kFold);

    std::set<size_t> chosen;
    for (const std::string& name : SplitList(options.predictors)) {
        const size_t i = find(name, "--predictors");
        if (roles[i] != Role::kOther) {
            throw CliError(kExitUsage, "--predictors names " + Quote(name) +
                                           ", which is a target, the identifier, the focal "
                                           "field, the fold field or excluded");
        }
        chosen.insert(i);
    }
    for (size_t i = 0; i < roles.size(); ++i) {
        if (roles[i] == Role::kOther) {
            roles[i] =
                options.predictors.empty() || chosen.count(i) ? Role::kPredictor : Role::kLeftOut;
        }
    }
}

// Why a cell that was meant as a number is not one, as the words after "is".
std::string NumberProblem(const std::string& cell) {
    std::string text(Trim(cell));
    if (!text.empty() && text.front() == '+') {
        text.erase(0, 1);
    }
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string magnitude = lower.empty() || lower.front() != '-' ? lower : lower.substr(1);
    if (magnitude == "inf" || magnitude == "infinity") {
        return "not a finite number";
    }
    if (text.find(',') != std::string::npos) {
        std::string withoutCommas = text;
        std::erase(withoutCommas, ',');
        std::string withPoint = text;
        std::replace(withPoint.begin(), withPoint.end(), ',', '.');
        if (ParseNumber(withoutCommas) || ParseNumber(withPoint)) {
            return "not a number (numbers use '.' as the decimal separator and no thousands "
                   "separator)";
        }
    }
    // A number too close to zero reads as zero, so only one too large is out of range.
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto result = VelCommon_940::DecimalToDouble(text.data(), end, value);
    if (result.ec == std::errc::result_out_of_range && result.ptr == end) {
        return "too large for a number";
    }
    return "not a number";
}

// A column that holds numbers is not turned into categories by a stray text: the first cell,
// in file order, that is not a number in such a column is an error. The identifier column
// holds numbers when its first value is one, as `knn run` reads it.
void CheckNumbers(const ScannedData& data, const Plan& plan, const std::set<size_t>& categorical) {
    const Column* first = nullptr;
    size_t firstIndex = 0;
    for (size_t i = 0; i < data.columns.size(); ++i) {
        const Column& column = data.columns[i];
        if (plan.roles[i] == Role::kLeftOut || column.AllNumbers()) {
            continue;
        }
        const bool needsNumbers = plan.roles[i] == Role::kId
                                      ? column.firstIsNumber
                                      : column.MostlyNumbers() && categorical.count(i) == 0;
        if (needsNumbers && (first == nullptr || column.firstTextLine < first->firstTextLine)) {
            first = &column;
            firstIndex = i;
        }
    }
    if (first == nullptr) {
        return;
    }
    std::string message = Quoted(first->firstText) + " is " + NumberProblem(first->firstText);
    if (plan.roles[firstIndex] == Role::kId) {
        message += ", but the first value of the identifier column " + Quote(first->name) +
                   " is a number, and knn run then reads every identifier as a number; fix "
                   "the cell, or make every identifier a text";
    } else {
        message += ", but " + std::to_string(first->numbers) + " of the " +
                   std::to_string(first->present) + " values of the column " + Quote(first->name) +
                   " are numbers; fix the cell, leave it empty (or write NA or NaN) to mark "
                   "it missing, or name the column with --categorical to use its values as "
                   "categories (or leave it out with --exclude " +
                   first->name + ")";
    }
    throw CsvError(data.path, first->firstTextLine, static_cast<int>(firstIndex) + 1, message);
}

Kind KindOf(const Column& column, Role role, bool namedCategorical) {
    if (role == Role::kId && column.present > 0 && !column.firstIsNumber) {
        return Kind::kRecordNumber;
    }
    if (!column.AllNumbers()) {
        return Kind::kStringCategories;
    }
    return namedCategorical || role == Role::kFold ? Kind::kNumericCategories : Kind::kContinuous;
}

// Texts that are all different, or too many to be categories, name records rather than
// describe them. A column of numbers with a few texts is not such a column.
bool IdentifierLike(const Column& column) {
    return !column.MostlyNumbers() &&
           (column.tooManyTexts || (column.present >= kIdentifierLikeRecords &&
                                    static_cast<long>(column.texts.size()) == column.present));
}

// Checks that a column can play its role; leaves out predictors that cannot tell records
// apart, and text predictors that look like identifiers when the predictors were not named.
void CheckColumn(const InitOptions& options, const ScannedData& data, size_t i, Plan& plan) {
    const Column& column = data.columns[i];
    Role& role = plan.roles[i];
    const Kind kind = plan.kinds[i];
    std::vector<std::string>& notes = plan.notes;
    if (role == Role::kPredictor && options.predictors.empty() && kind == Kind::kStringCategories &&
        IdentifierLike(column)) {
        notes.push_back(
            "column " + Quote(column.name) + " is left out of the predictors: " +
            (column.tooManyTexts
                 ? "it has more than " + std::to_string(kMaxCategories) + " distinct texts"
                 : "its " + std::to_string(column.present) + " texts are all different") +
            ", as an identifier's are; to identify the records by it, name it with "
            "--id " +
            column.name);
        role = Role::kLeftOut;
        return;
    }
    if (!column.AllNumbers() && column.numbers > 0 && role != Role::kId) {
        notes.push_back(
            "column " + Quote(column.name) + " is treated as categorical because of the text " +
            Quoted(column.firstText) + " on line " + std::to_string(column.firstTextLine));
    }
    const size_t distinct = kind == Kind::kNumericCategories  ? column.numericValues.size()
                            : kind == Kind::kStringCategories ? column.texts.size()
                            : column.present > 0 && column.min == column.max ? 1
                                                                             : 2;
    const bool categories = kind == Kind::kNumericCategories || kind == Kind::kStringCategories;
    const bool tooMany = categories && (kind == Kind::kNumericCategories ? column.tooManyNumbers
                                                                         : column.tooManyTexts);
    switch (role) {
        case Role::kId:
            if (column.present == 0) {
                throw CliError(kExitData, "the identifier column " + Quote(column.name) +
                                              " has no value in any record");
            }
            if (kind == Kind::kRecordNumber) {
                notes.push_back("the identifier column " + Quote(column.name) +
                                " holds texts: the settings declare it with the record numbers "
                                "1 to " +
                                std::to_string(data.records) +
                                ", which knn run gives the component, and knn run shows the "
                                "texts in its outputs");
            }
            if (column.present < data.records) {
                notes.push_back(std::to_string(data.records - column.present) +
                                " records have no identifier in " + Quote(column.name) +
                                "; knn run drops them");
            }
            break;
        case Role::kTarget:
            if (column.present == 0 || distinct < 2) {
                throw CliError(kExitData,
                               "the target " + Quote(column.name) +
                                   (column.present == 0 ? " has no value in any record"
                                                        : " has the same value in every record") +
                                   "; there is nothing to predict");
            }
            if (tooMany) {
                throw CliError(kExitData, "the target " + Quote(column.name) + " has more than " +
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
                role = Role::kLeftOut;
            } else if (tooMany) {
                throw CliError(kExitData, "column " + Quote(column.name) + " has more than " +
                                              std::to_string(kMaxCategories) +
                                              " distinct values, too many for categories; "
                                              "leave it out with --exclude " +
                                              column.name);
            }
            break;
        case Role::kFold:
            if (column.present == 0 || distinct < 2 || tooMany) {
                throw CliError(kExitData, "the fold column " + Quote(column.name) +
                                              " needs between 2 and " +
                                              std::to_string(kMaxCategories) +
                                              " distinct values, one per fold");
            }
            break;
        default:
            if (column.present == 0 || tooMany) {
                throw CliError(kExitData, "the focal column " + Quote(column.name) +
                                              " has no usable categories");
            }
            break;
    }
}

// The features that forward selection must keep are predictors, and leave enough predictors
// to select the asked number from.
void CheckSelection(const InitOptions& options, const ColumnIndex& find, Plan& plan) {
    const long predictors = std::count(plan.roles.begin(), plan.roles.end(), Role::kPredictor);
    for (const std::string& name : SplitList(options.forced)) {
        const size_t i = find(name, "--forced");
        if (plan.roles[i] != Role::kPredictor) {
            throw CliError(kExitUsage, "--forced names " + Quote(name) +
                                           ", which is not among the predictors of the settings");
        }
        if (std::find(plan.forced.begin(), plan.forced.end(), i) != plan.forced.end()) {
            throw CliError(kExitUsage, "--forced names " + Quote(name) + " twice");
        }
        plan.forced.push_back(i);
    }
    const long wanted = static_cast<long>(plan.forced.size()) + options.selectCount;
    if (options.selectCount > 0 && wanted > predictors) {
        throw CliError(kExitUsage, "--select " + std::to_string(options.selectCount) +
                                       (plan.forced.empty() ? "" : " with --forced") + " needs " +
                                       std::to_string(wanted) + " predictors, but only " +
                                       std::to_string(predictors) + " remain");
    }
}

}  // namespace

Plan DecideRoles(const InitOptions& options, const ScannedData& data) {
    const std::vector<Column>& columns = data.columns;
    const ColumnIndex find(data);
    std::set<size_t> categorical;
    for (const std::string& name : SplitList(options.categorical)) {
        categorical.insert(find(name, "--categorical"));
    }
    Plan plan;
    plan.roles.assign(columns.size(), Role::kOther);
    AssignRoles(options, find, plan);
    CheckNumbers(data, plan, categorical);
    for (size_t i = 0; i < columns.size(); ++i) {
        plan.kinds.push_back(KindOf(columns[i], plan.roles[i], categorical.count(i) > 0));
    }
    for (size_t i = 0; i < columns.size(); ++i) {
        if (plan.roles[i] != Role::kLeftOut) {
            CheckColumn(options, data, i, plan);
        }
    }
    if (std::none_of(plan.roles.begin(), plan.roles.end(),
                     [](Role r) { return r == Role::kPredictor; })) {
        throw CliError(kExitUsage, "no predictor remains; name some with --predictors");
    }
    CheckSelection(options, find, plan);

    plan.idName = options.id.empty() ? UnusedName(kGeneratedIdName, columns) : options.id;
    plan.focalName =
        options.focal.empty() ? UnusedName(kGeneratedFocalName, columns) : options.focal;
    plan.foldName = options.fold.empty() ? UnusedName(kGeneratedFoldName, columns) : options.fold;
    if (options.id.empty()) {
        plan.notes.push_back("the data have no identifier column: the settings add " +
                             Quote(plan.idName) +
                             ", the record number (1, 2, ...), which knn run supplies");
    }
    if (options.focal.empty()) {
        plan.notes.push_back("the data have no focal column: the settings add " +
                             Quote(plan.focalName) +
                             " with the single category 1, which knn run supplies for every "
                             "record");
    }
    return plan;
}

}  // namespace knncli
