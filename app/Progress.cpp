#include "Progress.h"

#include <algorithm>
#include <cstdio>

#include "Settings.h"
#include "VelMV.h"

namespace knncli {

namespace {

struct Stage {
    const char* name;
    const char* description;
};

// Indexed by the stage code the component reports as "ReportStage".
constexpr Stage kStages[] = {
    {"cases", "reading cases"},
    {"modelSelection", "model selection"},
    {"buildModel", "building the model"},
    {"scoreTraining", "scoring the training cases"},
    {"kselection", "choosing K"},
    {"featSelection", "choosing features"},
    {"kandFeatselection", "choosing K and features"},
    {"featImportance", "computing feature importance"},
    {"featWeight", "weighting features"},
    {"writeOrigToDisk", "writing the training data"},
    {"compDisSaveToDisk", "writing neighbours and distances"},
    {"writePMML", "writing the model document"},
};
constexpr int kStageCount = static_cast<int>(sizeof kStages / sizeof kStages[0]);
constexpr int kBarWidth = 20;
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

// The description of a stage by its name; a name the table does not know stands for itself.
std::string Describe(const std::string& name) {
    for (const Stage& stage : kStages) {
        if (name == stage.name) {
            return stage.description;
        }
    }
    return name;
}

std::string Bar(long done, long total) {
    const long filled = total > 0 ? std::clamp<long>(done * kBarWidth / total, 0, kBarWidth) : 0;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] ";
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

std::string Seconds(std::chrono::steady_clock::duration duration) {
    return Seconds(std::chrono::duration<double>(duration).count());
}

}  // namespace

std::vector<std::string> BuildStagePlan(const AnalysisSettings& settings) {
    std::vector<std::string> plan{"cases"};
    // Without a target there is nothing to select: the component builds the trees at once.
    if (!settings.targets.empty()) {
        if (settings.autoK) {
            plan.push_back(settings.featureSelection ? "kandFeatselection" : "kselection");
        } else if (settings.featureSelection) {
            // Feature selection alone needs a number of features or the automatic stop; the
            // component rejects settings that give neither before anything is built.
            plan.push_back("featSelection");
        }
        if (settings.featureWeight) {
            plan.push_back("featImportance");
            plan.push_back("featWeight");
        }
        plan.push_back("modelSelection");
    }
    plan.push_back("buildModel");
    return plan;
}

std::vector<std::string> ExportStagePlan() {
    return {"writeOrigToDisk", "compDisSaveToDisk", "writePMML"};
}

ConsoleProgress::ConsoleProgress(std::ostream& out, bool terminal, bool quiet)
    : out_(out), terminal_(terminal), quiet_(quiet) {
    if (terminal_ && !quiet_) {
        ticker_ = std::thread(&ConsoleProgress::Tick, this);
    }
}

ConsoleProgress::~ConsoleProgress() {
    if (ticker_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        ticker_.join();
    }
    Finish();
}

std::string ConsoleProgress::StageName(int stage) {
    return stage >= 0 && stage < kStageCount ? kStages[stage].name : "";
}

std::string ConsoleProgress::StageDescription(int stage) {
    return stage >= 0 && stage < kStageCount ? kStages[stage].description
                                             : "stage " + std::to_string(stage);
}

void ConsoleProgress::SetExpectedCases(long cases) {
    std::lock_guard lock(mutex_);
    expectedCases_ = cases;
}

void ConsoleProgress::InputRead(uint64_t done, uint64_t total) {
    std::lock_guard lock(mutex_);
    inputDone_ = done;
    inputTotal_ = total;
}

void ConsoleProgress::PlanStages(std::vector<std::string> names) {
    if (quiet_) {
        return;
    }
    std::lock_guard lock(mutex_);
    plan_ = std::move(names);
    planned_ = 0;
    selectionStart_ = Clock::now();
    if (!plan_.empty()) {
        Start(plan_.front(), Describe(plan_.front()));
        Draw();
    }
}

void ConsoleProgress::Notify(VelCommon_940::ProgressReport* report) {
    if (quiet_ || report == nullptr) {
        return;
    }
    const int stage = report->DiscreteMeasure("ReportStage");
    const std::string name = StageName(stage);
    std::lock_guard lock(mutex_);
    if (stage == 0) {
        // Reading cases is reported while it goes on, and never when it ends.
        if (running_ != name) {
            Start(name, Describe(name));
        }
        casesSoFar_ = report->DiscreteMeasure(name);
        Draw();
        return;
    }
    const double processorTime = report->ScaleMeasure("elapsedTime");
    EndStage(name, StageDescription(stage),
             VelCommon_940::VelMV::IsMissing(processorTime)
                 ? ""
                 : " (" + Seconds(processorTime) + " processor time)");
}

void ConsoleProgress::CasesDelivered() {
    if (quiet_) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (running_ != "cases") {
        return;
    }
    EndStage(running_, runningLabel_,
             expectedCases_ > 0 ? " (" + std::to_string(expectedCases_) + " valid cases)" : "");
}

void ConsoleProgress::Step(const std::string& text) {
    if (quiet_) {
        return;
    }
    std::lock_guard lock(mutex_);
    Start("", text);
    if (terminal_) {
        Draw();
    } else {
        Line(text);
    }
}

void ConsoleProgress::Advance(const std::string& what, long done, long total) {
    if (quiet_ || !terminal_) {
        return;
    }
    // Called for every record: the ticker draws the numbers.
    std::lock_guard lock(mutex_);
    drawing_ = true;
    advanceWhat_ = what;
    advanceDone_ = done;
    advanceTotal_ = total;
}

void ConsoleProgress::Finish() {
    std::lock_guard lock(mutex_);
    drawing_ = false;
    if (lineOpen_) {
        out_ << "\r\033[K" << std::flush;
        lineOpen_ = false;
    }
}

void ConsoleProgress::Start(const std::string& name, const std::string& label) {
    running_ = name;
    runningLabel_ = label;
    stageStart_ = Clock::now();
    casesSoFar_ = -1;
    advanceWhat_.clear();
    drawing_ = true;
}

// The stage `name` (empty when the code is unknown) has ended: its line, then the next planned
// stage runs. A stage that is not planned from here on leaves the plan where it was and shows
// itself as done, so the line never names a stage that is not running.
void ConsoleProgress::EndStage(const std::string& name, const std::string& label,
                               const std::string& detail) {
    const Clock::time_point now = Clock::now();
    if (!terminal_) {
        const Clock::time_point began = name == "modelSelection" ? selectionStart_ : stageStart_;
        Line(label + ": done in " + Seconds(now - began) + detail);
    }
    if (name == "cases") {
        selectionStart_ = now;
    }
    const auto from = plan_.begin() + static_cast<std::ptrdiff_t>(planned_);
    const auto found = name.empty() ? plan_.end() : std::find(from, plan_.end(), name);
    if (found != plan_.end()) {
        planned_ = static_cast<size_t>(found - plan_.begin()) + 1;
    }
    if (found != plan_.end() && planned_ < plan_.size()) {
        Start(plan_[planned_], Describe(plan_[planned_]));
    } else {
        Start("", label + ": done");
    }
    Draw();
}

void ConsoleProgress::Draw() {
    if (!terminal_ || !drawing_) {
        return;
    }
    std::string text;
    if (!advanceWhat_.empty()) {
        text = Bar(advanceDone_, advanceTotal_) + advanceWhat_ + ": " +
               std::to_string(advanceDone_) + " of " + std::to_string(advanceTotal_);
    } else if (running_ == "cases" && casesSoFar_ >= 0) {
        text = runningLabel_ + ": " + std::to_string(casesSoFar_) + " valid so far";
        if (expectedCases_ > 0) {
            text = Bar(casesSoFar_, expectedCases_) + text;
        } else if (inputTotal_ > 0) {
            // Kilobytes keep the product in Bar within a long.
            text = Bar(static_cast<long>(inputDone_ >> 10), static_cast<long>(inputTotal_ >> 10)) +
                   text;
        }
    } else {
        text = runningLabel_;
    }
    const Clock::time_point now = Clock::now();
    // One write per redraw, so that the line reaches the stream whole.
    out_ << "\r\033[K" + text + "  " + Seconds(now - stageStart_) + "  [total " +
                Seconds(now - start_) + "]"
         << std::flush;
    lineOpen_ = true;
}

void ConsoleProgress::Line(const std::string& text) {
    out_ << "knn: " + text + "\n" << std::flush;
}

void ConsoleProgress::Tick() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kRedrawInterval, [this] { return stop_; })) {
        Draw();
    }
}

}  // namespace knncli
