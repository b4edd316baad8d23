#include "Evaluation.h"

#include <algorithm>

#include "Csv.h"
#include "Json.h"
#include "ModelSummary.h"
#include "VelMV.h"

namespace knncli {

namespace {

using VelCommon_940::VelMV;

// The cross-validated error of the chosen K, when K was chosen by cross-validation alone.
const KError* CrossValidated(const std::vector<DocumentModel>& models, const std::string& name) {
    const auto model = std::find_if(models.begin(), models.end(),
                                    [&name](const DocumentModel& m) { return m.response == name; });
    if (model == models.end() || !model->k) {
        return nullptr;
    }
    const auto entry = std::find_if(model->kErrors.begin(), model->kErrors.end(),
                                    [&model](const KError& e) { return e.k == *model->k; });
    return entry == model->kErrors.end() ? nullptr : &*entry;
}

}  // namespace

Evaluation::Evaluation(const AnalysisSettings& settings, const std::vector<int>& targets,
                       const std::vector<bool>& known)
    : settings_(settings), targets_(targets.size()) {
    for (size_t r = 0; r < targets.size(); ++r) {
        if (!known[r]) {
            continue;
        }
        Target& target = targets_[r];
        target.field = targets[r];
        target.categorical = settings.IsCategorical(target.field);
        const size_t categories = static_cast<size_t>(settings.CategoryCount(target.field));
        target.counts.assign(categories, std::vector<long>(categories, 0));
    }
}

void Evaluation::Add(const double* row, const std::vector<TargetResult>& results) {
    for (size_t r = 0; r < targets_.size() && r < results.size(); ++r) {
        Target& target = targets_[r];
        if (target.field < 0 || results[r].predictions.empty()) {
            continue;
        }
        const double observed = row[target.field];
        const double predicted = results[r].predictions.back();
        if (target.categorical) {
            const long actual = static_cast<long>(observed);
            const long guess = static_cast<long>(predicted);
            const long categories = static_cast<long>(target.counts.size());
            if (actual < 0 || actual >= categories || guess < 0 || guess >= categories) {
                continue;  // missing or not a category of the field
            }
            ++target.counts[static_cast<size_t>(actual)][static_cast<size_t>(guess)];
            target.wrong += actual != guess ? 1 : 0;
        } else {
            if (VelMV::IsMissing(observed) || VelMV::IsMissing(predicted)) {
                continue;
            }
            target.squares += (predicted - observed) * (predicted - observed);
        }
        ++target.records;
    }
}

bool Evaluation::Empty() const {
    return std::none_of(targets_.begin(), targets_.end(),
                        [](const Target& target) { return target.records > 0; });
}

void Evaluation::Print(std::ostream& out, const std::string& file,
                       const std::vector<DocumentModel>& models) const {
    for (const Target& target : targets_) {
        if (target.records == 0) {
            continue;
        }
        const std::string name = settings_.FieldName(target.field);
        out << "Evaluation on the " << target.records
            << (target.records == 1 ? " record" : " records") << " of " << file
            << " with a known \"" << name << "\":\n";
        const KError* cv = CrossValidated(models, name);
        if (target.categorical) {
            const double rate =
                static_cast<double>(target.wrong) / static_cast<double>(target.records);
            out << "  misclassified " << target.wrong << " of " << target.records << " ("
                << ErrorText(rate, true) << ")";
            if (cv != nullptr) {
                out << "; cross-validation estimated " << ErrorText(cv->error, true)
                    << " at K = " << cv->k;
            }
            out << "\n  counts of observed (rows) against predicted (columns) categories:\n";
            Table rows{{""}};
            for (size_t c = 0; c < target.counts.size(); ++c) {
                rows[0].push_back(settings_.CategoryText(target.field, static_cast<int>(c)));
            }
            for (size_t observed = 0; observed < target.counts.size(); ++observed) {
                rows.push_back({settings_.CategoryText(target.field, static_cast<int>(observed))});
                for (const long count : target.counts[observed]) {
                    rows.back().push_back(std::to_string(count));
                }
            }
            PrintTable(out, rows);
        } else {
            out << "  sum of squared errors " << ErrorText(target.squares, false) << ", mean "
                << ErrorText(target.squares / static_cast<double>(target.records), false);
            if (cv != nullptr) {
                out << "; cross-validation estimated " << ErrorText(cv->error, false)
                    << " per fold at K = " << cv->k;
            }
            out << '\n';
        }
    }
}

void Evaluation::WriteJson(JsonWriter& json, const std::vector<DocumentModel>& models) const {
    json.BeginArray();
    for (const Target& target : targets_) {
        if (target.records == 0) {
            continue;
        }
        const std::string name = settings_.FieldName(target.field);
        json.BeginObject();
        json.Member("target", name);
        json.Member("records", target.records);
        if (target.categorical) {
            json.Member("misclassified", target.wrong);
            json.Member("misclassifiedFraction",
                        static_cast<double>(target.wrong) / static_cast<double>(target.records));
            json.Key("categories");
            json.BeginArray();
            for (size_t c = 0; c < target.counts.size(); ++c) {
                json.String(settings_.CategoryText(target.field, static_cast<int>(c)));
            }
            json.EndArray();
            json.Key("counts");
            json.BeginArray();
            for (const std::vector<long>& row : target.counts) {
                json.BeginArray();
                for (const long count : row) {
                    json.Integer(count);
                }
                json.EndArray();
            }
            json.EndArray();
        } else {
            json.Member("sumOfSquaredErrors", target.squares);
            json.Member("meanSquaredError", target.squares / static_cast<double>(target.records));
        }
        json.Key("crossValidated");
        if (const KError* cv = CrossValidated(models, name)) {
            json.BeginObject();
            json.Member("k", cv->k);
            json.Member("error", cv->error);
            json.EndObject();
        } else {
            json.Null();
        }
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace knncli
