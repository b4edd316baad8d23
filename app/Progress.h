// Progress on standard error. On a terminal one status line is redrawn in place (stage, cases
// read, elapsed time); otherwise each finished stage gets a line of its own.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "HostInterfaces.h"

namespace knncli {

class ConsoleProgress : public VelCommon_940::ProgressSink {
public:
    // `quiet` silences everything.
    ConsoleProgress(std::ostream& out, bool terminal, bool quiet);
    ~ConsoleProgress() override { Finish(); }
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    // The number of valid cases the component will read (0 when unknown); it scales the bar
    // of the case-reading stage.
    void SetExpectedCases(long cases) { expectedCases_ = cases; }
    // Called by the component at the end of each stage and while it reads cases.
    void Notify(VelCommon_940::ProgressReport* report) override;
    // A step of the program itself, e.g. "reading data.csv".
    void Step(const std::string& text);
    // How far a step of the program has got, e.g. 120 of 500 records scored; shown on a
    // terminal only, at most a few times a second.
    void Advance(const std::string& what, long done, long total);
    // Clears the status line, so that what follows starts on a clean line.
    void Finish();

    // Human description of a stage code, e.g. 2 -> "building the model".
    static std::string StageDescription(int stage);
    // The measure name of a stage code, e.g. 2 -> "buildModel"; empty when unknown.
    static std::string StageName(int stage);

private:
    void Show(const std::string& line);

    std::ostream& out_;
    bool terminal_;
    bool quiet_;
    bool lineOpen_ = false;
    long expectedCases_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastAdvance_;
};

}  // namespace knncli
