#include "knn/pmml/KNNTempFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace KNNPMML_800 {

namespace {

constexpr size_t kBufferSize = 1 << 16;

// Names drawn before giving up. Two 64-bit random numbers hardly ever clash, so a long run of
// taken names means that someone is planting them.
constexpr int kMaxNameAttempts = 100;

}  // namespace

bool DrawRandomNumber(uint64_t& number) {
    return getrandom(&number, sizeof number, 0) == static_cast<ssize_t>(sizeof number);
}

KNNTempFile::KNNTempFile() : buffer(kBufferSize) {
    setp(buffer.data(), buffer.data() + buffer.size());
}

KNNTempFile* KNNTempFile::Create(const std::string& directory, const std::string& prefix,
                                 int& error, NameNumberSource draw) {
    // Allocated before the file exists, so that a failed allocation leaves no file behind.
    std::unique_ptr<KNNTempFile> file(new KNNTempFile());
    const std::string start =
        (directory.empty() ? std::string(P_tmpdir) + "/" : directory) + prefix;
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        uint64_t number = 0;
        if (!draw(number)) {
            error = errno;
            return nullptr;
        }
        std::string candidate = start + std::to_string(number) + ".tmp";
        // Exclusive: an existing name (a symbolic link included) fails with EEXIST.
        file->fd =
            open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file->fd >= 0) {
            file->path = std::move(candidate);
            return file.release();
        }
        if (errno != EEXIST) {
            error = errno;
            return nullptr;
        }
    }
    error = EEXIST;
    return nullptr;
}

KNNTempFile::~KNNTempFile() {
    if (fd < 0) {
        return;
    }
    // The name is removed only while it still refers to the file opened here.
    struct stat opened;
    struct stat named;
    if (fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
        unlink(path.c_str());
    }
    close(fd);
}

bool KNNTempFile::Flush() {
    if (error != 0) {
        return false;
    }
    if (reading) {
        return true;
    }
    for (const char* next = pbase(); next < pptr();) {
        const ssize_t written = write(fd, next, static_cast<size_t>(pptr() - next));
        if (written < 0 && errno != EINTR) {
            error = errno;
            return false;
        }
        next += written < 0 ? 0 : written;
        flushed += written < 0 ? 0 : static_cast<uint64_t>(written);
    }
    setp(buffer.data(), buffer.data() + buffer.size());
    return true;
}

bool KNNTempFile::Rewind() {
    if (!Flush()) {
        return false;
    }
    if (lseek(fd, 0, SEEK_SET) < 0) {
        error = errno;
        return false;
    }
    reading = true;
    setp(nullptr, nullptr);
    setg(buffer.data(), buffer.data(), buffer.data());
    return true;
}

bool KNNTempFile::ReadAt(uint64_t offset, size_t length, char* out) {
    if (!reading || error != 0) {
        return false;
    }
    while (length > 0) {
        const ssize_t count = pread(fd, out, length, static_cast<off_t>(offset));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            error = count < 0 ? errno : EIO;  // a file shorter than what was written to it
            return false;
        }
        out += count;
        length -= static_cast<size_t>(count);
        offset += static_cast<uint64_t>(count);
    }
    return true;
}

int KNNTempFile::overflow(int c) {
    if (reading || !Flush()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int KNNTempFile::sync() {
    return Flush() ? 0 : -1;
}

int KNNTempFile::underflow() {
    if (!reading || error != 0) {
        return traits_type::eof();
    }
    ssize_t count;
    do {
        count = read(fd, buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        error = errno;
    }
    if (count <= 0) {
        return traits_type::eof();
    }
    setg(buffer.data(), buffer.data(), buffer.data() + count);
    return traits_type::to_int_type(buffer[0]);
}

}  // namespace KNNPMML_800
