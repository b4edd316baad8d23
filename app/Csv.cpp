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

// Every byte but a UTF-8 continuation byte starts a character.
bool StartsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
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

namespace {

template <typename Text>
bool ReadDataRecordOf(CsvReader& reader, std::vector<Text>& fields, size_t width) {
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

}  // namespace

bool ReadDataRecord(CsvReader& reader, std::vector<std::string>& fields, size_t width) {
    return ReadDataRecordOf(reader, fields, width);
}

bool ReadDataRecord(CsvReader& reader, std::vector<std::string_view>& fields, size_t width) {
    return ReadDataRecordOf(reader, fields, width);
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
    // A loop rather than find_first_not_of, which looks up every character in the set: this
    // runs on every cell of a data file.
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && blank(text[first])) {
        ++first;
    }
    while (last > first && blank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
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
