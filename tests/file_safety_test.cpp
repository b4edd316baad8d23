// The temporary files of the model document: many exports at once into one directory, names
// that someone else planted, writes that fail (a file-size limit, a full disk, an output
// stream that stops taking text) and directories that refuse new files. Whatever happens, the
// document is whole or not written, and no temporary file stays behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "FileFaults.h"
#include "PmmlTestSupport.h"
#include "TestSources.h"
#include "knn/pmml/KNNTempFile.h"
#include "knn/settings/KNNSettings.h"

using namespace knn_test;
using KNN_800::test::GeneratedRecordSource;
using KNNPMML_800::KNNTempFile;
using VelCommon_940::VelStatus;
namespace fs = std::filesystem;

namespace {

// A classification of 1000 cases: each case table of its document takes tens of kilobytes.
// Each `variant` has data of its own.
bool BuildModel(ExportedModel& e, const std::string& tempFileDir, int variant = 0) {
    SettingsDocument d;
    d.Roles()
        .Target("cls")
        .Predictor("x1")
        .Predictor("x2")
        .Param("SpecifiedK", "int", "3")
        .Param("TempFileDir", "string", tempFileDir);
    GeneratedRecordSource cases(1000, 10, [variant](int i, std::vector<double>& values) {
        const double x1 = ((i * 37 + variant * 101) % 1000) / 100.0;
        // id, x1, x2, x3, c, y, cls, focal, fold, label
        values = {i + 1.0, x1, (i * 11 % 100) / 10.0 - 5, 0.5, 0, 0, x1 < 5 ? 0.0 : 1.0, 1, 0.0, 0};
    });
    return e.Build(d, cases);
}

// Exports the model of `e` into `out` with a writer of its own, which is gone (and with it
// every temporary file) when this returns. Nothing here reports to the test framework, so it
// can run in a child process.
VelStatus WriteDocument(ExportedModel& e, std::ostream& out) {
    KNN_800::KNNPMMLWriter writer(*e.fixture.preparation, e.fixture.model->Models(),
                                  e.fixture.model->Selection(), e.fixture.context);
    return writer.WriteDocument(out, nullptr);
}

// What an export in a child process reported.
struct ChildExport {
    long code = -1;
    size_t documentSize = 0;
    std::string message;
};

// Exports in a child process, after `prepare` has set up a fault there.
ChildExport ExportInChild(ExportedModel& e, const std::function<void()>& prepare) {
    int channel[2];
    if (pipe(channel) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        prepare();
        std::ostringstream out;
        const VelStatus status = WriteDocument(e, out);
        const std::string report = std::to_string(status.GetErrorCode()) + " " +
                                   std::to_string(out.str().size()) + " " + status.GetMessage();
        _exit(write(channel[1], report.data(), report.size()) == static_cast<ssize_t>(report.size())
                  ? 0
                  : 1);
    }
    close(channel[1]);
    std::string report;
    char block[512];
    for (ssize_t n; (n = read(channel[0], block, sizeof block)) > 0;) {
        report.append(block, static_cast<size_t>(n));
    }
    close(channel[0]);
    waitpid(pid, nullptr, 0);
    ChildExport outcome;
    std::istringstream in(report);
    in >> outcome.code >> outcome.documentSize;
    in.get();
    std::getline(in, outcome.message, '\0');
    return outcome;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// Takes `room` characters, then refuses every further one.
class ShortBuffer : public std::streambuf {
public:
    explicit ShortBuffer(size_t room) : room(room) {}

protected:
    int overflow(int c) override {
        if (room == 0) {
            return traits_type::eof();
        }
        --room;
        return traits_type::not_eof(c);
    }

private:
    size_t room;
};

// Name numbers for KNNTempFile::Create: 1, 2, 3, ... from the last reset, or always 7.
uint64_t lastNumber = 0;
bool NextNumber(uint64_t& number) {
    number = ++lastNumber;
    return true;
}
bool SameNumber(uint64_t& number) {
    number = 7;
    return true;
}

TEST(FileSafety, ConcurrentExportsIntoOneDirectoryEachGiveTheirOwnDocument) {
    // Models of different data, so that a table holding another export's rows shows.
    constexpr int kProcesses = 8;
    ScratchDir dir;
    ScratchDir results;
    std::vector<std::unique_ptr<ExportedModel>> models;
    std::vector<std::string> singles;
    for (int p = 0; p < kProcesses; ++p) {
        models.push_back(std::make_unique<ExportedModel>());
        ASSERT_TRUE(BuildModel(*models.back(), dir.Prefix(), p));
        // An export on its own, valid against the schema.
        ASSERT_TRUE(models.back()->Export().IsOK()) << models.back()->status.GetMessage();
        singles.push_back(models.back()->document);
    }

    // Rounds of processes that start their exports together, behind a pipe that the test
    // closes.
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        std::vector<pid_t> children;
        for (int p = 0; p < kProcesses; ++p) {
            const pid_t pid = fork();
            if (pid == 0) {
                close(gate[1]);
                char byte;
                const bool opened = read(gate[0], &byte, 1) == 0;
                std::ofstream out(results.Prefix() + std::to_string(p), std::ios::binary);
                const bool written = WriteDocument(*models[p], out).IsOK() && out.flush();
                _exit(opened && written ? 0 : 1);
            }
            children.push_back(pid);
        }
        close(gate[0]);
        close(gate[1]);
        for (int p = 0; p < kProcesses; ++p) {
            int status = 0;
            waitpid(children[p], &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "process " << p;
            EXPECT_TRUE(ReadFile(results.Prefix() + std::to_string(p)) == singles[p])
                << "the document of process " << p << " in round " << round
                << " differs from that of its export on its own";
        }
    }
    EXPECT_TRUE(dir.Files().empty());
}

TEST(FileSafety, PlantedNamesAreNeverOpenedAndOnlyTheOwnFileIsRemoved) {
    ScratchDir dir;
    ScratchDir elsewhere;
    const std::string victim = elsewhere.Prefix() + "victim";
    std::ofstream(victim) << "keep";
    fs::create_symlink(victim, dir.Prefix() + "_knn1.tmp");
    fs::create_symlink(elsewhere.Prefix() + "created", dir.Prefix() + "_knn2.tmp");

    lastNumber = 0;
    int error = 0;
    std::unique_ptr<KNNTempFile> file(KNNTempFile::Create(dir.Prefix(), "_knn", error, NextNumber));
    ASSERT_NE(file, nullptr) << std::strerror(error);
    EXPECT_EQ(file->Path(), dir.Prefix() + "_knn3.tmp");
    EXPECT_EQ(fs::status(file->Path()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    std::ostream(file.get()) << "text";
    EXPECT_TRUE(file->Flush());
    file.reset();
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_FALSE(fs::exists(elsewhere.Prefix() + "created"));
    EXPECT_EQ(Sorted(dir.Files()), (std::vector<std::string>{"_knn1.tmp", "_knn2.tmp"}));

    // A name that is taken at every draw: a bounded number of draws, then the cause.
    std::ofstream(dir.Prefix() + "_knn7.tmp") << "planted";
    EXPECT_EQ(KNNTempFile::Create(dir.Prefix(), "_knn", error, SameNumber), nullptr);
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(ReadFile(dir.Prefix() + "_knn7.tmp"), "planted");

    // A file whose name was taken over since it was created: the newcomer stays.
    file.reset(KNNTempFile::Create(dir.Prefix(), "_knn", error, NextNumber));
    ASSERT_NE(file, nullptr) << std::strerror(error);
    const std::string path = file->Path();
    std::ofstream(dir.Prefix() + "newcomer") << "newcomer";
    fs::rename(dir.Prefix() + "newcomer", path);
    file.reset();
    EXPECT_EQ(ReadFile(path), "newcomer");
}

TEST(FileSafety, FailedWritesGiveStatus200056AndLeaveNoFile) {
    ScratchDir dir;
    ExportedModel e;
    ASSERT_TRUE(BuildModel(e, dir.Prefix()));

    // A file-size limit, in a child process that ignores SIGXFSZ as a host that wants to
    // report the failure does.
    const ChildExport limited = ExportInChild(e, [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16384, 16384};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(limited.code, 200056) << limited.message;
    EXPECT_EQ(limited.documentSize, 0u);
    EXPECT_TRUE(Contains(limited.message, "writing the temporary file " + dir.Prefix() + "_knn"))
        << limited.message;
    EXPECT_TRUE(Contains(limited.message, std::strerror(EFBIG))) << limited.message;
    EXPECT_TRUE(dir.Files().empty());

    // The output stream stops taking the document part of the way through.
    ShortBuffer buffer(20000);
    std::ostream out(&buffer);
    const VelStatus cut = WriteDocument(e, out);
    EXPECT_EQ(cut.GetErrorCode(), 200056);
    EXPECT_EQ(cut.GetMessage(), "the output stream did not take the whole document");
    EXPECT_TRUE(dir.Files().empty());

    // A full disk.
    ScratchDir mountPoint;
    SmallFileSystem disk(mountPoint.Path(), 16384);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "no right to mount a small file system: the full disk is not tried";
    }
    e.fixture.preparation->MutableSettings().FileTempDir = mountPoint.Prefix();
    std::ostringstream document;
    const VelStatus full = WriteDocument(e, document);
    EXPECT_EQ(full.GetErrorCode(), 200056);
    EXPECT_TRUE(Contains(full.GetMessage(), std::strerror(ENOSPC))) << full.GetMessage();
    EXPECT_EQ(document.str(), "");
    EXPECT_TRUE(mountPoint.Files().empty());
}

TEST(FileSafety, UnusableTempFileDirGivesStatus200057NamingItAndTheCause) {
    ScratchDir dir;
    ExportedModel e;
    ASSERT_TRUE(BuildModel(e, dir.Prefix() + "missing/"));
    ASSERT_EQ(e.Export().GetErrorCode(), 200057);
    EXPECT_EQ(e.status.GetMessage(),
              "the table originalData cannot be stored: no temporary file can be created with "
              "TempFileDir '" +
                  dir.Prefix() + "missing/': " + std::strerror(ENOENT));

    LockableDir locked(dir.Prefix() + "locked");
    const int refusal = locked.Lock();
    if (refusal == 0) {
        GTEST_SKIP() << "root without the right to mount: no directory can be made unwritable";
    }
    e.fixture.preparation->MutableSettings().FileTempDir = locked.Path() + "/";
    ASSERT_EQ(e.Export().GetErrorCode(), 200057);
    EXPECT_TRUE(Contains(e.status.GetMessage(),
                         "TempFileDir '" + locked.Path() + "/': " + std::strerror(refusal)))
        << e.status.GetMessage();
    EXPECT_TRUE(fs::is_empty(locked.Path()));
}

}  // namespace
