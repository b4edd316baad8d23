#include "ModelSummary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Csv.h"
#include "Predictions.h"

namespace knncli {

namespace {

// More K values than this are summed up by the best and the range instead of a table.
constexpr size_t kMaxKColumns = 10;
// Lists of names are broken into lines of at most this many characters.
constexpr size_t kLineWidth = 96;

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

std::string ErrorText(double value, bool categorical) {
    if (!std::isfinite(value)) {
        return "n/a";
    }
    char text[64];
    if (categorical) {
        std::snprintf(text, sizeof text, "%.2f%%", value * 100.0);
    } else if (std::fabs(value) >= 1e4 && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        return FormatNumber(value, 4);
    }
    return text;
}

namespace {

// An importance or weight: a share between 0 and 1.
std::string Share(const std::optional<double>& value) {
    if (!value) {
        return "";
    }
    if (!std::isfinite(*value)) {
        return "n/a";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", *value);
    return text;
}

const char* Criterion(bool categorical) {
    return categorical ? "misclassified cases" : "sum of squared errors";
}

}  // namespace

void PrintTable(std::ostream& out, const Table& rows, size_t left) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        std::string line = "  ";
        for (size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - row[i].size(), ' ');
            line += "  " + (i < left ? row[i] + padding : padding + row[i]);
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out << line << '\n';
    }
}

namespace {

void PrintKRange(std::ostream& out, const std::vector<KError>& errors, int chosen,
                 bool categorical);

// The error of every K tried: a table of K and error, or for a long range the chosen K's error
// and the range of the others.
void PrintKErrors(std::ostream& out, const std::vector<KError>& errors, int chosen,
                  bool categorical) {
    if (errors.size() <= kMaxKColumns) {
        Table rows{{"K"}, {"error"}};
        for (const KError& entry : errors) {
            rows[0].push_back(std::to_string(entry.k));
            rows[1].push_back(ErrorText(entry.error, categorical));
        }
        PrintTable(out, rows);
    } else {
        PrintKRange(out, errors, chosen, categorical);
    }
    if (errors.size() > 1 && chosen == errors.back().k) {
        out << "    K is the largest tried; a larger MaxK may give a lower error\n";
    }
}

void PrintKRange(std::ostream& out, const std::vector<KError>& errors, int chosen,
                 bool categorical) {
    double low = INFINITY;
    double high = -INFINITY;
    double best = NAN;
    for (const KError& entry : errors) {
        if (std::isfinite(entry.error)) {
            low = std::min(low, entry.error);
            high = std::max(high, entry.error);
        }
        if (entry.k == chosen) {
            best = entry.error;
        }
    }
    out << "    error " << ErrorText(best, categorical) << " at K = " << chosen << "; from "
        << ErrorText(low, categorical) << " to " << ErrorText(high, categorical)
        << " over K = " << errors.front().k << " ... " << errors.back().k << '\n';
}

// `text` after `lead`, broken after a comma so that lines stay within kLineWidth; further
// lines are indented like the first text.
std::string Wrapped(const std::string& lead, const std::string& text) {
    const std::string indent(lead.size(), ' ');
    std::string result = lead;
    size_t column = lead.size();
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(", ", at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string piece = text.substr(at, end - at);
        if (column > indent.size() && column + 1 + piece.size() > kLineWidth) {
            result += "\n" + indent;
            column = indent.size();
        } else if (at > 0) {
            result += ' ';
            ++column;
        }
        result += piece;
        column += piece.size();
        at = end < text.size() ? end + 1 : end;
    }
    return result + '\n';
}

void PrintSteps(std::ostream& out, const std::vector<SelectionStep>& steps, bool categorical) {
    Table rows;
    for (const SelectionStep& step : steps) {
        std::string features = step.features;
        if (step.step == 0) {
            // The forced features, joined by '+' in the document.
            for (size_t at = 0; (at = features.find('+', at)) != std::string::npos; at += 2) {
                features.replace(at, 1, ", ");
            }
        }
        rows.push_back({step.step == 0 ? "forced" : std::to_string(step.step) + ".", features,
                        ErrorText(step.error, categorical)});
    }
    PrintTable(out, rows, 2);
}

void PrintFeatures(std::ostream& out, const std::vector<DocumentFeature>& features) {
    const bool importance = std::any_of(features.begin(), features.end(),
                                        [](const DocumentFeature& f) { return f.importance; });
    const bool weight = std::any_of(features.begin(), features.end(),
                                    [](const DocumentFeature& f) { return f.weight; });
    if (!importance && !weight) {
        std::string names;
        for (const DocumentFeature& feature : features) {
            names += (names.empty() ? "" : ", ") + feature.name;
        }
        out << Wrapped("  features: ", names.empty() ? "none" : names);
        return;
    }
    // Weighting by importance makes the two equal; then one column says it all.
    const bool same = std::all_of(features.begin(), features.end(), [](const DocumentFeature& f) {
        return f.importance && f.weight && *f.importance == *f.weight;
    });
    std::vector<DocumentFeature> sorted = features;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const DocumentFeature& a, const DocumentFeature& b) {
                         return a.importance.value_or(-1.0) > b.importance.value_or(-1.0);
                     });
    out << "  features in use";
    if (same) {
        out << ", by importance (also their weight):\n";
    } else if (importance) {
        out << ", by importance" << (weight ? ", with their weight" : "") << ":\n";
    } else {
        out << ", with their weight:\n";
    }
    Table rows;
    for (const DocumentFeature& feature : sorted) {
        rows.push_back({feature.name});
        if (importance) {
            rows.back().push_back(Share(feature.importance));
        }
        if (weight && !same) {
            rows.back().push_back(Share(feature.weight));
        }
    }
    PrintTable(out, rows);
}

