// Exceptions inside the component never reach the host. Each allocation of a creation, a build,
// a score and an export is made to fail in turn: the operation must return its status instead
// of throwing, leave no temporary file, and the algorithm must work as before afterwards. Other
// exceptions (from the host's own objects) come back as status 200077 with their text.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "PmmlTestSupport.h"
#include "SettingsDocument.h"
#include "TestSources.h"
#include "VelMV.h"
#include "knn/api/KNNFactory.h"
#include "knn/base/StatusCodes.h"

namespace {

// Allocations still to succeed before one fails; negative while no failure is armed.
std::atomic<long> allocationsBeforeFailure{-1};
std::atomic<bool> failureInjected{false};

}  // namespace

// The test program's allocation functions, which the component's code linked into it uses as
// well. They are the standard ones unless a failure is armed, so the other tests are not
// affected.
void* operator new(std::size_t size) {
    if (allocationsBeforeFailure.load() >= 0 && allocationsBeforeFailure.fetch_sub(1) == 0) {
        failureInjected = true;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

// Not inlined, so that the compiler does not take a `delete` for a free() of memory from new.
[[gnu::noinline]] void operator delete(void* block) noexcept {
    std::free(block);
}

[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

// The nothrow forms as well: under a sanitizer they would otherwise be the sanitizer's own,
// whose memory the functions above must not free.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

extern "C" VelCommon_940::IVelFactory* GetVelFactory();

namespace {

using KNN_800::test::VectorRecordSource;
using knn_test::ScratchDir;
using knn_test::SettingsDocument;
using VelCommon_940::IVelAlgorithm;
using VelCommon_940::Record;
using VelCommon_940::VelStatus;

constexpr long kOutOfMemory = KNN_800::Code::OutOfMemory;
constexpr long kUnexpected = KNN_800::Code::UnexpectedException;

// Runs `operation` with its n-th allocation failing, for n = 1, 2, ... until it gets through
// without reaching the failure. A run that meets the failure must not throw and must succeed
// all the same or return one of `failureCodes`; `check` then runs with allocations working
// again.
void FailEachAllocationInTurn(const std::function<VelStatus()>& operation,
                              const std::function<void(const VelStatus&)>& check,
                              const std::vector<long>& failureCodes = {kOutOfMemory}) {
    for (long n = 0;; ++n) {
        failureInjected = false;
        allocationsBeforeFailure = n;
        VelStatus status;
        bool threw = false;
        try {
            status = operation();
        } catch (...) {
            threw = true;
        }
        allocationsBeforeFailure = -1;
        if (!failureInjected) {
            EXPECT_TRUE(status.IsOK()) << status.GetErrorCode() << " " << status.GetMessage();
            return;
        }
        const std::string at = "with allocation " + std::to_string(n + 1) + " failing";
        ASSERT_FALSE(threw) << at;
        ASSERT_TRUE(status.IsOK() || std::count(failureCodes.begin(), failureCodes.end(),
                                                status.GetErrorCode()) == 1)
            << at << ": status " << status.GetErrorCode() << " " << status.GetMessage();
        check(status);
        ASSERT_FALSE(::testing::Test::HasFailure()) << at;
    }
}

// Twelve cases on x1, x2, x3 and c; class and y follow x1.
VectorRecordSource Cases() {
    VectorRecordSource source;
    for (int i = 0; i < 12; ++i) {
        const double x1 = (i * 7) % 11;
        // id, x1, x2, x3, c, y, cls, focal, fold, label
        source.Add({i + 1.0, x1, (i % 5) - 2.0, (i % 4) / 4.0, i % 3 * 1.0, x1 * 10.0,
                    x1 > 5 ? 1.0 : 0.0, 1, i % 3 * 1.0, i % 2 * 1.0});
    }
    return source;
}

// A class and a continuous target with K chosen from 2 to 4 by cross-validation and case
// labels, or (`selection`) with features selected for each and weighted by importance. The case
// tables go to `directory`.
SettingsDocument Settings(const ScratchDir& directory, bool selection) {
    SettingsDocument d =
        selection ? knn_test::FeatureSelection("cls") : knn_test::AutoK("cls", 2, 4);
    d.Target("y").Param("TempFileDir", "string", directory.Prefix());
    if (selection) {
        d.Param("IsFeatureWeight", "bool", "true");
    } else {
        d.Predictor("c")
            .Param("CaseLabelVar", "string", "label")
            .Param("use_caselabels", "bool", "true");
    }
    return d;
}

const Record kQuery({VelCommon_940::VelMV::Missing(), 4.5, 0.5, 0.5, 1, 0, 0, 1, 0, 0});

class AllocationFailure : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        algorithm = Create();
        ASSERT_NE(algorithm, nullptr) << factory.GetStatus().GetMessage();
        // What a build, a score and an export give when nothing fails.
        std::unique_ptr<IVelAlgorithm> reference = Create();
        const VelStatus built = reference->Build(source);
        ASSERT_TRUE(built.IsOK()) << built.GetErrorCode() << " " << built.GetMessage();
        ASSERT_TRUE(reference->Score(kQuery, &scoreOptions, expectedScore).IsOK());
        ASSERT_TRUE(reference->Export(out, &exportOptions).IsOK());
        expectedDocument = out.str();
        out.str("");
    }

    std::unique_ptr<IVelAlgorithm> Create() {
        std::istringstream in(Settings(scratch, GetParam()).Xml());
        return std::unique_ptr<IVelAlgorithm>(factory.CreateVelAlgorithm(in));
    }

    // Builds, scores and exports with every allocation working, and compares with the results
    // of an algorithm that never met a failure.
    void ExpectNormalWork() {
        ASSERT_TRUE(algorithm->Build(source).IsOK());
        ExpectNormalScore();
        ExpectNormalExport();
    }
    void ExpectNormalScore() {
        std::vector<std::vector<double>> result;
        ASSERT_TRUE(algorithm->Score(kQuery, &scoreOptions, result).IsOK());
        EXPECT_EQ(result, expectedScore);
    }
    void ExpectNormalExport() {
        out.str("");
        ASSERT_TRUE(algorithm->Export(out, &exportOptions).IsOK());
        EXPECT_EQ(out.str(), expectedDocument);
        out.str("");
        EXPECT_TRUE(scratch.Files().empty());
    }

    ScratchDir scratch;
    KNN_800::KNNFactory factory;
    std::unique_ptr<IVelAlgorithm> algorithm;
    VectorRecordSource source = Cases();
    VelCommon_940::ScoreOptions scoreOptions;
    VelCommon_940::ExportOptions exportOptions;
    std::ostringstream out;
    std::vector<std::vector<double>> expectedScore;
    std::string expectedDocument;
};

}  // namespace

TEST_P(AllocationFailure, CreationGivesNoAlgorithmAndAStatus) {
    allocationsBeforeFailure = 0;
    EXPECT_EQ(GetVelFactory(), nullptr);
    allocationsBeforeFailure = -1;

    const std::string settings = Settings(scratch, GetParam()).Xml();
    std::istringstream in(settings);
    std::unique_ptr<IVelAlgorithm> created;
    FailEachAllocationInTurn(
        [&] {
            created.reset(factory.CreateVelAlgorithm(in));
            return factory.GetStatus();
        },
        [&](const VelStatus& status) {
            EXPECT_EQ(created == nullptr, status.IsError());
            in.clear();
            in.str(settings);
        },
        // 101: the settings parser met the exception and could not read the document.
        {3, 101});
    ASSERT_NE(created, nullptr);
    algorithm = std::move(created);
    ExpectNormalWork();
}

TEST_P(AllocationFailure, BuildLeavesNoModelAndALaterBuildWorks) {
    ExpectNormalWork();
    FailEachAllocationInTurn([&] { return algorithm->Build(source); },
                             [&](const VelStatus& status) {
                                 EXPECT_EQ(algorithm->IsBuilt(), status.IsOK());
                                 EXPECT_EQ(algorithm->GetStatus().GetErrorCode(), 0);
                                 EXPECT_TRUE(scratch.Files().empty());
                                 ExpectNormalWork();
                             });
    ExpectNormalWork();
}

TEST_P(AllocationFailure, ScoreLeavesTheModelAsItWas) {
    ASSERT_TRUE(algorithm->Build(source).IsOK());
    std::vector<std::vector<double>> result;
    FailEachAllocationInTurn([&] { return algorithm->Score(kQuery, &scoreOptions, result); },
                             [&](const VelStatus&) {
                                 EXPECT_TRUE(algorithm->IsBuilt());
                                 ExpectNormalScore();
                                 result = {};  // the next score allocates it afresh
                             });
    EXPECT_EQ(result, expectedScore);
}

TEST_P(AllocationFailure, ExportLeavesNoTemporaryFile) {
    ASSERT_TRUE(algorithm->Build(source).IsOK());
    for (const bool utf8 : {true, false}) {
        exportOptions.utf8 = utf8;
        out.str("");
        ASSERT_TRUE(algorithm->Export(out, &exportOptions).IsOK());
        expectedDocument = out.str();
        FailEachAllocationInTurn([&] { return algorithm->Export(out, &exportOptions); },
                                 [&](const VelStatus&) {
                                     EXPECT_TRUE(scratch.Files().empty());
                                     ExpectNormalExport();
                                 });
        EXPECT_EQ(out.str(), expectedDocument);
    }
}

namespace {

class FailingSource : public VelCommon_940::RecordSource {
public:
    bool Reset() override { throw std::runtime_error("the tape cannot be rewound"); }
    const Record* Next() override { return nullptr; }
};

// A stream buffer that refuses every character, as a full disk would.
class FullDisk : public std::streambuf {
protected:
    int overflow(int) override { return traits_type::eof(); }
};

}  // namespace

TEST_P(AllocationFailure, OtherExceptionsGiveStatus200077WithTheirText) {
    ExpectNormalWork();
    FailingSource failing;
    const VelStatus built = algorithm->Build(failing);
    EXPECT_EQ(built.GetErrorCode(), kUnexpected);
    EXPECT_EQ(built.GetMessage(), "the tape cannot be rewound");
    EXPECT_FALSE(algorithm->IsBuilt());
    ExpectNormalWork();

    FullDisk disk;
    std::ostream throwing(&disk);
    throwing.exceptions(std::ios::badbit);
    EXPECT_EQ(algorithm->Export(throwing, &exportOptions).GetErrorCode(), kUnexpected);
    EXPECT_TRUE(scratch.Files().empty());
    algorithm->Display(throwing);
    ExpectNormalWork();
}

INSTANTIATE_TEST_SUITE_P(Settings, AllocationFailure, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "FeatureSelection" : "KSelection";
                         });
