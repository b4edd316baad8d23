// The program's output files under faults: what a path names decides how it is written (a
// symbolic link, a directory, a device, a FIFO, standard output), and a write that fails (a
// full device or disk, a file-size limit, a directory that refuses files) gives exit code 8 with
// the cause, keeps the previous output and leaves no temporary file. Runs at once into one
// directory each give the whole document.
#ifdef KNN_CLI_PATH

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Errors.h"

#include "CliTestSupport.h"
#include "FileFaults.h"

using namespace knncli;
using namespace knncli_test;
using knn_test::LockableDir;
using knn_test::SmallFileSystem;

namespace {

// A character device that works like `device` (/dev/null, /dev/full). Root gets a node of its
// own in `dir`, so that a faulty program would replace that node and not the system's device;
// an ordinary user, who cannot replace anything in /dev, the device itself. Empty when root
// may not make device nodes.
std::string Device(const TempDir& dir, const std::string& device) {
    if (geteuid() != 0) {
        return device;
    }
    struct stat info;
    const std::string node = dir / fs::path(device).filename().string();
    if (stat(device.c_str(), &info) != 0 ||
        mknod(node.c_str(), S_IFCHR | 0666, info.st_rdev) != 0) {
        return "";
    }
    return node;
}

// Waits up to ten seconds for the process `pid` to end, and kills it when it has not. True when
// it ended by itself.
bool Reap(pid_t pid) {
    for (int i = 0; i < 1000; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

TEST_F(Program, ASymbolicLinkStaysAndTheFileItPointsToIsReplaced) {
    fs::create_directory(dir / "keep");
    dir.Write("keep/model.pmml", "previous");
    fs::permissions(dir / "keep/model.pmml", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("keep/model.pmml", dir / "model.pmml");
    Outcome run = Run("train.csv", {"--pmml", "model.pmml", "-q"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(fs::read_symlink(dir / "model.pmml"), "keep/model.pmml");
    EXPECT_TRUE(Contains(ReadFile(dir / "keep/model.pmml"), "</PMML>"));
    EXPECT_EQ(fs::status(dir / "keep/model.pmml").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "keep"), fs::directory_iterator()), 1);

    // A link to nothing and a directory are refused, and stay as they are.
    fs::create_symlink("nowhere/model.pmml", dir / "dangling.pmml");
    fs::create_directory(dir / "folder");
    const std::vector<std::string> before = dir.Files();
    run = Run("train.csv", {"--pmml", "dangling.pmml"});
    EXPECT_EQ(run.code, kExitOutput);
    EXPECT_TRUE(Contains(run.err,
                         "cannot write dangling.pmml: it is a symbolic link to a file that does "
                         "not exist"))
        << run.err;
    run = Run("train.csv", {"--score", "train.csv", "--predictions", "folder"});
    EXPECT_EQ(run.code, kExitOutput);
    EXPECT_TRUE(Contains(run.err, "cannot write folder: Is a directory")) << run.err;
    EXPECT_EQ(dir.Files(), before);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.pmml"));
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

TEST_F(Program, DevicesFifosAndStandardOutputAreWrittenDirectly) {
    const std::string null = Device(dir, "/dev/null");
    const std::string full = Device(dir, "/dev/full");
    if (null.empty() || full.empty()) {
        GTEST_SKIP() << "root without the right to make device nodes: the system's devices are "
                        "not put at risk";
    }
    ASSERT_EQ(Run("train.csv", {"--pmml", "single.pmml", "-q"}).code, 0);
    Outcome run = Run("train.csv", {"--pmml", null, "-q"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(fs::is_character_file(null));

    // A FIFO gets the whole document and stays a FIFO.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const pid_t reader = fork();
    if (reader == 0) {
        std::ifstream in(dir / "fifo", std::ios::binary);
        std::ofstream(dir / "received", std::ios::binary) << in.rdbuf();
        _exit(0);
    }
    run = Run("train.csv", {"--pmml", "fifo", "-q"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Reap(reader)) << "the reader of the FIFO got no end of file";
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(ReadFile(dir / "received"), ReadFile(dir / "single.pmml"));

    // A FIFO whose reader goes away before it has read the predictions (more than a pipe
    // holds): the write fails, and the run stops and cleans up.
    std::string records = "x1,x2,colour\n";
    for (int i = 0; i < 2000; ++i) {
        records += std::to_string(i % 100 / 10.0) + ",5," + (i % 2 ? "red\n" : "blue\n");
    }
    dir.Write("many.csv", records);
    ASSERT_EQ(mkfifo((dir / "deserted").c_str(), 0600), 0);
    const pid_t quitter = fork();
    if (quitter == 0) {
        close(open((dir / "deserted").c_str(), O_RDONLY));
        _exit(0);
    }
    run = Run("train.csv", {"--score", "many.csv", "--predictions", "deserted", "-q"});
    EXPECT_EQ(run.code, kExitOutput);
    EXPECT_TRUE(Contains(run.err, "cannot write deserted: Broken pipe")) << run.err;
    EXPECT_TRUE(Reap(quitter));

    // A full device: exit code 8 with the cause. The device stays, and so does the model
    // document that was written before (direct outputs are finished before any file is
    // renamed into place).
    dir.Write("model.pmml", "previous");
    const std::vector<std::string> before = dir.Files();
    run = Run("train.csv",
              {"--pmml", "model.pmml", "--score", "train.csv", "--predictions", full, "-q"});
    EXPECT_EQ(run.code, kExitOutput);
    EXPECT_TRUE(Contains(run.err, "cannot write " + full + ": No space left on device")) << run.err;
    EXPECT_TRUE(fs::is_character_file(full));
    EXPECT_EQ(ReadFile(dir / "model.pmml"), "previous");
    EXPECT_EQ(dir.Files(), before);

    // Standard output on a full device.
    run = Run("train.csv", {"--score", "train.csv", "--predictions", "-", "-q"},
              [&full] { dup2(open(full.c_str(), O_WRONLY), STDOUT_FILENO); });
    EXPECT_EQ(run.code, kExitOutput);
    EXPECT_TRUE(Contains(run.err, "cannot write standard output: No space left on device"))
        << run.err;
}

TEST_F(Program, AnUnwritableOutputDirectoryKeepsThePreviousOutput) {
    LockableDir out(dir / "out");
    std::ofstream(out.Path() + "/model.pmml") << "previous";
    const int refusal = out.Lock();
    if (refusal == 0) {
        GTEST_SKIP() << "root without the right to mount: no directory can be made unwritable";
    }
    const Outcome run = Run("train.csv", {"--pmml", "out/model.pmml"});
    EXPECT_EQ(run.code, kExitOutput);
    EXPECT_TRUE(Contains(run.err, "cannot create a file in the directory of out/model.pmml: " +
                                      std::string(std::strerror(refusal))))
        << run.err;
    EXPECT_EQ(ReadFile(out.Path() + "/model.pmml"), "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1);
}

TEST_F(Program, AFileSizeLimitOrAFullDiskKeepsThePreviousOutput) {
    // The document is larger than the limit; the component's temporary files are not.
    dir.Write("model.pmml", "previous");
    const std::vector<std::string> before = dir.Files();
    Outcome run = Run("train.csv", {"--pmml", "model.pmml"}, [] {
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(run.code, kExitOutput) << run.err;
    EXPECT_TRUE(Contains(run.err, "cannot write the model document model.pmml: File too large"))
        << run.err;
    EXPECT_EQ(ReadFile(dir / "model.pmml"), "previous");
    EXPECT_EQ(dir.Files(), before);

    // A disk of four pages: the previous document and a filler take three, and the new
    // document needs two.
    fs::create_directory(dir / "disk");
    SmallFileSystem disk(dir / "disk", 4 * 4096);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "no right to mount a small file system: full disks are not tried";
    }
    dir.Write("disk/model.pmml", "previous");
    dir.Write("disk/filler", std::string(2 * 4096, 'x'));
    run = Run("train.csv", {"--pmml", "disk/model.pmml"});
    EXPECT_EQ(run.code, kExitOutput) << run.err;
    EXPECT_TRUE(Contains(
        run.err, "cannot write the model document disk/model.pmml: No space left on device"))
        << run.err;
    EXPECT_EQ(ReadFile(dir / "disk/model.pmml"), "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "disk"), fs::directory_iterator()), 2);

    // A full temporary directory (the program's and the component's). With --pmml the first
    // case table takes its only page and the run fails with the component's status. Without
    // it the run goes on without the model facts when not even the compact document that
    // they are read from can be stored.
    SmallFileSystem tmp(dir / "tmp", 4096);
    ASSERT_TRUE(tmp.Mounted());
    run = Run("train.csv", {"--pmml", "model.pmml"});
    EXPECT_EQ(run.code, kExitModelUse) << run.err;
    EXPECT_TRUE(Contains(run.err, "No space left on device (status 200056)")) << run.err;
    EXPECT_EQ(ReadFile(dir / "model.pmml"), "previous");
    dir.Write("tmp/filler", std::string(4096, 'x'));
    run = Run("train.csv", {"--score", "train.csv", "--predictions", "out.csv"});
    fs::remove(dir / "tmp/filler");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "K and features could not be read: ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "No space left on device")) << run.out;
    EXPECT_TRUE(fs::exists(dir / "out.csv"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(Program, RunsAtOnceIntoOneDirectoryEachWriteTheirOwnWholeDocument) {
    // Each run has data of its own, so that a table holding another run's rows shows, and
    // enough of it that the runs' case tables are written at the same time.
    constexpr int kRuns = 8;
    std::vector<std::string> expected{"s.xml", "shared.csv", "tmp", "train.csv"};
    for (int run = 0; run < kRuns; ++run) {
        const std::string name = std::to_string(run);
        std::string data = "x1,x2,colour,grade,class\n";
        for (int i = 0; i < 2000; ++i) {
            const int x = (i * 37 + run * 101) % 1000;
            data += std::to_string(x / 100.0) + "," + std::to_string(i % 101 / 10.1) +
                    (i % 3 ? ",blue,1," : ",red,2,") + (x < 500 ? "a\n" : "b\n");
        }
        dir.Write("data" + name + ".csv", data);
        ASSERT_EQ(Run("data" + name + ".csv",
                      {"--pmml", "single" + name + ".pmml", "--score", "data" + name + ".csv",
                       "--predictions", "single" + name + ".csv", "-q"})
                      .code,
                  0);
        for (const std::string& file : {"data" + name + ".csv", "single" + name + ".pmml",
                                        "single" + name + ".csv", "m" + name + ".pmml"}) {
            expected.push_back(file);
        }
    }

    // Each run has a directory of its own for its standard output and error; the outputs and
    // the temporary files share one. All runs write their predictions to the same file.
    std::vector<std::unique_ptr<TempDir>> places;
    std::vector<pid_t> runs;
    const std::string tmp = dir / "tmp";
    for (int run = 0; run < kRuns; ++run) {
        const std::string name = std::to_string(run);
        places.push_back(std::make_unique<TempDir>());
        runs.push_back(
            Start(*places.back(),
                  {"run", "--settings", dir / "s.xml", "--data", dir / ("data" + name + ".csv"),
                   "--pmml", dir / ("m" + name + ".pmml"), "--score",
                   dir / ("data" + name + ".csv"), "--predictions", dir / "shared.csv", "-q"},
                  [&tmp] { setenv("TMPDIR", tmp.c_str(), 1); }));
    }
    std::vector<std::string> predictions;
    for (int run = 0; run < kRuns; ++run) {
        const std::string name = std::to_string(run);
        const Outcome outcome = Finish(*places[run], runs[run]);
        EXPECT_EQ(outcome.code, 0) << outcome.err;
        EXPECT_TRUE(ReadFile(dir / ("m" + name + ".pmml")) ==
                    ReadFile(dir / ("single" + name + ".pmml")))
            << "the document of run " << run << " differs from that of the run on its own";
        predictions.push_back(ReadFile(dir / ("single" + name + ".csv")));
    }
    // The shared file holds the predictions of one of the runs, whole.
    EXPECT_NE(std::find(predictions.begin(), predictions.end(), ReadFile(dir / "shared.csv")),
              predictions.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Files(), expected);
}

}  // namespace

#endif  // KNN_CLI_PATH
