#include "Predictions.h"

#include <algorithm>

#include "Csv.h"
#include "VelMV.h"

namespace knncli {

namespace {

std::string Number(double value) {
    return VelCommon_940::VelMV::IsMissing(value) ? std::string() : FormatNumber(value);
}

}  // namespace

std::vector<int> ResultOrder(const AnalysisSettings& settings) {
    std::vector<int> order = settings.targets;
    std::stable_partition(order.begin(), order.end(),
                          [&settings](int field) { return settings.IsCategorical(field); });
    return order;
}

bool DecodeResult(const std::vector<double>& values, int categories, TargetResult& result) {
    // Neighbour identifiers, distances and labels come n each, and so do the predictions
    // (after the m probabilities of a categorical target).
    const size_t size = values.size();
    const size_t fixed = categories > 0 ? static_cast<size_t>(categories) : 0;
    const size_t perNeighbour = categories < 0 ? 3 : 4;
    if (size < fixed + perNeighbour || (size - fixed) % perNeighbour != 0) {
        return false;
    }
    const size_t n = (size - fixed) / perNeighbour;
    auto at = values.begin();
    const auto take = [&at](std::vector<double>& into, size_t count) {
        into.assign(at, at + static_cast<std::ptrdiff_t>(count));
        at += static_cast<std::ptrdiff_t>(count);
    };
    take(result.ids, n);
    take(result.distances, n);
    take(result.probabilities, fixed);
    take(result.predictions, categories < 0 ? 0 : n);
    take(result.labels, n);
    return true;
}

void WritePredictions(std::ostream& out, const AnalysisSettings& settings,
                      const std::string& idColumn, const std::vector<ScoredRecord>& records) {
    const std::vector<int> order = ResultOrder(settings);
    const size_t resultCount = std::max<size_t>(order.size(), 1);
    const bool prefixed = order.size() > 1;
    const bool labels = settings.caseLabel >= 0;

    // Neighbours per result; the same for every record, but take the largest to be safe.
    std::vector<size_t> neighbours(resultCount, 0);
    for (const ScoredRecord& record : records) {
        for (size_t r = 0; r < record.results.size() && r < resultCount; ++r) {
            neighbours[r] = std::max(neighbours[r], record.results[r].ids.size());
        }
    }

    std::vector<std::string> header{CsvQuote(idColumn)};
    for (size_t r = 0; r < resultCount; ++r) {
        std::string prefix;
        if (r < order.size()) {
            const int target = order[r];
            const std::string name = settings.FieldName(target);
            prefix = prefixed ? name + "_" : "";
            header.push_back(CsvQuote(name + "_predicted"));
            for (int c = 0; c < settings.CategoryCount(target); ++c) {
                header.push_back(CsvQuote(name + "_prob_" + settings.CategoryText(target, c)));
            }
        }
        for (size_t j = 1; j <= neighbours[r]; ++j) {
            const std::string number = std::to_string(j);
            header.push_back(CsvQuote(prefix + "neighbor_" + number));
            header.push_back(CsvQuote(prefix + "distance_" + number));
            if (labels) {
                header.push_back(CsvQuote(prefix + "label_" + number));
            }
        }
    }
    out << CsvLine(header) << '\n';

    std::vector<std::string> line;
    for (const ScoredRecord& record : records) {
        line.assign(1, CsvQuote(record.id));
        for (size_t r = 0; r < resultCount; ++r) {
            const TargetResult* result = r < record.results.size() ? &record.results[r] : nullptr;
            if (r < order.size()) {
                const int target = order[r];
                const int categories = settings.CategoryCount(target);
                std::string predicted;
                if (result != nullptr && !result->predictions.empty()) {
                    const double last = result->predictions.back();
                    predicted = settings.IsCategorical(target)
                                    ? (last >= 0 ? settings.CategoryText(target,
                                                                         static_cast<int>(last))
                                                 : std::string())
                                    : Number(last);
                }
                line.push_back(CsvQuote(predicted));
                for (int c = 0; c < categories; ++c) {
                    const bool known =
                        result != nullptr && static_cast<size_t>(c) < result->probabilities.size();
                    line.push_back(known ? Number(result->probabilities[static_cast<size_t>(c)])
                                         : std::string());
                }
            }
            for (size_t j = 0; j < neighbours[r]; ++j) {
                const bool known = result != nullptr && j < result->ids.size();
                line.push_back(known ? Number(result->ids[j]) : std::string());
                line.push_back(known ? Number(result->distances[j]) : std::string());
                if (labels) {
                    const double label = known ? result->labels[j] : -1.0;
                    line.push_back(
                        label >= 0 && !VelCommon_940::VelMV::IsMissing(label)
                            ? CsvQuote(settings.CategoryText(settings.caseLabel,
                                                             static_cast<int>(label)))
                            : std::string());
                }
            }
        }
        out << CsvLine(line) << '\n';
    }
}

}  // namespace knncli
