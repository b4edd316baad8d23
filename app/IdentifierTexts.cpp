#include "IdentifierTexts.h"

#include <functional>
#include <stdexcept>

namespace knncli {

namespace {

size_t Hash(std::string_view text) {
    return std::hash<std::string_view>()(text);
}

}  // namespace

void IdentifierTexts::PadTo(size_t count) {
    if (ends_.size() < count) {
        ends_.resize(count, chars_.size());
    }
}

std::string_view IdentifierTexts::View(size_t index) const {
    const size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(chars_).substr(begin, ends_[index] - begin);
}

void IdentifierTexts::Add(std::string_view text, bool findable) {
    if (findable && FirstRecord(text) > 0) {
        findable = false;  // the first record with the text is the one found
    }
    chars_.append(text);
    ends_.push_back(chars_.size());
    if (!findable) {
        return;
    }
    // A slot holds the record number + 1 in 32 bits.
    if (ends_.size() >= UINT32_MAX) {
        throw std::length_error("too many records with text identifiers");
    }
    if (2 * (findable_ + 1) > slots_.size()) {
        Grow();
    }
    const size_t mask = slots_.size() - 1;
    size_t slot = Hash(text) & mask;
    while (slots_[slot] != 0) {
        slot = (slot + 1) & mask;
    }
    slots_[slot] = static_cast<uint32_t>(ends_.size());
    ++findable_;
}

long IdentifierTexts::FirstRecord(std::string_view text) const {
    if (slots_.empty()) {
        return 0;
    }
    const size_t mask = slots_.size() - 1;
    for (size_t slot = Hash(text) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
        if (View(slots_[slot] - 1) == text) {
            return static_cast<long>(slots_[slot]);
        }
    }
    return 0;
}

void IdentifierTexts::Grow() {
    std::vector<uint32_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), 0);
    const size_t mask = slots_.size() - 1;
    for (const uint32_t record : old) {
        if (record == 0) {
            continue;
        }
        size_t slot = Hash(View(record - 1)) & mask;
        while (slots_[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        slots_[slot] = record;
    }
}

}  // namespace knncli
