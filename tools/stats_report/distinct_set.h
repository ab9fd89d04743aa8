// A set of 64-bit values in one flat table (open addressing, linear probing). The
// report counts distinct machines with it: no heap node per entry and usually one
// cache line per lookup, which a node-based set cannot give on logs of millions of lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace installer {

class DistinctSet64 {
  public:
    // Adds `value`. Returns true when it was not in the set yet. Never fails (the table
    // grows; running out of memory ends the program as any allocation does).
    bool Insert(uint64_t value);
    size_t size() const { return size_; }

  private:
    static constexpr uint64_t kFree = 0;  // marks a free slot; the value 0 itself is kept aside

    void Grow();
    // Inserts a value known to be absent and not kFree, into a table with room.
    void Place(uint64_t value);

    std::vector<uint64_t> slots_;
    size_t size_ = 0;
    bool holds_free_value_ = false;
};

// A well-mixed 64-bit digest of `value` (the splitmix64 finaliser), for spreading keys
// over a table and for combining digests.
uint64_t Mix64(uint64_t value);

}  // namespace installer
