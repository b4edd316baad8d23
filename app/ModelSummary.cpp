#include "ModelSummary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Csv.h"
#include "Json.h"
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

// K and features chosen together: the error of each K is that of the features its run of the
// selection ended with; `chosenSteps` are the steps of the chosen K.
struct JointRuns {
    std::vector<KError> finals;
    std::vector<SelectionStep> chosenSteps;
};

JointRuns Joint(const DocumentModel& model, int chosen) {
    JointRuns runs;
    for (const SelectionStep& step : model.steps) {
        if (runs.finals.empty() || runs.finals.back().k != step.k) {
            runs.finals.push_back({step.k, step.error});
        }
        runs.finals.back().error = step.error;
        if (step.k == chosen) {
            runs.chosenSteps.push_back(step);
        }
    }
    return runs;
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
        const auto [finals, chosenSteps] = Joint(model, chosen);
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

namespace {

void WriteKErrorsJson(JsonWriter& json, const std::vector<KError>& errors) {
    json.Key("kErrors");
    json.BeginArray();
    for (const KError& entry : errors) {
        json.BeginObject();
        json.Member("k", entry.k);
        json.Member("error", entry.error);
        json.EndObject();
    }
    json.EndArray();
}

void WriteStepsJson(JsonWriter& json, const std::vector<SelectionStep>& steps) {
    json.Key("steps");
    json.BeginArray();
    for (const SelectionStep& step : steps) {
        json.BeginObject();
        json.Member("step", step.step);
        json.Member("forced", step.step == 0);
        // The forced features are joined by '+' in the document.
        json.Key("features");
        json.BeginArray();
        size_t at = 0;
        for (size_t end; step.step == 0 && (end = step.features.find('+', at)) != std::string::npos;
             at = end + 1) {
            json.String(step.features.substr(at, end - at));
        }
        json.String(step.features.substr(at));
        json.EndArray();
        json.Member("error", step.error);
        json.EndObject();
    }
    json.EndArray();
}

void WriteModelJson(JsonWriter& json, const AnalysisSettings& settings,
                    const DocumentModel& model) {
    const int chosen = model.k.value_or(0);
    json.Key("k");
    if (model.k) {
        json.Integer(*model.k);
    } else {
        json.Null();
    }
    const int folds = settings.CategoryCount(settings.fold);
    if (!model.kErrors.empty()) {
        json.Member("kChoice", "crossValidation");
        json.Key("folds");
        if (folds > 0) {
            json.Integer(folds);
        } else {
            json.Null();
        }
        WriteKErrorsJson(json, model.kErrors);
        json.Member("largestKChosen", model.kErrors.size() > 1 && chosen == model.kErrors.back().k);
    } else if (model.jointSelection) {
        const JointRuns runs = Joint(model, chosen);
        json.Member("kChoice", "jointWithFeatures");
        json.Key("folds");
        json.Null();
        WriteKErrorsJson(json, runs.finals);
        json.Member("largestKChosen", runs.finals.size() > 1 && chosen == runs.finals.back().k);
    } else {
        json.Member("kChoice", "fixed");
        json.Key("folds");
        json.Null();
        WriteKErrorsJson(json, {});
        json.Member("largestKChosen", false);
    }

    json.Key("features");
    json.BeginArray();
    for (const DocumentFeature& feature : model.features) {
        json.BeginObject();
        json.Member("name", feature.name);
        json.Member("importance", feature.importance);
        json.Member("weight", feature.weight);
        json.EndObject();
    }
    json.EndArray();

    json.Key("featureSelection");
    if (model.steps.empty()) {
        json.Null();
    } else {
        json.BeginObject();
        if (model.jointSelection) {
            WriteStepsJson(json, Joint(model, chosen).chosenSteps);
            // Every K's run of the selection, in the order of the document.
            json.Key("runs");
            json.BeginArray();
            for (size_t i = 0; i < model.steps.size();) {
                const int k = model.steps[i].k;
                std::vector<SelectionStep> run;
                for (; i < model.steps.size() && model.steps[i].k == k; ++i) {
                    run.push_back(model.steps[i]);
                }
                json.BeginObject();
                json.Member("k", k);
                WriteStepsJson(json, run);
                json.EndObject();
            }
            json.EndArray();
        } else {
            WriteStepsJson(json, model.steps);
        }
        json.EndObject();
    }

    json.Key("trainingError");
    if (model.trainingError) {
        json.BeginObject();
        json.Member("measure", model.qualityMeasure);
        json.Member("value", *model.trainingError);
        json.EndObject();
    } else {
        json.Null();
    }
}

}  // namespace

void WriteModelsJson(JsonWriter& json, const AnalysisSettings& settings,
                     const std::vector<DocumentModel>& models, const std::string& problem) {
    const std::vector<int> order = ResultOrder(settings);
    json.BeginArray();
    for (size_t r = 0; r < std::max<size_t>(order.size(), 1); ++r) {
        const int target = r < order.size() ? order[r] : -1;
        const bool categorical = target >= 0 && settings.IsCategorical(target);
        json.BeginObject();
        json.Key("name");
        if (target >= 0) {
            json.String(settings.FieldName(target));
        } else {
            json.Null();
        }
        json.Member("kind", target < 0 ? "none" : categorical ? "categorical" : "continuous");
        if (categorical) {
            json.Key("categories");
            json.BeginArray();
            for (int c = 0; c < settings.CategoryCount(target); ++c) {
                json.String(settings.CategoryText(target, c));
            }
            json.EndArray();
        }
        json.Member("errorMeasure", target < 0    ? "none"
                                    : categorical ? "misclassifiedFraction"
                                                  : "sumOfSquaredErrors");
        const std::string response = target >= 0 ? settings.FieldName(target) : "";
        const auto model = std::find_if(models.begin(), models.end(), [&](const DocumentModel& m) {
            return m.response == response;
        });
        const bool described = problem.empty() && model != models.end();
        json.Member("described", described);
        if (described) {
            WriteModelJson(json, settings, *model);
        }
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace knncli
