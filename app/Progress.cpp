#include "Progress.h"

#include <algorithm>
#include <cstdio>

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
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

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

}  // namespace

ConsoleProgress::ConsoleProgress(std::ostream& out, bool terminal, bool quiet)
    : out_(out), terminal_(terminal), quiet_(quiet) {}

std::string ConsoleProgress::StageName(int stage) {
    return stage >= 0 && stage < kStageCount ? kStages[stage].name : "";
}

std::string ConsoleProgress::StageDescription(int stage) {
    return stage >= 0 && stage < kStageCount ? kStages[stage].description
                                             : "stage " + std::to_string(stage);
}

void ConsoleProgress::Notify(VelCommon_940::ProgressReport* report) {
    if (quiet_ || report == nullptr) {
        return;
    }
    const int stage = report->DiscreteMeasure("ReportStage");
    const std::string name = StageName(stage);
    if (name.empty()) {
        return;
    }
    const int count = report->DiscreteMeasure(name);
    const double elapsed = report->ScaleMeasure("elapsedTime");
    std::string line;
    if (stage == 0) {
        line = "reading cases: " + std::to_string(count) + " valid so far";
        if (terminal_ && expectedCases_ > 0) {
            line = Bar(count, expectedCases_) + line;
        }
    } else {
        line = StageDescription(stage) + ": done";
    }
    if (!VelCommon_940::VelMV::IsMissing(elapsed)) {
        line += " (" + Seconds(elapsed) + " processor time)";
    }
    Show(line);
}

void ConsoleProgress::Step(const std::string& text) {
    if (quiet_) {
        return;
    }
    Show(text);
}

void ConsoleProgress::Advance(const std::string& what, long done, long total) {
    if (quiet_ || !terminal_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAdvance_ < kRedrawInterval) {
        return;
    }
    lastAdvance_ = now;
    Show(Bar(done, total) + what + ": " + std::to_string(done) + " of " + std::to_string(total));
}

void ConsoleProgress::Show(const std::string& line) {
    if (terminal_) {
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        out_ << "\r\033[K" << line << "  [" << Seconds(wall) << "]" << std::flush;
        lineOpen_ = true;
    } else {
        out_ << "knn: " << line << '\n' << std::flush;
    }
}

void ConsoleProgress::Finish() {
    if (lineOpen_) {
        out_ << "\r\033[K" << std::flush;
        lineOpen_ = false;
    }
}

}  // namespace knncli
