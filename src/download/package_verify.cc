// Block-by-block check of a package file with a single reusable buffer.
#include "download/package_verify.h"

#include <algorithm>
#include <memory>

#include "base/md5.h"

namespace installer {

std::vector<BlockInfo> BlockTableOf(const uint8_t* data, size_t size) {
    std::vector<BlockInfo> blocks;
    for (size_t at = 0; at < size; at += kBlockStride) {
        BlockInfo b;
        b.index = static_cast<int32_t>(blocks.size());
        b.size = static_cast<int32_t>(std::min<size_t>(kBlockStride, size - at));
        b.digest = CMD5::Of(data + at, static_cast<uint32_t>(b.size));
        b.digest_valid = true;
        blocks.push_back(b);
    }
    return blocks;
}

int32_t FindFirstBadBlock(const ReadAtFn& read_at, const std::vector<BlockInfo>& blocks) {
    auto buffer = std::make_unique<uint8_t[]>(kBlockStride + 1);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const BlockInfo& block = blocks[i];
        if (!block.digest_valid || block.size < 0 || block.size > kBlockStride) {
            return static_cast<int32_t>(i);
        }
        // One byte more than expected tells a last block that is too long from one that fits.
        const int32_t want = block.size + 1;
        int32_t got = 0;
        while (got < want) {
            const int64_t n = read_at(static_cast<int64_t>(i) * kBlockStride + got, buffer.get() + got, want - got);
            if (n < 0) {
                return static_cast<int32_t>(i);
            }
            if (n == 0) {
                break;
            }
            got += static_cast<int32_t>(n);
        }
        const bool last = i + 1 == blocks.size();
        // Only the last block must end where the file ends; others are followed by the next one.
        const bool size_ok = last ? got == block.size : got >= block.size;
        if (!size_ok || CMD5::Of(buffer.get(), static_cast<uint32_t>(block.size)) != block.digest) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

bool VerifyPackageBlocks(const ReadAtFn& read_at, const std::vector<BlockInfo>& blocks) {
    return !blocks.empty() && FindFirstBadBlock(read_at, blocks) < 0;
}

}  // namespace installer
