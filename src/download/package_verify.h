// Re-checks a finished package against its block table through any reader, e.g. an open
// handle, so that a file changed after the download is not run.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "download/block_info.h"

namespace installer {

// Reads up to `size` bytes at `offset` into `buffer`; returns the number of bytes read
// (fewer at the end of the file) or -1 on a read error.
using ReadAtFn = std::function<int64_t(int64_t offset, uint8_t* buffer, int32_t size)>;

// The block table of `size` bytes of a package: every kBlockStride bytes one block with
// its size and MD5 digest (the last one shorter). What a publisher describes.
std::vector<BlockInfo> BlockTableOf(const uint8_t* data, size_t size);

// Index of the first block whose bytes at index * kBlockStride do not have the block's
// size and digest (a short read or read error counts as a mismatch); -1 when every block
// matches. An empty table gives -1.
int32_t FindFirstBadBlock(const ReadAtFn& read_at, const std::vector<BlockInfo>& blocks);

// True when every block matches and the table is not empty.
bool VerifyPackageBlocks(const ReadAtFn& read_at, const std::vector<BlockInfo>& blocks);

}  // namespace installer
