#include "Csv.h"

#include "Errors.h"
#include "VelNumber.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iostream>
#include <unordered_set>

namespace knncli {

namespace {

constexpr int kEnd = std::char_traits<char>::eof();

// Every byte but a UTF-8 continuation byte starts a character.
bool StartsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence, or npos.
size_t FindInvalidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        unsigned int codePoint = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if ((byte & 0xE0) == 0xC0) {
            length = 2;
            codePoint = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
            codePoint = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
            codePoint = byte & 0x07;
        } else {
            return i;
        }
        if (i + length > text.size()) {
            return i;
        }
        for (size_t j = 1; j < length; ++j) {
            const auto next = static_cast<unsigned char>(text[i + j]);
            if ((next & 0xC0) != 0x80) {
                return i;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
        static constexpr unsigned int kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

std::string Describe(int c) {
    if (c >= 0x21 && c < 0x7F) {
        return std::string("'") + static_cast<char>(c) + "'";
    }
    return c == ' ' ? "a space" : "a control or non-ASCII byte";
}

}  // namespace

CsvError::CsvError(const std::string& file, long line, int column, const std::string& message)
    : std::runtime_error(file + ":" + std::to_string(line) + ":" +
                         (column > 0 ? std::to_string(column) + ":" : std::string()) + " " +
                         message),
      file_(file),
      line_(line),
      column_(column),
      message_(message) {}

CsvReader::CsvReader(std::istream& in, std::string fileName)
    : in_(in), fileName_(std::move(fileName)) {}

int CsvReader::Get() {
    return in_.rdbuf()->sbumpc();
}

int CsvReader::Peek() {
    return in_.rdbuf()->sgetc();
}

void CsvReader::SkipByteOrderMark() {
    const int first = Peek();
    if (first == 0xEF) {
        Get();
        if (Get() != 0xBB || Get() != 0xBF) {
            throw CsvError(fileName_, 1, 1, "the file does not start with valid UTF-8 text");
        }
    } else if (first == 0xFF || first == 0xFE) {
        throw CsvError(fileName_, 1, 1,
                       "the file looks like UTF-16 text; save it as UTF-8 and try again");
    }
}

long CsvReader::FieldLine(size_t index) const {
    return index < fieldLines_.size() ? fieldLines_[index] : recordLine_;
}

void CsvReader::Fail(size_t index, const std::string& message) const {
    throw CsvError(fileName_, FieldLine(index), static_cast<int>(index) + 1, message);
}

bool CsvReader::ReadRecord(std::vector<std::string>& fields, size_t keep) {
    fields.clear();
    fieldLines_.clear();
    fieldCount_ = 0;
    if (in_.rdbuf() == nullptr) {
        return false;
    }
    if (!started_) {
        started_ = true;
        SkipByteOrderMark();
    }
    // Blank lines separate nothing and are skipped.
    for (;;) {
        const int c = Peek();
        if (c == kEnd) {
            return false;
        }
        if (c == '\n') {
            Get();
            ++line_;
        } else if (c == '\r') {
            Get();
            if (Peek() == '\n') {
                Get();
            }
            ++line_;
        } else {
            break;
        }
    }
    recordLine_ = line_;
    std::string field;
    for (bool more = true; more;) {
        field.clear();
        const long fieldLine = line_;
        if (fieldCount_ <= keep) {
            fieldLines_.push_back(fieldLine);
        }
        const int column = static_cast<int>(fieldCount_) + 1;
        int c = Get();
        if (c == '"') {
            const long startLine = line_;
            for (;;) {
                c = Get();
                if (c == kEnd) {
                    throw CsvError(fileName_, startLine, column,
                                   "a quoted field is not closed before the end of the file");
                }
                if (c == '"') {
                    if (Peek() != '"') {
                        break;
                    }
                    Get();
                } else if (c == '\n') {
                    ++line_;
                }
                field.push_back(static_cast<char>(c));
            }
            c = Get();
            if (c != ',' && c != '\n' && c != '\r' && c != kEnd) {
                throw CsvError(fileName_, line_, column,
                               "unexpected " + Describe(c) +
                                   " after the closing quote of a field (a quote inside a quoted "
                                   "field is written as two quotes)");
            }
        } else {
            // A quote inside an unquoted field has no special meaning and is kept.
            while (c != ',' && c != '\n' && c != '\r' && c != kEnd) {
                field.push_back(static_cast<char>(c));
                c = Get();
            }
        }
        const size_t bad = FindInvalidUtf8(field);
        if (bad != std::string_view::npos) {
            throw CsvError(fileName_, fieldLine, column,
                           "the text is not valid UTF-8 (byte " + std::to_string(bad + 1) +
                               " of the field); save the file as UTF-8");
        }
        if (fieldCount_ < keep) {
            fields.push_back(field);
        }
        ++fieldCount_;
        if (c == ',') {
            continue;
        }
        if (c == '\r' && Peek() == '\n') {
            Get();
        }
        if (c != kEnd) {
            ++line_;
        }
        more = false;
    }
    return true;
}

DataInput::DataInput(const std::string& path) : name_(path == "-" ? "<stdin>" : path) {
    if (path == "-") {
        return;
    }
    file_.open(path, std::ios::binary);
    if (!file_) {
        throw CliError(kExitData, "cannot open the data file " + path);
    }
}

std::istream& DataInput::Stream() {
    return file_.is_open() ? static_cast<std::istream&>(file_) : std::cin;
}

bool ReadDataRecord(CsvReader& reader, std::vector<std::string>& fields, size_t width) {
    // A record that is too long is not kept beyond the header's width.
    if (!reader.ReadRecord(fields, width)) {
        return false;
    }
    const size_t count = reader.FieldCount();
    if (count != width) {
        reader.Fail(std::min(count, width), "this record has " + std::to_string(count) +
                                                " fields, but the header has " +
                                                std::to_string(width));
    }
    return true;
}

std::vector<std::string> ReadHeader(CsvReader& reader) {
    std::vector<std::string> names;
    if (!reader.ReadRecord(names, kMaxColumns)) {
        throw CsvError(reader.FileName(), 1, 0, "the file is empty; a header line is expected");
    }
    if (reader.FieldCount() > kMaxColumns) {
        reader.Fail(kMaxColumns, "the header has " + std::to_string(reader.FieldCount()) +
                                     " columns; a file may have at most " +
                                     std::to_string(kMaxColumns));
    }
    // Views of the names, which stay in place while the set is used.
    std::unordered_set<std::string_view> seen;
    seen.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        names[i] = std::string(Trim(names[i]));
        const auto length =
            static_cast<size_t>(std::count_if(names[i].begin(), names[i].end(), StartsCharacter));
        if (length > kMaxColumnNameLength) {
            reader.Fail(i, "the column name " + Quoted(names[i]) + " has " +
                               std::to_string(length) +
                               " characters; a column name may have at most " +
                               std::to_string(kMaxColumnNameLength));
        }
        if (!names[i].empty() && !seen.insert(names[i]).second) {
            reader.Fail(i, "the column name " + Quoted(names[i]) + " appears twice in the header");
        }
    }
    return names;
}

std::string Quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    size_t characters = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (StartsCharacter(c) && ++characters > kQuotedLength) {
            out += "\u2026";  // "…"
            break;
        }
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0xF];
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool IsMissingText(std::string_view text) {
    const std::string_view trimmed = Trim(text);
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    const bool nan = trimmed.size() == 3 && lower(trimmed[0]) == 'n' && lower(trimmed[1]) == 'a' &&
                     lower(trimmed[2]) == 'n';
    return trimmed.empty() || trimmed == "NA" || trimmed == "?" || nan;
}

std::optional<double> ParseNumber(std::string_view text) {
    std::string_view digits = Trim(text);
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
            return std::nullopt;
        }
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    // from_chars would accept "inf" and "nan"; neither is a measurement.
    const char first = digits.front() == '-' && digits.size() > 1 ? digits[1] : digits.front();
    if (!(first == '.' || (first >= '0' && first <= '9'))) {
        return std::nullopt;
    }
    double value = 0.0;
    const char* end = digits.data() + digits.size();
    const auto result = VelCommon_940::DecimalToDouble(digits.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string CsvQuote(const std::string& text) {
    const bool needsQuotes = text.find_first_of(",\"\r\n") != std::string::npos ||
                             (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!needsQuotes) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') {
            quoted.push_back('"');
        }
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string FormatNumber(double value, int digits) {
    char buffer[64];
    const auto result = digits > 0 ? std::to_chars(buffer, buffer + sizeof buffer, value,
                                                   std::chars_format::general, digits)
                                   : std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatIdentifier(double value) {
    // Fixed notation needs up to 309 digits before the point and 324 after it.
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

std::string CsvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line.push_back(',');
        }
        line += fields[i];
    }
    return line;
}

}  // namespace knncli
