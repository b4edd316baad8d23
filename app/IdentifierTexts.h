// The identifiers of a file's records when they are texts, kept compactly: all texts in one
// character buffer with the end of each, and, for training data, an open-addressing table that
// finds the first record with a given text. A million identifiers take their characters plus
// about 24 bytes each, instead of a string and a map node each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace knncli {

class IdentifierTexts {
public:
    // Appends the text of the next record; `findable` texts can be found by FirstRecord.
    void Add(std::string_view text, bool findable);
    // Gives the records before `count` that have no text yet the empty text.
    void PadTo(size_t count);

    size_t size() const { return ends_.size(); }
    // The text of record `index` (from 0).
    std::string operator[](size_t index) const { return std::string(View(index)); }
    std::string_view View(size_t index) const;
    // The number (from 1) of the first findable record with `text`, or 0.
    long FirstRecord(std::string_view text) const;

private:
    void Grow();

    std::string chars_;
    std::vector<size_t> ends_;
    // Record number + 1 of a findable text per slot, 0 for an empty slot; at most half full.
    std::vector<uint32_t> slots_;
    size_t findable_ = 0;
};

}  // namespace knncli
