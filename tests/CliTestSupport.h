// Shared by the tests of the knn command-line program: scratch directories, file helpers, a
// small settings document with its training data, and a way to run the program end to end.
#pragma once

#ifdef KNN_CLI_PATH

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Csv.h"

namespace knncli_test {

namespace fs = std::filesystem;
using knncli::CsvError;
using knncli::CsvReader;

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

// A directory of its own for each test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "knn_cli_XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string file = (path_ / name).string();
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::vector<std::vector<std::string>> ReadAll(const std::string& text) {
    std::istringstream in(text);
    CsvReader reader(in, "t.csv");
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    while (reader.ReadRecord(fields)) {
        records.push_back(fields);
    }
    return records;
}

// The CsvError that reading `text` raises.
inline CsvError ReadError(const std::string& text) {
    try {
        ReadAll(text);
    } catch (const CsvError& e) {
        return e;
    }
    ADD_FAILURE() << "no error for: " << text;
    return CsvError("", 0, 0, "");
}

// Five fields: two measurements, a colour, a numeric grade and the class to predict.
inline const char* const kSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<Settings version="1">
  <Dictionary>
    <Field name="x1" kind="continuous" min="0" max="10"/>
    <Field name="x2" kind="continuous" min="0" max="10"><Missing value="-99"/></Field>
    <Field name="colour" kind="categorical-string">
      <Category value="blue"/><Category value="red"/><Missing text="none"/>
    </Field>
    <Field name="grade" kind="categorical-numeric">
      <Category value="1"/><Category value="2"/>
    </Field>
    <Field name="class" kind="categorical-string">
      <Category value="a"/><Category value="b"/>
    </Field>
    <Field name="_row" kind="continuous" min="1" max="1000"/>
    <Field name="_focal" kind="categorical-numeric"><Category value="1"/></Field>
  </Dictionary>
  <Targets><Target name="class"/></Targets>
  <Predictors>
    <Predictor name="x1"/><Predictor name="x2"/><Predictor name="colour"/>
  </Predictors>
  <Parameters>
    <Parameter key="CaseIDVar" type="string" value="_row"/>
    <Parameter key="FocalVar" type="string" value="_focal"/>
    <Parameter key="SpecifiedK" type="int" value="3"/>
    <Parameter key="TempFileDir" type="string" value="/tmp/"/>
  </Parameters>
</Settings>
)";

inline const char* const kTraining =
    "class,x2,x1,colour,grade,ignored\n"
    "a,1,1,blue,1,z\n"
    "a,2,1.5,blue,2,z\n"
    "a,1.5,2,red,1,z\n"
    "a,2.5,2.5,blue,2,z\n"
    "b,8,8,red,1,z\n"
    "b,8.5,9,red,2,z\n"
    "b,9,8.5,blue,1,z\n"
    "b,9.5,9.5,red,2,z\n";

// ---------------------------------------------------------------------------------------------
// Running the program

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the program with `args` in `dir`, with its output captured in files. When `dir` has a
// subdirectory "tmp", it is the program's temporary directory ($TMPDIR); when it has a file
// "stdin.txt", that is the program's standard input. `inChild`, when given, runs in the child
// just before the program starts (to set a limit, say).
inline pid_t Start(const TempDir& dir, const std::vector<std::string>& args,
                   const std::function<void()>& inChild = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir((dir / "").c_str()) != 0) {
            _exit(126);
        }
        if (fs::is_directory(dir / "tmp")) {
            setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        }
        if (fs::exists("stdin.txt") && freopen("stdin.txt", "r", stdin) == nullptr) {
            _exit(126);
        }
        if (freopen("stdout.txt", "w", stdout) == nullptr ||
            freopen("stderr.txt", "w", stderr) == nullptr) {
            _exit(126);
        }
        if (inChild) {
            inChild();
        }
        std::vector<char*> argv{const_cast<char*>(KNN_CLI_PATH)};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(KNN_CLI_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

inline Outcome Finish(const TempDir& dir, pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome outcome;
    outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadFile(dir / "stdout.txt");
    outcome.err = ReadFile(dir / "stderr.txt");
    fs::remove(dir / "stdout.txt");
    fs::remove(dir / "stderr.txt");
    return outcome;
}

inline Outcome Knn(const TempDir& dir, const std::vector<std::string>& args,
                   const std::function<void()>& inChild = {}) {
    return Finish(dir, Start(dir, args, inChild));
}

// Every run has a temporary directory of its own, for the program ($TMPDIR) and the component
// (TempFileDir), which must be empty when the test ends: nothing is left behind, whatever the
// outcome.
class Program : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir / "tmp");
        dir.Write("s.xml", Replace(kSettings, "/tmp/", dir / "tmp/"));
        dir.Write("train.csv", kTraining);
    }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "a temporary file was left behind";
    }
    Outcome Run(const std::string& data, std::vector<std::string> more = {},
                const std::function<void()>& inChild = {}) {
        std::vector<std::string> args{"run", "--settings", "s.xml", "--data", data};
        args.insert(args.end(), more.begin(), more.end());
        return Knn(dir, args, inChild);
    }
    TempDir dir;
};

}  // namespace knncli_test

#endif  // KNN_CLI_PATH
