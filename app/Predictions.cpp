#include "Predictions.h"

#include <algorithm>

#include "Csv.h"
#include "VelMV.h"

namespace knncli {

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

PredictionWriter::PredictionWriter(std::ostream& out, const AnalysisSettings& settings,
                                   std::string idColumn, int digits,
                                   const IdentifierTexts* neighbourTexts)
    : out_(out),
      settings_(settings),
      idColumn_(std::move(idColumn)),
      digits_(digits),
      neighbourTexts_(neighbourTexts),
      order_(ResultOrder(settings)),
      resultCount_(std::max<size_t>(order_.size(), 1)),
      neighbours_(resultCount_, 0) {}

void PredictionWriter::Add(ScoredRecord record) {
    if (!headerWritten_ && record.results.empty()) {
        waiting_.push_back(std::move(record));
        return;
    }
    if (!headerWritten_) {
        for (size_t r = 0; r < record.results.size() && r < resultCount_; ++r) {
            neighbours_[r] = record.results[r].ids.size();
        }
        Finish();
    }
    WriteRecord(record);
}

void PredictionWriter::Finish() {
    if (!headerWritten_) {
        WriteHeader();
    }
    for (const ScoredRecord& record : waiting_) {
        WriteRecord(record);
    }
    waiting_.clear();
}

std::string PredictionWriter::Number(double value, int digits) const {
    return VelCommon_940::VelMV::IsMissing(value) ? std::string() : FormatNumber(value, digits);
}

std::string PredictionWriter::Identifier(double value) const {
    if (VelCommon_940::VelMV::IsMissing(value)) {
        return {};
    }
    if (neighbourTexts_ != nullptr) {
        const double index = value - 1.0;
        return index >= 0 && index < static_cast<double>(neighbourTexts_->size())
                   ? CsvQuote((*neighbourTexts_)[static_cast<size_t>(index)])
                   : std::string();
    }
    return FormatIdentifier(value);
}

void PredictionWriter::WriteHeader() {
    const bool prefixed = order_.size() > 1;
    const bool labels = settings_.caseLabel >= 0;
    std::vector<std::string> header{CsvQuote(idColumn_)};
    for (size_t r = 0; r < resultCount_; ++r) {
        std::string prefix;
        if (r < order_.size()) {
            const int target = order_[r];
            const std::string name = settings_.FieldName(target);
            prefix = prefixed ? name + "_" : "";
            header.push_back(CsvQuote(name + "_predicted"));
            for (int c = 0; c < settings_.CategoryCount(target); ++c) {
                header.push_back(CsvQuote(name + "_prob_" + settings_.CategoryText(target, c)));
            }
        }
        for (size_t j = 1; j <= neighbours_[r]; ++j) {
            const std::string number = std::to_string(j);
            header.push_back(CsvQuote(prefix + "neighbor_" + number));
            header.push_back(CsvQuote(prefix + "distance_" + number));
            if (labels) {
                header.push_back(CsvQuote(prefix + "label_" + number));
            }
        }
    }
    out_ << CsvLine(header) << '\n';
    headerWritten_ = true;
}

void PredictionWriter::WriteRecord(const ScoredRecord& record) {
    const bool labels = settings_.caseLabel >= 0;
    std::vector<std::string> line{CsvQuote(record.id)};
    for (size_t r = 0; r < resultCount_; ++r) {
        const TargetResult* result = r < record.results.size() ? &record.results[r] : nullptr;
        if (r < order_.size()) {
            const int target = order_[r];
            std::string predicted;
            if (result != nullptr && !result->predictions.empty()) {
                const double last = result->predictions.back();
                if (!settings_.IsCategorical(target)) {
                    predicted = Number(last, 0);
                } else if (last >= 0) {
                    predicted = CsvQuote(settings_.CategoryText(target, static_cast<int>(last)));
                }
            }
            line.push_back(predicted);
            for (int c = 0; c < settings_.CategoryCount(target); ++c) {
                const size_t k = static_cast<size_t>(c);
                const bool known = result != nullptr && k < result->probabilities.size();
                line.push_back(known ? Number(result->probabilities[k], digits_) : std::string());
            }
        }
        for (size_t j = 0; j < neighbours_[r]; ++j) {
            const bool known = result != nullptr && j < result->ids.size();
            line.push_back(known ? Identifier(result->ids[j]) : std::string());
            line.push_back(known ? Number(result->distances[j], digits_) : std::string());
            if (labels) {
                const double label = known ? result->labels[j] : -1.0;
                line.push_back(label >= 0 ? CsvQuote(settings_.CategoryText(
                                                settings_.caseLabel, static_cast<int>(label)))
                                          : std::string());
            }
        }
    }
    out_ << CsvLine(line) << '\n';
}

}  // namespace knncli