void PrintModel(std::ostream& out, const AnalysisSettings& settings, const DocumentModel& model,
                bool categorical) {
    const int chosen = model.k.value_or(0);
    if (!model.kErrors.empty()) {
        const int folds = settings.CategoryCount(settings.fold);
        out << "  K chosen by " << (folds > 0 ? std::to_string(folds) + "-fold " : "")
            << "cross-validation; "
            << (categorical ? "misclassified cases" : "mean sum of squared errors of a fold")
            << " per K:\n";
        PrintKErrors(out, model.kErrors, chosen, categorical);
    }
    if (model.jointSelection) {
        // The error of each K is that of the features its run of the selection ended with.
        std::vector<KError> finals;
        std::vector<SelectionStep> chosenSteps;
        for (const SelectionStep& step : model.steps) {
            if (finals.empty() || finals.back().k != step.k) {
                finals.push_back({step.k, step.error});
            }
            finals.back().error = step.error;
            if (step.k == chosen) {
                chosenSteps.push_back(step);
            }
        }
        out << "  K and features chosen together by forward selection for each K (each case "
               "predicted\n  from the others); "
            << Criterion(categorical) << " with the final features of each K:\n";
        PrintKErrors(out, finals, chosen, categorical);
        out << "  features added at K = " << chosen << ", with the " << Criterion(categorical)
            << " after each step:\n";
        PrintSteps(out, chosenSteps, categorical);
    } else if (!model.steps.empty()) {
        out << "  features chosen by forward selection, each case predicted from the others; "
            << Criterion(categorical) << " after each step:\n";
        PrintSteps(out, model.steps, categorical);
    }
    PrintFeatures(out, model.features);
}

}  // namespace

void PrintModels(std::ostream& out, const AnalysisSettings& settings,
                 const std::vector<DocumentModel>& models, const std::string& problem) {
    const std::vector<int> order = ResultOrder(settings);
    for (size_t r = 0; r < std::max<size_t>(order.size(), 1); ++r) {
        const int target = r < order.size() ? order[r] : -1;
        if (target >= 0) {
            out << "Target " << Quote(settings.FieldName(target));
            if (settings.IsCategorical(target)) {
                out << " (categorical, " << settings.CategoryCount(target) << " categories)";
            } else {
                out << " (continuous)";
            }
        } else {
            out << "Neighbours only (no target)";
        }
        if (!problem.empty()) {
            out << '\n';
            continue;
        }
        const std::string response = target >= 0 ? settings.FieldName(target) : "";
        const auto model = std::find_if(models.begin(), models.end(), [&](const DocumentModel& m) {
            return m.response == response;
        });
        if (model == models.end()) {
            out << ": not described by the model document\n";
            continue;
        }
        out << ": K = " << (model->k ? std::to_string(*model->k) : "unknown") << '\n';
        PrintModel(out, settings, *model, target >= 0 && settings.IsCategorical(target));
    }
    if (!problem.empty()) {
        out << "K and features could not be read: " << problem << '\n';
    }
}

}  // namespace knncli
