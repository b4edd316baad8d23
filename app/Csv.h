// Reading and writing comma-separated files: quoted fields (a quote inside a quoted field is
// written twice), fields that span lines, LF or CRLF line ends, UTF-8 with or without a
// byte-order mark. Numbers are read and written in the C locale, whatever the user's locale.
#pragma once

#include <fstream>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace knncli {

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
    // `fileName` only names the input in error messages.
    CsvReader(std::istream& in, std::string fileName);

    // Reads the next record into `fields`. Blank lines are skipped. False at the end of the
    // input. Throws CsvError for a quoted field that is never closed, text after a closing
    // quote, or bytes that are not UTF-8.
    bool ReadRecord(std::vector<std::string>& fields);

    // Line on which the last record read starts, and on which its field `index` starts.
    long RecordLine() const { return recordLine_; }
    long FieldLine(size_t index) const;
    const std::string& FileName() const { return fileName_; }

    // Throws a CsvError about field `index` (from 0) of the last record read.
    [[noreturn]] void Fail(size_t index, const std::string& message) const;

private:
    int Get();
    int Peek();
    void SkipByteOrderMark();

    std::istream& in_;
    std::string fileName_;
    long line_ = 1;
    long recordLine_ = 0;
    bool started_ = false;
    std::vector<long> fieldLines_;
};

// Opens a data file for a CsvReader; a file that cannot be opened is a data error.
std::ifstream OpenDataFile(const std::string& path);

// The header of a CSV file: its column names (surrounding blanks removed), checked for
// duplicates. Throws CsvError when the file is empty or a name is given twice.
std::vector<std::string> ReadHeader(CsvReader& reader);

// True for the texts that always stand for a missing value: empty (or blank), "NA" and "?".
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

// Joins already quoted fields into one output line, without the line end.
std::string CsvLine(const std::vector<std::string>& fields);

// `text` in double quotes for a message, with control characters made visible ("a\\r").
std::string Quoted(std::string_view text);

// `text` with surrounding blanks (spaces and tabs) removed.
std::string_view Trim(std::string_view text);

}  // namespace knncli
