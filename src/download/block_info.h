// One block of the setup package as the package description lists it.
#pragma once

#include <cstdint>

#include "base/md5.h"

namespace installer {

// Receive buffer of one transfer and distance between block start offsets.
inline constexpr int32_t kBlockStride = 204800;

// Block indexes are multiplied by kBlockStride in 32 bits: 10,486 blocks at most.
inline constexpr int32_t kMaxBlocks = 10486;

struct BlockInfo {
    int32_t index = 0;
    int32_t size = kBlockStride;  // expected length in bytes
    Md5Digest digest{};           // expected MD5 of the block's bytes
    bool digest_valid = false;    // false when "Hash%d" did not begin with 32 hex digits: never verifies
};

}  // namespace installer
