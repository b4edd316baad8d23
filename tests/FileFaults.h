// Faults of the file system for tests: a small file system that fills up, and a directory in
// which nothing can be created. Mounting needs root; where it is not allowed, the test that
// needs it skips the check and says why.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

namespace knn_test {

// A file system of `bytes` (whole pages) mounted on the existing, empty directory `path` for
// the lifetime of the object.
class SmallFileSystem {
public:
    SmallFileSystem(std::string path, size_t bytes) : path_(std::move(path)) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
        mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) {
            umount2(path_.c_str(), MNT_DETACH);
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return mounted_; }
    bool MakeReadOnly() {
        return mounted_ &&
               mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::string path_;
    bool mounted_ = false;
};

// A new directory `path` that Lock() makes unwritable, keeping the files put in it before.
// An ordinary user is refused by the directory's mode; root, which ignores modes, by a
// read-only file system mounted on it.
class LockableDir {
public:
    explicit LockableDir(std::string path) : path_(std::move(path)) {
        mkdir(path_.c_str(), 0755);
        if (geteuid() == 0) {
            fileSystem_.emplace(path_, 1 << 20);
        }
    }
    ~LockableDir() { chmod(path_.c_str(), 0755); }

    // The errno that creating a file in the directory gives from now on; 0 when it cannot be
    // locked (root without the right to mount).
    int Lock() {
        if (geteuid() != 0) {
            return chmod(path_.c_str(), 0555) == 0 ? EACCES : 0;
        }
        return fileSystem_->MakeReadOnly() ? EROFS : 0;
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::optional<SmallFileSystem> fileSystem_;
};

}  // namespace knn_test
