// A host may stop a build from any thread with Interrupt(). Here another thread raises the flag
// while the build runs. The test waits for the flag with relaxed loads only, which order
// nothing: the build thread's reading of the flag is not synchronised with the other thread's
// writing it by anything the test does, so the ThreadSanitizer run sees the two meet.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <thread>

#include "SettingsDocument.h"
#include "TestSources.h"
#include "knn/api/KNNFactory.h"
#include "knn/base/StatusCodes.h"

using KNN_800::test::GeneratedRecordSource;
using knn_test::SettingsDocument;
using VelCommon_940::IVelAlgorithm;

namespace {

// Raises the stop flag of `algorithm` from a thread of its own, once.
class Interrupter {
public:
    explicit Interrupter(IVelAlgorithm& algorithm) : algorithm_(algorithm) {}
    ~Interrupter() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Returns once the flag is raised.
    void InterruptOnce() {
        if (thread_.joinable()) {
            return;
        }
        thread_ = std::thread([this] {
            algorithm_.Interrupt();
            raised_.store(true, std::memory_order_relaxed);
        });
        while (!raised_.load(std::memory_order_relaxed)) {
            std::this_thread::yield();
        }
    }

private:
    IVelAlgorithm& algorithm_;
    std::atomic<bool> raised_{false};
    std::thread thread_;
};

// A host checker that answers "go on", the first time only after the flag was raised elsewhere.
class LateChecker : public VelCommon_940::InterruptChecker {
public:
    explicit LateChecker(Interrupter& interrupter) : interrupter_(interrupter) {}
    bool IsInterrupted() override {
        interrupter_.InterruptOnce();
        return false;
    }

private:
    Interrupter& interrupter_;
};

// Has the flag raised elsewhere at the first progress report.
class InterruptingSink : public VelCommon_940::ProgressSink {
public:
    explicit InterruptingSink(Interrupter& interrupter) : interrupter_(interrupter) {}
    void Notify(VelCommon_940::ProgressReport*) override { interrupter_.InterruptOnce(); }

private:
    Interrupter& interrupter_;
};

std::unique_ptr<IVelAlgorithm> Create(KNN_800::KNNFactory& factory) {
    SettingsDocument d;
    d.Roles().Target("cls").Predictor("x1");
    std::istringstream in(d.Xml());
    return std::unique_ptr<IVelAlgorithm>(factory.CreateVelAlgorithm(in));
}

// More records than the data preparation reads between two progress reports.
GeneratedRecordSource ManyCases() {
    return GeneratedRecordSource(40000, 10, [](int i, std::vector<double>& values) {
        // id, x1, x2, x3, c, y, cls, focal, fold, label
        values = {double(i % 1000 + 1), double(i % 11), 0, 0.5, 0, 0, double(i % 2), 1, 0, 0};
    });
}

}  // namespace

TEST(InterruptFromAnotherThread, StopsTheBuild) {
    KNN_800::KNNFactory factory;
    auto algorithm = Create(factory);
    ASSERT_NE(algorithm, nullptr);
    Interrupter interrupter(*algorithm);
    InterruptingSink sink(interrupter);
    algorithm->SetProgressSink(&sink);
    GeneratedRecordSource source = ManyCases();
    EXPECT_EQ(algorithm->Build(source).GetErrorCode(), KNN_800::Code::Interrupted);
    EXPECT_FALSE(algorithm->IsBuilt());
}

TEST(InterruptFromAnotherThread, IsNotLostWhileTheHostCheckerAnswers) {
    KNN_800::KNNFactory factory;
    auto algorithm = Create(factory);
    ASSERT_NE(algorithm, nullptr);
    Interrupter interrupter(*algorithm);
    LateChecker checker(interrupter);
    algorithm->SetInterruptChecker(&checker);
    GeneratedRecordSource source = ManyCases();
    EXPECT_EQ(algorithm->Build(source).GetErrorCode(), KNN_800::Code::Interrupted);
    EXPECT_FALSE(algorithm->IsBuilt());
}
