// Linear probing over a power-of-two table kept at most half full.
#include "distinct_set.h"

namespace installer {

uint64_t Mix64(uint64_t value) {
    value ^= value >> 30;
    value *= 0xbf58476d1ce4e5b9ULL;
    value ^= value >> 27;
    value *= 0x94d049bb133111ebULL;
    value ^= value >> 31;
    return value;
}

bool DistinctSet64::Insert(uint64_t value) {
    if (value == kFree) {
        if (holds_free_value_) {
            return false;
        }
        holds_free_value_ = true;
        ++size_;
        return true;
    }
    if ((size_ + 1) * 2 > slots_.size()) {
        Grow();
    }
    const size_t mask = slots_.size() - 1;
    for (size_t i = Mix64(value) & mask;; i = (i + 1) & mask) {
        if (slots_[i] == value) {
            return false;
        }
        if (slots_[i] == kFree) {
            slots_[i] = value;
            ++size_;
            return true;
        }
    }
}

void DistinctSet64::Place(uint64_t value) {
    const size_t mask = slots_.size() - 1;
    size_t i = Mix64(value) & mask;
    while (slots_[i] != kFree) {
        i = (i + 1) & mask;
    }
    slots_[i] = value;
}

void DistinctSet64::Grow() {
    std::vector<uint64_t> old(slots_.empty() ? 1024 : slots_.size() * 2, kFree);
    old.swap(slots_);
    for (const uint64_t value : old) {
        if (value != kFree) {
            Place(value);
        }
    }
}

}  // namespace installer
