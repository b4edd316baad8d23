// The reader of CSV files (declared in Csv.h, where its design is described).
#include "Csv.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace knncli {

namespace {

constexpr int kEnd = std::char_traits<char>::eof();
// Not a byte: the bytes read so far end here, and the input may have more.
constexpr int kMore = kEnd - 1;

// The bytes that end an unquoted field.
constexpr auto kEndsField = [] {
    std::array<bool, 256> ends{};
    ends[','] = ends['\n'] = ends['\r'] = true;
    return ends;
}();

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

// The position of the first byte from `p` that ends an unquoted field or is not ASCII, or a
// position before it: eight bytes are looked at together, as one word.
size_t SkipPlainBytes(const char* data, size_t p, size_t end) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101;
        constexpr uint64_t kHighBits = 0x8080808080808080;
        // The high bit of each byte equal to `c`; a byte above (later than) a match may be
        // marked as well, so only the lowest mark is used.
        const auto marks = [](uint64_t word, unsigned char c) {
            const uint64_t x = word ^ (kOnes * c);
            return (x - kOnes) & ~x & kHighBits;
        };
        while (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, data + p, 8);
            const uint64_t stop =
                marks(word, ',') | marks(word, '\n') | marks(word, '\r') | (word & kHighBits);
            if (stop != 0) {
                return p + static_cast<size_t>(std::countr_zero(stop) / 8);
            }
            p += 8;
        }
    }
    return p;
}

std::string Describe(int c) {
    if (c >= 0x21 && c < 0x7F) {
        return std::string("'") + static_cast<char>(c) + "'";
    }
    return c == ' ' ? "a space" : "a control or non-ASCII byte";
}

}  // namespace

CsvReader::CsvReader(std::istream& in, std::string fileName, size_t blockSize)
    : in_(in), fileName_(std::move(fileName)), buffer_(std::max<size_t>(blockSize, 2)) {}

bool CsvReader::Fill() {
    if (atEnd_) {
        return false;
    }
    // The bytes not yet taken move to the front; a record that fills more than half of the
    // buffer doubles it, so that a long record is scanned again only a few times.
    const size_t kept = end_ - begin_;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
        begin_ = 0;
        end_ = kept;
    }
    if (kept > buffer_.size() / 2) {
        buffer_.resize(buffer_.size() * 2);
    }
    const std::streamsize count = in_.rdbuf()->sgetn(
        buffer_.data() + end_, static_cast<std::streamsize>(buffer_.size() - end_));
    if (count <= 0) {
        atEnd_ = true;
        return false;
    }
    end_ += static_cast<size_t>(count);
    bytesRead_ += static_cast<uint64_t>(count);
    return true;
}

