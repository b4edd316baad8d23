// The temporary file of a disk-backed element. It is created under a fresh name that no file
// had (never through a symbolic link, readable by its owner only), written and read back
// through a buffer of its own so that the cause of a failed write or read is known, and
// removed with the object.
#pragma once

#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

namespace KNNPMML_800 {

// Draws the number of a temporary file's name; false, with errno set, when it cannot.
using NameNumberSource = bool (*)(uint64_t& number);

// A number from the system's random source.
bool DrawRandomNumber(uint64_t& number);

class KNNTempFile : public std::streambuf {
public:
    // Creates the file `directory` + `prefix` + a drawn number + ".tmp" (an empty `directory`
    // is the system's temporary directory). A name that exists already, whatever it is, is
    // never opened: another number is drawn. Returns null when no file can be created, with
    // the cause (an errno value) in `error`.
    static KNNTempFile* Create(const std::string& directory, const std::string& prefix, int& error,
                               NameNumberSource draw = DrawRandomNumber);
    // Removes the file, unless its name no longer refers to it, and closes it.
    ~KNNTempFile() override;
    KNNTempFile(const KNNTempFile&) = delete;
    KNNTempFile& operator=(const KNNTempFile&) = delete;

    const std::string& Path() const { return path; }
    // Writes what is still buffered; false when a write has failed.
    bool Flush();
    // Flushes, then reads the text from its start. Writing ends here: text written after it
    // is refused. False when a write has failed or the file cannot be rewound.
    bool Rewind();
    // The cause (an errno value) of the first failed write, read or seek; 0 while none failed.
    int Error() const { return error; }
    // The number of bytes written so far, buffered ones included.
    uint64_t Size() const { return flushed + static_cast<uint64_t>(pptr() - pbase()); }
    // Reads `length` bytes from `offset` into `out`, after Rewind; false when they cannot all
    // be read (the cause is kept).
    bool ReadAt(uint64_t offset, size_t length, char* out);

protected:
    int overflow(int c) override;
    int sync() override;
    int underflow() override;

private:
    KNNTempFile();

    int fd = -1;
    std::string path;
    int error = 0;
    uint64_t flushed = 0;  // bytes written to the file
    bool reading = false;
    std::vector<char> buffer;
};

}  // namespace KNNPMML_800
