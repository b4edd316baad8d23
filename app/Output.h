// The output files of the program. A regular file, or a path that does not exist yet, appears
// only when it is complete: the text goes to a temporary file in the target's directory, which
// Commit() renames over the target and which is removed otherwise (an error, an interruption,
// an exception). A symbolic link is followed: the file it points to is replaced, the link
// stays. Anything else that can be opened for writing (a character device such as /dev/null,
// a FIFO) and "-" (standard output) is written directly, as the text comes. All text goes
// through a buffer of this class's own, so that a failed write is reported with its cause.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace knncli {

// Writes to a file descriptor and keeps the cause (errno) of the first failed write; after
// it, every write fails.
class DescriptorBuffer : public std::streambuf {
public:
    DescriptorBuffer();
    void Attach(int fd) { fd_ = fd; }
    // Writes what is buffered; false when a write has failed.
    bool Flush();
    int Error() const { return error_; }

protected:
    int overflow(int c) override;
    int sync() override;

private:
    int fd_ = -1;
    int error_ = 0;
    std::vector<char> buffer_;
};

class OutputFile {
public:
    enum class Kind {
        kOutput,   // an output the user named
        kScratch,  // the program's own temporary file in `path`'s directory, never committed:
                   // whatever `path` names is left alone
    };
    // Creates the temporary file, or opens the device or FIFO (which waits for a reader).
    // Throws CliError(kExitOutput) when that fails, for a directory, a block device and a
    // symbolic link to nothing.
    explicit OutputFile(std::string path, Kind kind = Kind::kOutput);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& Stream() { return stream_; }
    // Writes what is buffered and, for a temporary file, makes it durable and renames it into
    // place. Throws CliError(kExitOutput) naming the cause when a write failed.
    void Commit();
    // Removes the temporary file without touching the target. A direct output keeps what it
    // was sent.
    void Discard();
    // Appends the text of this output's temporary file (flushed) to `target`.
    void CopyTo(OutputFile& target) const;

    const std::string& Path() const { return path_; }
    // The file the text goes to until Commit(): it can be read back before it is committed.
    // Empty for a direct output.
    const std::string& TemporaryPath() const { return temporary_; }
    bool IsDirect() const { return temporary_.empty(); }
    bool IsStandardOutput() const { return path_ == "-"; }
    // Writes what is buffered; the cause (errno) of the first failed write, 0 when none failed.
    int Flush();

private:
    void CreateTemporary(const std::string& target, int mode);

    std::string path_;
    std::string target_;  // the file that Commit() replaces
    std::string temporary_;
    int fd_ = -1;
    bool open_ = false;
    DescriptorBuffer buffer_;
    std::ostream stream_;
};

// The system's directory for temporary files ($TMPDIR, else /tmp), with a trailing '/'.
std::string SystemTemporaryDirectory();

}  // namespace knncli
