#include "TrainingSource.h"

#include <filesystem>

#include "Errors.h"

namespace knncli {

namespace {

// Records read between two looks at the interruption flag (and updates of the progress bar).
constexpr long kRecordsPerCheck = 4096;

}  // namespace

TrainingSource::TrainingSource(std::string path, const AnalysisSettings& settings,
                               ConsoleProgress& progress, std::function<bool()> interrupted)
    : path_(std::move(path)),
      settings_(settings),
      progress_(progress),
      interrupted_(std::move(interrupted)),
      reader_(std::make_unique<DataReader>(path_, settings_, DataRole::kTraining)) {
    std::error_code error;
    if (path_ != "-" && std::filesystem::is_regular_file(path_, error)) {
        size_ = std::filesystem::file_size(path_, error);
        if (error) {
            size_ = 0;
        }
    }
}

TrainingSource::~TrainingSource() = default;

void TrainingSource::CheckInterruption() const {
    if (interrupted_ && interrupted_()) {
        throw CliError(kExitInterrupted, ReadingInterrupted(reader_->Facts().file));
    }
}

bool TrainingSource::Reset() {
    if (error_) {
        return false;
    }
    if (fresh_) {
        return true;
    }
    if (path_ == "-") {
        return false;
    }
    try {
        reader_ = std::make_unique<DataReader>(path_, settings_, DataRole::kTraining);
    } catch (...) {
        error_ = std::current_exception();
        return false;
    }
    fresh_ = true;
    exhausted_ = false;
    return true;
}

const VelCommon_940::Record* TrainingSource::Next() {
    if (error_ || exhausted_) {
        return nullptr;
    }
    fresh_ = false;
    // Nothing may be thrown into the component: what stops the reading waits for Finish.
    try {
        if (reader_->Facts().records % kRecordsPerCheck == 0) {
            CheckInterruption();
            progress_.InputRead(reader_->Consumed(), size_);
        }
        const double* row = reader_->Next();
        if (row == nullptr) {
            exhausted_ = true;
            progress_.SetExpectedCases(reader_->Facts().validCases);
            progress_.CasesDelivered();
            return nullptr;
        }
        record_.Values().assign(row, row + reader_->Facts().width);
        return &record_;
    } catch (...) {
        error_ = std::current_exception();
        return &refused_;
    }
}

LoadedData TrainingSource::Finish() {
    if (error_) {
        std::rethrow_exception(error_);
    }
    if (!exhausted_) {
        CheckInterruption();
        while (reader_->Next() != nullptr) {
            if (reader_->Facts().records % kRecordsPerCheck == 0) {
                CheckInterruption();
            }
        }
        exhausted_ = true;
    }
    LoadedData facts = reader_->TakeFacts();
    reader_.reset();
    return facts;
}

}  // namespace knncli