void CsvReader::SkipByteOrderMark() {
    while (end_ - begin_ < 3 && Fill()) {
    }
    const auto byte = [this](size_t i) {
        return begin_ + i < end_ ? static_cast<unsigned char>(buffer_[begin_ + i]) : kEnd;
    };
    const int first = byte(0);
    if (first == 0xEF) {
        if (byte(1) != 0xBB || byte(2) != 0xBF) {
            throw CsvError(fileName_, 1, 1, "the file does not start with valid UTF-8 text");
        }
        begin_ += 3;
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

void CsvReader::CheckUtf8(std::string_view text, long line, int column) const {
    const size_t bad = FindInvalidUtf8(text);
    if (bad != std::string_view::npos) {
        throw CsvError(fileName_, line, column,
                       "the text is not valid UTF-8 (byte " + std::to_string(bad + 1) +
                           " of the field); save the file as UTF-8");
    }
}

// Scans one record from `begin_`. kMore when the bytes read so far end inside it (nothing is
// taken then, and the scan starts again at the record once more bytes are read); an error is
// thrown only from bytes that are all there.
CsvReader::Scan CsvReader::ScanRecord(size_t keep) {
    const char* const data = buffer_.data();
    const auto at = [this, data](size_t i) {
        return i < end_ ? static_cast<int>(static_cast<unsigned char>(data[i]))
                        : (atEnd_ ? kEnd : kMore);
    };
    // Blank lines separate nothing and are skipped.
    for (;;) {
        const int c = at(begin_);
        if (c == kMore) {
            return Scan::kMore;
        }
        if (c == kEnd) {
            return Scan::kEnd;
        }
        if (c == '\n') {
            ++begin_;
        } else if (c == '\r') {
            const int next = at(begin_ + 1);
            if (next == kMore) {
                return Scan::kMore;
            }
            begin_ += next == '\n' ? 2 : 1;
        } else {
            break;
        }
        ++line_;
    }
    recordLine_ = line_;
    long line = line_;
    size_t p = begin_;
    fieldLines_.clear();
    spans_.clear();
    unquoted_.clear();
    size_t count = 0;
    for (;;) {
        const long fieldLine = line;
        if (count <= keep) {
            fieldLines_.push_back(fieldLine);
        }
        const int column = static_cast<int>(count) + 1;
        Span span{false, p, 0};
        int c = at(p);
        if (c == kMore) {
            return Scan::kMore;
        }
        if (c == '"') {
            const long startLine = line;
            size_t piece = ++p;  // start of the text not yet copied to `unquoted_`
            const size_t unquotedStart = unquoted_.size();
            bool doubled = false;
            for (;;) {
                const char* quote = static_cast<const char*>(std::memchr(data + p, '"', end_ - p));
                const size_t stop = quote != nullptr ? static_cast<size_t>(quote - data) : end_;
                line += std::count(data + p, data + stop, '\n');
                p = stop;
                c = at(p);
                if (c == kMore) {
                    return Scan::kMore;
                }
                if (c == kEnd) {
                    throw CsvError(fileName_, startLine, column,
                                   "a quoted field is not closed before the end of the file");
                }
                const int next = at(p + 1);
                if (next == kMore) {
                    return Scan::kMore;
                }
                if (next != '"') {
                    break;
                }
                // A doubled quote stands for one: the text up to the first of them is kept.
                unquoted_.append(data + piece, p + 1 - piece);
                doubled = true;
                p += 2;
                piece = p;
            }
            if (doubled) {
                unquoted_.append(data + piece, p - piece);
                span = {true, unquotedStart, unquoted_.size() - unquotedStart};
            } else {
                span = {false, piece, p - piece};
            }
            c = at(++p);
            if (c == kMore) {
                return Scan::kMore;
            }
            if (c != ',' && c != '\n' && c != '\r' && c != kEnd) {
                throw CsvError(fileName_, line, column,
                               "unexpected " + Describe(c) +
                                   " after the closing quote of a field (a quote inside a quoted "
                                   "field is written as two quotes)");
            }
            const char* text = span.unquoted ? unquoted_.data() + span.offset : data + span.offset;
            CheckUtf8(std::string_view(text, span.length), fieldLine, column);
        } else {
            // A quote inside an unquoted field has no special meaning and is kept.
            p = SkipPlainBytes(data, p, end_);
            unsigned char seen = 0;
            while (p < end_ && !kEndsField[static_cast<unsigned char>(data[p])]) {
                seen |= static_cast<unsigned char>(data[p]);
                ++p;
            }
            c = at(p);
            if (c == kMore) {
                return Scan::kMore;
            }
            span.length = p - span.offset;
            if (seen >= 0x80) {
                CheckUtf8(std::string_view(data + span.offset, span.length), fieldLine, column);
            }
        }
        if (count < keep) {
            spans_.push_back(span);
        }
        ++count;
        if (c == ',') {
            ++p;
            continue;
        }
        if (c == '\r') {
            const int next = at(p + 1);
            if (next == kMore) {
                return Scan::kMore;
            }
            p += next == '\n' ? 2 : 1;
        } else if (c == '\n') {
            ++p;
        }
        if (c != kEnd) {
            ++line;
        }
        break;
    }
    begin_ = p;
    line_ = line;
    fieldCount_ = count;
    return Scan::kRecord;
}

bool CsvReader::ReadRecord(std::vector<std::string_view>& fields, size_t keep) {
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
    Scan scan = ScanRecord(keep);
    while (scan == Scan::kMore) {
        Fill();
        scan = ScanRecord(keep);
    }
    if (scan == Scan::kEnd) {
        return false;
    }
    for (const Span& span : spans_) {
        const char* text = span.unquoted ? unquoted_.data() : buffer_.data();
        fields.emplace_back(text + span.offset, span.length);
    }
    return true;
}

bool CsvReader::ReadRecord(std::vector<std::string>& fields, size_t keep) {
    fields.clear();
    if (!ReadRecord(views_, keep)) {
        return false;
    }
    fields.assign(views_.begin(), views_.end());
    return true;
}

}  // namespace knncli
