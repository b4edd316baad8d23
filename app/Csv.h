// Reading and writing comma-separated files: quoted fields (a quote inside a quoted field is
// written twice), fields that span lines, LF or CRLF line ends, UTF-8 with or without a
// byte-order mark. Numbers are read and written in the C locale, whatever the user's locale.
//
// How a file is read fast: the reader takes the input in blocks of a megabyte (one read call
// each) into a buffer of its own and splits a record in place, its fields being views of the
// buffer; nothing is allocated per field. A quoted field with doubled quotes is the only one
// copied, into a scratch buffer of the record. A record that runs past the end of the bytes read
// so far is scanned again from its start once the next block is behind it (the buffer grows for
// a record longer than itself), so the scan never stops inside a field. Every check (UTF-8,
// quotes, the place an error names) is made on the same bytes in the same order as a scan
// byte by byte would, and gives the same error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace knncli {

// The most columns a file may have, and the longest column name (in characters). Without these
// bounds a header line of 100 megabytes could take gigabytes of memory: the names, and what is
// kept per column.
inline constexpr size_t kMaxColumns = 100000;
inline constexpr size_t kMaxColumnNameLength = 1000;

// Bytes read from the input at a time.
inline constexpr size_t kCsvBlockSize = size_t{1} << 20;

// Texts of a file that a message quotes are cut after this many characters.
inline constexpr size_t kQuotedLength = 60;

// A problem in an input file; what() reads "FILE:LINE:COLUMN: message", where the column is
// the field's position in its record, counted from 1 ("FILE:LINE: message" when the problem
// is not in one field, column 0).
class CsvError : public std::runtime_error {
public:
    CsvError(const std::string& file, long line, int column, const std::string& message);
    const std::string& File() const { return file_; }
    long Line() const { return line_; }
    int Column() const { return column_; }
    const std::string& Message() const { return message_; }

private:
    std::string file_;
    long line_;
    int column_;
    std::string message_;
};

class CsvReader {
public:
    // `fileName` only names the input in error messages. The input is read `blockSize` bytes
    // at a time.
    CsvReader(std::istream& in, std::string fileName, size_t blockSize = kCsvBlockSize);

    // Reads the next record into `fields`. Blank lines are skipped. False at the end of the
    // input. Throws CsvError for a quoted field that is never closed, text after a closing
    // quote, or bytes that are not UTF-8. Only the first `keep` fields are stored; the others
    // are read, checked and counted.
    bool ReadRecord(std::vector<std::string>& fields, size_t keep = SIZE_MAX);
    // The same with views of the fields, valid until the next call.
    bool ReadRecord(std::vector<std::string_view>& fields, size_t keep = SIZE_MAX);
    // The number of fields of the last record read, stored or not.
    size_t FieldCount() const { return fieldCount_; }

    // Line on which the last record read starts, and on which its field `index` starts.
    long RecordLine() const { return recordLine_; }
    long FieldLine(size_t index) const;
    const std::string& FileName() const { return fileName_; }
    // Bytes of the input taken up by the records read so far.
    uint64_t Consumed() const { return bytesRead_ - (end_ - begin_); }

    // Throws a CsvError about field `index` (from 0) of the last record read.
    [[noreturn]] void Fail(size_t index, const std::string& message) const;

private:
    enum class Scan { kRecord, kEnd, kMore };
    // Where a field's text lies: in the buffer, or in `unquoted_` for a quoted field that had
    // doubled quotes.
    struct Span {
        bool unquoted;
        size_t offset;
        size_t length;
    };

    Scan ScanRecord(size_t keep);
    void CheckUtf8(std::string_view text, long line, int column) const;
    // Reads the next block behind the bytes not yet taken; false at the end of the input.
    bool Fill();
    void SkipByteOrderMark();

    std::istream& in_;
    std::string fileName_;
    std::vector<char> buffer_;
    size_t begin_ = 0;  // first byte not yet taken by a record
    size_t end_ = 0;    // end of the bytes read into the buffer
    bool atEnd_ = false;
    uint64_t bytesRead_ = 0;
    std::string unquoted_;
    std::vector<Span> spans_;  // of the stored fields of the last record
    long line_ = 1;
    long recordLine_ = 0;
    bool started_ = false;
    size_t fieldCount_ = 0;
    std::vector<long> fieldLines_;  // of the stored fields and the first one not stored
    std::vector<std::string_view> views_;
};

// A data file to read, or standard input for the path "-". Throws CliError(kExitData) when the
// file cannot be opened.
class DataInput {
public:
    explicit DataInput(const std::string& path);
    std::istream& Stream();
    // The name that messages give the input: its path, or "<stdin>".
    const std::string& Name() const { return name_; }

private:
    std::ifstream file_;
    std::string name_;
};

// Reads the next record of a file whose header has `width` columns. False at the end of the
// input; throws CsvError for a record with another number of fields.
bool ReadDataRecord(CsvReader& reader, std::vector<std::string>& fields, size_t width);
bool ReadDataRecord(CsvReader& reader, std::vector<std::string_view>& fields, size_t width);

// The header of a CSV file: its column names (surrounding blanks removed), checked for
// duplicates. Throws CsvError when the file is empty, a name is given twice, or the header goes
// beyond kMaxColumns or kMaxColumnNameLength.
std::vector<std::string> ReadHeader(CsvReader& reader);

// True for the texts that always stand for a missing value: empty (or blank), "NA", "?" and
// "nan" in any letter case ("NaN", "NAN").
bool IsMissingText(std::string_view text);

// A number written in the C locale: optional sign, digits, optional decimal point and
// exponent, surrounding blanks allowed. Nothing for anything else, and for infinities and
// not-a-number.
std::optional<double> ParseNumber(std::string_view text);

// A field quoted for output when it holds a comma, quote, line break or outer blank.
std::string CsvQuote(const std::string& text);

// The shortest text that reads back as `value`, in the C locale ("5", "0.25", "1e-07"); with
// `digits` > 0, rounded to that many significant digits.
std::string FormatNumber(double value, int digits = 0);

// An identifier as text: a whole number in full ("100000", never "1e+05"), another number in
// the shortest fixed-point text that reads back as the same value.
std::string FormatIdentifier(double value);

// Joins already quoted fields into one output line, without the line end.
std::string CsvLine(const std::vector<std::string>& fields);

// `text` in double quotes for a message, with control characters made visible ("a\\r"), and cut
// after kQuotedLength characters, which "…" then follows.
std::string Quoted(std::string_view text);

// `text` with surrounding blanks (spaces and tabs) removed.
std::string_view Trim(std::string_view text);

}  // namespace knncli
