// A small writer of JSON text, indented by two spaces per level. Strings are escaped as JSON
// requires (quote, backslash, every control character) and otherwise passed through as UTF-8;
// a byte that is not part of valid UTF-8 becomes U+FFFD, so that the output is always valid
// JSON. Doubles are written in the shortest form that reads back to the same value, and a
// value that is not finite (which JSON cannot express) as null.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace knncli {

// The JSON text of `value`, quoted and escaped.
inline std::string JsonString(std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    const size_t size = value.size();
    for (size_t i = 0; i < size;) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        out += "\\u00";
                        out += kHex[c >> 4];
                        out += kHex[c & 0xF];
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        // The length of a valid UTF-8 sequence starting here, or 0: no overlong forms, no
        // surrogates, nothing beyond U+10FFFF.
        size_t length = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
        }
        if (length > 0 && i + length <= size) {
            const unsigned char second = bytes[i + 1];
            unsigned char low = 0x80;
            unsigned char high = 0xBF;
            if (c == 0xE0) {
                low = 0xA0;
            } else if (c == 0xED) {
                high = 0x9F;
            } else if (c == 0xF0) {
                low = 0x90;
            } else if (c == 0xF4) {
                high = 0x8F;
            }
            bool valid = second >= low && second <= high;
            for (size_t k = 2; valid && k < length; ++k) {
                valid = (bytes[i + k] & 0xC0) == 0x80;
            }
            if (valid) {
                out.append(value.data() + i, length);
                i += length;
                continue;
            }
        }
        out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no valid sequence
        ++i;
    }
    out += '"';
    return out;
}

// The JSON text of a double: the shortest that reads back exactly; null when not finite.
inline std::string JsonNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }

    // The name of the next member of the open object.
    void Key(std::string_view name) {
        Separate();
        out_ << JsonString(name) << ": ";
        afterKey_ = true;
    }

    void String(std::string_view value) { Scalar(JsonString(value)); }
    void Number(double value) { Scalar(JsonNumber(value)); }
    void Integer(long long value) { Scalar(std::to_string(value)); }
    void Bool(bool value) { Scalar(value ? "true" : "false"); }
    void Null() { Scalar("null"); }
    void Number(const std::optional<double>& value) {
        if (value) {
            Number(*value);
        } else {
            Null();
        }
    }

    // A member with a scalar value.
    void Member(std::string_view name, std::string_view value) {
        Key(name);
        String(value);
    }
    void Member(std::string_view name, const char* value) {
        Key(name);
        String(value);
    }
    void Member(std::string_view name, double value) {
        Key(name);
        Number(value);
    }
    void Member(std::string_view name, const std::optional<double>& value) {
        Key(name);
        Number(value);
    }
    void Member(std::string_view name, long long value) {
        Key(name);
        Integer(value);
    }
    void Member(std::string_view name, long value) {
        Key(name);
        Integer(value);
    }
    void Member(std::string_view name, int value) {
        Key(name);
        Integer(value);
    }
    void Member(std::string_view name, bool value) {
        Key(name);
        Bool(value);
    }

    // Ends the text with a line break once the outermost value is closed.
    void Finish() { out_ << '\n'; }

private:
    void Separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (!counts_.empty()) {
            out_ << (counts_.back() > 0 ? ",\n" : "\n") << std::string(2 * counts_.size(), ' ');
            ++counts_.back();
        }
    }
    void Scalar(std::string_view text) {
        Separate();
        out_ << text;
    }
    void Open(char bracket) {
        Separate();
        out_ << bracket;
        counts_.push_back(0);
    }
    void Close(char bracket) {
        const bool empty = counts_.back() == 0;
        counts_.pop_back();
        if (!empty) {
            out_ << '\n' << std::string(2 * counts_.size(), ' ');
        }
        out_ << bracket;
    }

    std::ostream& out_;
    std::vector<int> counts_;  // per open object or array, the values written in it
    bool afterKey_ = false;
};

}  // namespace knncli
