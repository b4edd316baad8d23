// Progress of the knn program: the stages a build passes, the lines off a terminal, and the
// status line that a thread of its own redraws on a terminal.
#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>
#include <regex>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "Progress.h"
#include "Settings.h"
#include "VelMV.h"

#include "CliTestSupport.h"

using namespace knncli;
using namespace knncli_test;

namespace {

using Plan = std::vector<std::string>;
using namespace std::chrono_literals;

// A report as the component hands it over: at the end of a stage, or while reading cases.
class StageReport : public VelCommon_940::ProgressReport {
public:
    StageReport(int stage, int count) : stage_(stage), count_(count) {}
    int DiscreteMeasure(const std::string& name) override {
        return name == "ReportStage"                        ? stage_
               : name == ConsoleProgress::StageName(stage_) ? count_
                                                            : -1;
    }
    double ScaleMeasure(const std::string& name) override {
        return name == "elapsedTime" ? 0.25 : VelCommon_940::VelMV::Missing();
    }

private:
    int stage_;
    int count_;
};

// Stage codes as the component reports them.
constexpr int kCases = 0;
constexpr int kModelSelection = 1;
constexpr int kBuildModel = 2;
constexpr int kKSelection = 4;
constexpr int kFeatWeight = 8;
constexpr int kWritePMML = 11;

// What a stream received, readable by the test while the ticker thread writes.
class LockedText : public std::streambuf {
public:
    std::string Text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

protected:
    int overflow(int c) override {
        if (c != traits_type::eof()) {
            std::lock_guard lock(mutex_);
            text_ += static_cast<char>(c);
        }
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard lock(mutex_);
        text_.append(s, static_cast<size_t>(n));
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// The status line as last drawn: what follows the last "clear line".
std::string LastLine(const std::string& text) {
    const size_t clear = text.rfind("\r\033[K");
    return clear == std::string::npos ? text : text.substr(clear + 4);
}

// Waits (at most a few seconds) until `done` holds for the status line.
bool WaitForLine(const LockedText& sink, const std::function<bool(const std::string&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done(LastLine(sink.Text()))) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The stage's elapsed seconds in a status line "<stage>  1.25 s  [total 3.50 s]", or -1.
double StageSeconds(const std::string& line) {
    static const std::regex times("  ([0-9]+\\.[0-9]{2}) s  \\[total [0-9]+\\.[0-9]{2} s\\]$");
    std::smatch match;
    return std::regex_search(line, match, times) ? std::stod(match[1]) : -1.0;
}

long Threads() {
    return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{});
}

Plan PlanOf(const std::string& parameters, bool withTarget = true) {
    std::string text =
        Replace(kSettings, "<Parameter key=\"SpecifiedK\" type=\"int\" value=\"3\"/>",
                "<Parameter key=\"SpecifiedK\" type=\"int\" value=\"3\"/>" + parameters);
    if (!withTarget) {
        text = Replace(text, "<Targets><Target name=\"class\"/></Targets>", "");
    }
    return BuildStagePlan(ParseSettings(text, "s.xml"));
}

std::string Parameter(const std::string& key) {
    return "<Parameter key=\"" + key + "\" type=\"bool\" value=\"true\"/>";
}

TEST(Progress, BuildPlanFollowsTheSelectionSettings) {
    EXPECT_EQ(PlanOf(""), (Plan{"cases", "modelSelection", "buildModel"}));
    EXPECT_EQ(PlanOf(Parameter("IsAutoKSelection")),
              (Plan{"cases", "kselection", "modelSelection", "buildModel"}));
    EXPECT_EQ(PlanOf(Parameter("IsAutoKSelection") + Parameter("IsFeatureSelection")),
              (Plan{"cases", "kandFeatselection", "modelSelection", "buildModel"}));
    EXPECT_EQ(PlanOf(Parameter("IsFeatureSelection") + Parameter("IsAutoFeatureSelection") +
                     Parameter("IsFeatureWeight")),
              (Plan{"cases", "featSelection", "featImportance", "featWeight", "modelSelection",
                    "buildModel"}));
    EXPECT_EQ(PlanOf(Parameter("IsAutoKSelection") + Parameter("IsFeatureWeight"), false),
              (Plan{"cases", "buildModel"}));
}

TEST(Progress, OffTerminalOneLinePerStepAndFinishedStage) {
    std::ostringstream lines;
    ConsoleProgress progress(lines, false, false);
    progress.SetExpectedCases(60000);
    progress.Step("building the model from 61000 records");
    progress.PlanStages({"cases", "kselection", "modelSelection", "buildModel"});
    StageReport cases(kCases, 30000);
    progress.Notify(&cases);
    progress.Notify(&cases);
    progress.CasesDelivered();
    progress.CasesDelivered();  // reading has ended already
    std::this_thread::sleep_for(100ms);
    StageReport chosen(kKSelection, 1);
    StageReport selected(kModelSelection, 1);
    StageReport built(kBuildModel, 1);
    StageReport unknown(42, 1);
    progress.Notify(&chosen);
    progress.Notify(&selected);
    progress.Notify(&built);
    progress.Notify(&unknown);
    progress.Advance("scoring", 1, 2);  // only on a terminal
    progress.Finish();

    const std::string text = lines.str();
    EXPECT_EQ(std::regex_replace(text, std::regex("done in [0-9]+\\.[0-9]{2} s"), "done in # s"),
              "knn: building the model from 61000 records\n"
              "knn: reading cases: done in # s (60000 valid cases)\n"
              "knn: choosing K: done in # s (0.25 s processor time)\n"
              "knn: model selection: done in # s (0.25 s processor time)\n"
              "knn: building the model: done in # s (0.25 s processor time)\n"
              "knn: stage 42: done in # s (0.25 s processor time)\n");
    // Wall time is the program's own: model selection spans the choice of K.
    std::smatch match;
    for (const char* stage : {"choosing K", "model selection"}) {
        ASSERT_TRUE(std::regex_search(text, match,
                                      std::regex(std::string(stage) + ": done in ([0-9.]+) s")));
        EXPECT_GE(std::stod(match[1]), 0.1) << stage;
    }
}

// While a file is streamed to the component the number of its cases is not known yet: the bar
// follows the bytes read, and once the cases are known it follows them.
TEST(Progress, WhileAFileIsStreamedTheBarFollowsItsBytes) {
    LockedText sink;
    std::ostream out(&sink);
    ConsoleProgress progress(out, true, false);
    progress.PlanStages({"cases", "buildModel"});
    progress.InputRead(3 << 20, 4 << 20);
    StageReport cases(kCases, 30000);
    progress.Notify(&cases);
    EXPECT_TRUE(LastLine(sink.Text())
                    .starts_with("[###############-----] reading cases: 30000 valid so far  "))
        << LastLine(sink.Text());
    progress.SetExpectedCases(120000);
    progress.Notify(&cases);
    EXPECT_TRUE(LastLine(sink.Text())
                    .starts_with("[#####---------------] reading cases: 30000 valid so far  "))
        << LastLine(sink.Text());
}

TEST(Progress, OnTerminalTheLineNamesTheRunningStage) {
    LockedText sink;
    std::ostream out(&sink);
    ConsoleProgress progress(out, true, false);
    progress.SetExpectedCases(60000);
    progress.PlanStages(
        {"cases", "kselection", "featImportance", "featWeight", "modelSelection", "buildModel"});
    const auto line = [&sink] { return LastLine(sink.Text()); };
    EXPECT_TRUE(line().starts_with("reading cases  ")) << line();

    StageReport cases(kCases, 30000);
    progress.Notify(&cases);
    EXPECT_TRUE(line().starts_with("[##########----------] reading cases: 30000 valid so far  "))
        << line();
    progress.CasesDelivered();
    EXPECT_TRUE(line().starts_with("choosing K  ")) << line();
    StageReport chosen(kKSelection, 1);
    progress.Notify(&chosen);
    EXPECT_TRUE(line().starts_with("computing feature importance  ")) << line();
    // A planned stage that reports out of turn: the plan goes on after it.
    StageReport weighted(kFeatWeight, 1);
    progress.Notify(&weighted);
    EXPECT_TRUE(line().starts_with("model selection  ")) << line();
    // Not planned: the line says what has just ended instead of guessing what runs.
    StageReport written(kWritePMML, 1);
    progress.Notify(&written);
    EXPECT_TRUE(line().starts_with("writing the model document: done  ")) << line();
    StageReport built(kBuildModel, 1);
    progress.Notify(&built);
    EXPECT_TRUE(line().starts_with("building the model: done  ")) << line();

    progress.Step("scoring 5 records");
    EXPECT_TRUE(line().starts_with("scoring 5 records  ")) << line();
    progress.Advance("scoring", 2, 5);
    EXPECT_TRUE(WaitForLine(sink, [](const std::string& last) {
        return last.starts_with("[########------------] scoring: 2 of 5  ");
    })) << line();
}

TEST(Progress, TickerRedrawsUntilFinished) {
    LockedText sink;
    std::ostream out(&sink);
    ConsoleProgress progress(out, true, false);
    progress.PlanStages({"cases", "kselection", "modelSelection", "buildModel"});
    progress.CasesDelivered();
    const double first = StageSeconds(LastLine(sink.Text()));
    ASSERT_GE(first, 0.0) << sink.Text();
    // No call from here on: the clock of the running stage still ticks.
    EXPECT_TRUE(WaitForLine(sink, [first](const std::string& last) {
        return last.starts_with("choosing K  ") && StageSeconds(last) > first;
    })) << LastLine(sink.Text());

    progress.Finish();
    const std::string finished = sink.Text();
    EXPECT_TRUE(finished.ends_with("\r\033[K"));
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(sink.Text(), finished);

    progress.Step("writing the model document");
    EXPECT_TRUE(LastLine(sink.Text()).starts_with("writing the model document  "));
}

TEST(Progress, QuietOrOffTerminalNeedsNoThread) {
    const long threads = Threads();
    std::ostringstream silent;
    {
        ConsoleProgress quiet(silent, true, true);
        EXPECT_EQ(Threads(), threads);
        StageReport built(kBuildModel, 1);
        quiet.PlanStages({"cases", "buildModel"});
        quiet.Step("reading");
        quiet.Notify(&built);
        quiet.CasesDelivered();
        quiet.Advance("scoring", 1, 2);
        quiet.Finish();
    }
    EXPECT_EQ(silent.str(), "");
    std::ostringstream lines;
    ConsoleProgress plain(lines, false, false);
    EXPECT_EQ(Threads(), threads);
}

}  // namespace

#endif  // KNN_CLI_PATH
