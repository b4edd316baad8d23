// Progress on standard error. On a terminal one status line is redrawn in place, at least once a
// second by a thread of its own: the stage that is running, how long it has run and how long the
// whole run has taken. Otherwise each step of the program and each finished stage gets a line
// of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "HostInterfaces.h"

namespace knncli {

struct AnalysisSettings;

// The component reports a stage only when it ends. To name the stage that is running, the
// program tells in advance which stages a call will pass, by the component's stage names
// ("cases", "kselection", ...), in the order they end.

// The stages of a build with these settings.
std::vector<std::string> BuildStagePlan(const AnalysisSettings& settings);
// The stages of writing the model document.
std::vector<std::string> ExportStagePlan();

class ConsoleProgress : public VelCommon_940::ProgressSink {
public:
    // `quiet` silences everything. On a terminal (and not quiet) a thread redraws the status
    // line; the stream must not be written by anyone else while the status line is shown.
    ConsoleProgress(std::ostream& out, bool terminal, bool quiet);
    ~ConsoleProgress() override;
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    // The number of valid cases the component will read (0 when unknown); it scales the bar
    // of the case-reading stage and is told when the reading ends.
    void SetExpectedCases(long cases);
    // How many bytes of the file the component's cases come from have been read, of `total`
    // (0 when unknown); without an expected number of cases they scale the bar.
    void InputRead(uint64_t done, uint64_t total);
    // The stages the coming call of the component will pass (see BuildStagePlan); the first of
    // them runs from now on. Call it right before the call.
    void PlanStages(std::vector<std::string> names);
    // Called by the component at the end of each stage and while it reads cases.
    void Notify(VelCommon_940::ProgressReport* report) override;
    // The record source has handed its last record to the component: reading cases is over.
    void CasesDelivered();
    // A step of the program itself, e.g. "reading data.csv"; it is the running stage until the
    // next step or plan.
    void Step(const std::string& text);
    // How far a step of the program has got, e.g. 120 of 500 records scored; shown on a
    // terminal only.
    void Advance(const std::string& what, long done, long total);
    // Clears the status line, so that what follows starts on a clean line; nothing is drawn
    // until the next step, plan, report or advance.
    void Finish();

    // Human description of a stage code, e.g. 2 -> "building the model".
    static std::string StageDescription(int stage);
    // The measure name of a stage code, e.g. 2 -> "buildModel"; empty when unknown.
    static std::string StageName(int stage);

private:
    using Clock = std::chrono::steady_clock;

    // All of these expect the mutex to be held.
    void Start(const std::string& name, const std::string& label);
    void EndStage(const std::string& name, const std::string& label, const std::string& detail);
    void Draw();
    void Line(const std::string& text);

    // The ticker thread: redraws the status line until told to stop.
    void Tick();

    std::ostream& out_;
    const bool terminal_;
    const bool quiet_;

    // Guards everything below and every write to `out_`.
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;     // the ticker is to end
    bool drawing_ = false;  // the ticker redraws the status line
    bool lineOpen_ = false;

    const Clock::time_point start_ = Clock::now();
    long expectedCases_ = 0;
    uint64_t inputDone_ = 0;
    uint64_t inputTotal_ = 0;
    long casesSoFar_ = -1;  // valid cases in the last report while reading; -1 before one

    std::vector<std::string> plan_;
    size_t planned_ = 0;   // position in `plan_` of the stage that is running, or past it
    std::string running_;  // the component's name of the running stage; empty for a step or "done"
    std::string runningLabel_;  // how the running stage is shown
    Clock::time_point stageStart_ = start_;
    // Model selection brackets the choice of K and features, importance and weights: it starts
    // when reading cases ends.
    Clock::time_point selectionStart_ = start_;

    std::string advanceWhat_;  // empty when the running step has not advanced
    long advanceDone_ = 0;
    long advanceTotal_ = 0;

    std::thread ticker_;  // last: it starts once everything else is ready
};

}  // namespace knncli
