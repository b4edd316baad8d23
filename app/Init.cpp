#include "Init.h"

#include <algorithm>

#include "Errors.h"
#include "InitSteps.h"

namespace knncli {

namespace {

// Automatic K selection: K from kDefaultMinK to kDefaultMaxK, by kDefaultFolds-fold
// cross-validation, each bound lowered for small data sets; kDefaultK when K is fixed.
constexpr int kDefaultFolds = 10;
constexpr int kDefaultMinK = 3;
constexpr int kDefaultMaxK = 10;
constexpr int kDefaultK = 5;

// Options that contradict each other, whatever the data.
void CheckCombinations(const InitOptions& options) {
    const auto fail = [](const std::string& message) { throw CliError(kExitUsage, message); };
    const bool foldOptions = options.folds > 0 || !options.fold.empty();
    if (options.k > 0 && (options.minK > 0 || options.maxK > 0)) {
        fail(
            "--k fixes K, so --min-k and --max-k, which bound the K chosen automatically, "
            "cannot go with it");
    }
    if (options.k > 0 && foldOptions) {
        fail(
            "--k fixes K, so --folds and --fold, which serve to choose K by cross-validation, "
            "cannot go with it");
    }
    if (options.folds > 0 && !options.fold.empty()) {
        fail("--fold takes the folds from a column, so --folds cannot set their number");
    }
    if (options.Selects() && foldOptions) {
        fail(
            "--select predicts each record from all the others, without folds, so --folds "
            "and --fold cannot go with it");
    }
    if (options.minK > 0 && options.maxK > 0 && options.minK >= options.maxK) {
        fail("--min-k must be below --max-k");
    }
    if (options.selectStop && !options.selectAuto) {
        fail("--select-stop says when --select auto stops, so it needs --select auto");
    }
    if (!options.forced.empty() && !options.Selects()) {
        fail("--forced names features that forward selection keeps, so it needs --select");
    }
}

// Number of records in the largest fold of the fold column.
long LargestFold(const Column& fold, Kind kind) {
    long largest = 0;
    if (kind == Kind::kNumericCategories) {
        for (const auto& [value, count] : fold.numericValues) {
            largest = std::max(largest, count);
        }
    } else {
        for (const auto& [text, count] : fold.texts) {
            largest = std::max(largest, count);
        }
    }
    return largest;
}

// K is chosen automatically when the data allow it and no fixed K was asked for, else fixed.
// Every record must have MaxK neighbours where it looks for them: among all other records
// when K is chosen together with the features, else outside its own fold.
KChoice ChooseK(const InitOptions& options, const ScannedData& data, const Plan& plan) {
    KChoice choice;
    if (options.k > 0) {
        choice.specifiedK = options.k;
        return choice;
    }
    const long records = data.records;
    long folds = 0;
    long largestK = 0;
    std::string why;
    if (options.Selects()) {
        largestK = records - 1;
        why = "each record is predicted from the other " + std::to_string(largestK);
    } else {
        if (!options.fold.empty()) {
            const size_t i =
                std::find(plan.roles.begin(), plan.roles.end(), Role::kFold) - plan.roles.begin();
            const Column& fold = data.columns[i];
            folds = static_cast<long>(plan.kinds[i] == Kind::kNumericCategories
                                          ? fold.numericValues.size()
                                          : fold.texts.size());
            largestK = fold.present - LargestFold(fold, plan.kinds[i]);
        } else {
            if (options.folds > records) {
                throw CliError(kExitUsage, "--folds " + std::to_string(options.folds) +
                                               " asks for more folds than the " +
                                               std::to_string(records) + " records");
            }
            folds = options.folds > 0 ? options.folds : std::min<long>(kDefaultFolds, records);
            // The largest fold holds ceil(records / folds) records.
            largestK = records - (records + folds - 1) / folds;
        }
        why = "each record, held out with its fold, has " + std::to_string(largestK) +
              " records outside the largest fold to find neighbours among";
    }
    const bool asked =
        options.minK > 0 || options.maxK > 0 || options.folds > 0 || !options.fold.empty();
    if (largestK < 2) {
        if (asked) {
            throw CliError(kExitUsage, "with " + std::to_string(records) +
                                           " records K cannot be chosen automatically (" + why +
                                           "); fix K with --k");
        }
        choice.specifiedK = static_cast<int>(std::clamp<long>(records - 1, 1, kDefaultK));
        return choice;
    }
    if (options.maxK > largestK) {
        throw CliError(kExitUsage, "--max-k " + std::to_string(options.maxK) +
                                       " is more than the data allow: " + why +
                                       "; MaxK can be at most " + std::to_string(largestK));
    }
    choice.automatic = true;
    choice.folds = static_cast<int>(folds);
    choice.maxK =
        options.maxK > 0 ? options.maxK : static_cast<int>(std::min<long>(kDefaultMaxK, largestK));
    choice.minK = options.minK > 0 ? options.minK : std::min(kDefaultMinK, choice.maxK - 1);
    if (choice.minK >= choice.maxK) {
        throw CliError(kExitUsage, "--min-k " + std::to_string(choice.minK) +
                                       " must be below MaxK, which is " +
                                       std::to_string(choice.maxK) + "; raise it with --max-k");
    }
    choice.specifiedK = std::min(kDefaultK, choice.maxK);
    return choice;
}

std::string KNote(const InitOptions& options, const ScannedData& data, const Plan& plan) {
    const KChoice& k = plan.k;
    if (!k.automatic) {
        return "with " + std::to_string(data.records) +
               " records K cannot be chosen by cross-validation: it is fixed at " +
               std::to_string(k.specifiedK);
    }
    const std::string range =
        "K is chosen between " + std::to_string(k.minK) + " and " + std::to_string(k.maxK);
    if (k.folds == 0) {
        return range + " together with the features, each record predicted from all the others";
    }
    const std::string crossValidation =
        range + " by " + std::to_string(k.folds) + "-fold cross-validation";
    if (!options.fold.empty()) {
        return crossValidation + " over the folds that the column " + Quote(plan.foldName) +
               " gives";
    }
    return crossValidation + ": the settings add the fold field " + Quote(plan.foldName) +
           ", which knn run fills by record number";
}

}  // namespace

InferredSettings InferSettings(const InitOptions& options,
                               const std::function<bool()>& interrupted) {
    CheckCombinations(options);
    const ScannedData data = ScanColumns(options.data, interrupted);
    if (data.records == 0) {
        throw CliError(kExitData, data.path + ": the file has a header line but no records");
    }
    Plan plan = DecideRoles(options, data);
    plan.k = ChooseK(options, data, plan);
    if (plan.k.automatic || options.k == 0) {
        plan.notes.push_back(KNote(options, data, plan));
    }
    return {WriteDocument(options, data, plan), plan.notes};
}

}  // namespace knncli
