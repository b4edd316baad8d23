#include "Output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "Errors.h"

namespace knncli {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw CliError(kExitOutput, "cannot " + what + " " + path + ": " + std::strerror(error));
}

}  // namespace

std::string SystemTemporaryDirectory() {
    std::error_code error;
    std::string directory = std::filesystem::temp_directory_path(error).string();
    if (error || directory.empty()) {
        directory = "/tmp";
    }
    if (directory.back() != '/') {
        directory.push_back('/');
    }
    return directory;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    if (IsStandardOutput()) {
        return;
    }
    const std::filesystem::path target(path_);
    std::filesystem::path directory = target.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    // A hidden name in the same directory, so that the final rename stays on one file system.
    std::string pattern = (directory / ("." + target.filename().string() + ".XXXXXX.tmp")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
        Fail("create a file in the directory of", path_, errno);
    }
    temporary_ = name.data();
    // mkstemps makes the file private; the result gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    open_ = true;
    file_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!file_) {
        const int error = errno;
        Discard();
        Fail("write", path_, error);
    }
}

OutputFile::~OutputFile() {
    Discard();
}

std::ostream& OutputFile::Stream() {
    if (IsStandardOutput()) {
        return std::cout;
    }
    return file_;
}

void OutputFile::Commit() {
    if (IsStandardOutput()) {
        std::cout.flush();
        return;
    }
    file_.close();
    if (file_.fail()) {
        Discard();
        Fail("write", path_, EIO);
    }
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        Discard();
        Fail("write", path_, error);
    }
    open_ = false;
}

void OutputFile::Discard() {
    if (!open_) {
        return;
    }
    if (file_.is_open()) {
        file_.close();
    }
    std::remove(temporary_.c_str());
    open_ = false;
}

}  // namespace knncli
