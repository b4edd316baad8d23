#include "Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "Errors.h"

namespace knncli {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw CliError(kExitOutput, "cannot " + what + " " + path + ": " + std::strerror(error));
}

}  // namespace

DescriptorBuffer::DescriptorBuffer() : buffer_(1 << 16) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

bool DescriptorBuffer::Flush() {
    if (error_ != 0) {
        return false;
    }
    for (const char* next = pbase(); next < pptr();) {
        const ssize_t written = write(fd_, next, static_cast<size_t>(pptr() - next));
        if (written < 0 && errno != EINTR) {
            error_ = errno;
            return false;
        }
        next += written < 0 ? 0 : written;
    }
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return true;
}

int DescriptorBuffer::overflow(int c) {
    if (!Flush()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int DescriptorBuffer::sync() {
    return Flush() ? 0 : -1;
}

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

OutputFile::OutputFile(std::string path, Kind kind) : path_(std::move(path)), stream_(&buffer_) {
    if (kind == Kind::kScratch) {
        CreateTemporary(path_, 0600);
        return;
    }
    if (IsStandardOutput()) {
        buffer_.Attach(STDOUT_FILENO);
        return;
    }
    struct stat info;
    if (stat(path_.c_str(), &info) != 0) {
        const int error = errno;
        struct stat link;
        if (error == ENOENT && lstat(path_.c_str(), &link) == 0) {
            throw CliError(
                kExitOutput,
                "cannot write " + path_ + ": it is a symbolic link to a file that does not exist");
        }
        if (error != ENOENT) {
            Fail("write", path_, error);
        }
        const mode_t mask = umask(0);
        umask(mask);
        CreateTemporary(path_, 0666 & ~mask);
    } else if (S_ISREG(info.st_mode)) {
        // The file a symbolic link points to is replaced, and keeps its permissions.
        char* real = realpath(path_.c_str(), nullptr);
        if (real == nullptr) {
            Fail("write", path_, errno);
        }
        const std::string target = real;
        std::free(real);
        CreateTemporary(target, info.st_mode & 07777);
    } else if (S_ISDIR(info.st_mode)) {
        Fail("write", path_, EISDIR);
    } else if (S_ISBLK(info.st_mode)) {
        throw CliError(
            kExitOutput,
            "cannot write " + path_ + ": it is a block device, which the program never writes to");
    } else {
        fd_ = open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) {
            Fail("write", path_, errno);
        }
        buffer_.Attach(fd_);
        open_ = true;
    }
}

void OutputFile::CreateTemporary(const std::string& target, int mode) {
    const std::filesystem::path file(target);
    std::filesystem::path directory = file.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    // A hidden name in the same directory, so that the final rename stays on one file system.
    std::string pattern = (directory / ("." + file.filename().string() + ".XXXXXX.tmp")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd_ < 0) {
        Fail("create a file in the directory of", path_, errno);
    }
    target_ = target;
    temporary_ = name.data();
    open_ = true;
    buffer_.Attach(fd_);
    fchmod(fd_, static_cast<mode_t>(mode));
}

OutputFile::~OutputFile() {
    Discard();
}

int OutputFile::Flush() {
    buffer_.Flush();
    return buffer_.Error();
}

void OutputFile::Commit() {
    if (IsStandardOutput()) {
        if (const int error = Flush()) {
            Fail("write", "standard output", error);
        }
        return;
    }
    int error = Flush();
    // The text of a temporary file reaches the disk before its name does, so that a crash
    // cannot leave the target empty or partial.
    if (error == 0 && !IsDirect() && fsync(fd_) != 0) {
        error = errno;
    }
    const int closed = close(fd_);
    if (error == 0 && closed != 0) {
        error = errno;
    }
    fd_ = -1;
    if (error == 0 && !IsDirect() && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        Discard();
        Fail("write", path_, error);
    }
    open_ = false;
}

void OutputFile::Discard() {
    if (!open_) {
        return;
    }
    open_ = false;
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
    }
}

void OutputFile::CopyTo(OutputFile& target) const {
    std::vector<char> block(1 << 16);
    for (off_t offset = 0;;) {
        const ssize_t count = pread(fd_, block.data(), block.size(), offset);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            Fail("read", temporary_, errno);
        }
        if (count == 0) {
            return;
        }
        target.Stream().write(block.data(), count);
        offset += count;
    }
}

}  // namespace knncli
