// An output file that appears only when it is complete: the text goes to a temporary file in
// the target's directory, which is renamed over the target by Commit() and removed otherwise
// (an error, an interruption, an exception). The path "-" writes to standard output instead.
#pragma once

#include <fstream>
#include <ostream>
#include <string>

namespace knncli {

class OutputFile {
public:
    // Creates the temporary file. Throws CliError(kExitOutput) when the directory does not
    // exist or is not writable.
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& Stream();
    // Flushes and renames the file into place. Throws CliError(kExitOutput) when writing failed.
    void Commit();
    // Removes the temporary file without touching the target.
    void Discard();

    const std::string& Path() const { return path_; }
    // The file the text goes to until Commit(): it can be read back before it is committed.
    // Empty for standard output.
    const std::string& TemporaryPath() const { return temporary_; }
    bool IsStandardOutput() const { return path_ == "-"; }

private:
    std::string path_;
    std::string temporary_;
    std::ofstream file_;
    bool open_ = false;
};

// The system's directory for temporary files ($TMPDIR, else /tmp), with a trailing '/'.
std::string SystemTemporaryDirectory();

}  // namespace knncli
