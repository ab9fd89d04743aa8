// Re-checking a finished package through a reader.
#include "download/package_verify.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/md5.h"

namespace installer {
namespace {

std::vector<uint8_t> Bytes(size_t size) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return data;
}

std::vector<BlockInfo> Table(const std::vector<uint8_t>& data) {
    return BlockTableOf(data.data(), data.size());
}

ReadAtFn Reader(const std::vector<uint8_t>& data, bool fail = false) {
    return [&data, fail](int64_t offset, uint8_t* buffer, int32_t size) -> int64_t {
        if (fail) {
            return -1;
        }
        if (offset >= static_cast<int64_t>(data.size())) {
            return 0;
        }
        // Short reads, as a real handle may give.
        const int64_t n = std::min<int64_t>({size, static_cast<int64_t>(data.size()) - offset, 70000});
        std::memcpy(buffer, data.data() + offset, static_cast<size_t>(n));
        return n;
    };
}

TEST(PackageVerify, AcceptsTheExactPackageAndFindsTheFirstBadBlock) {
    auto data = Bytes(3 * kBlockStride + 1000);
    const auto blocks = Table(data);
    EXPECT_TRUE(VerifyPackageBlocks(Reader(data), blocks));
    EXPECT_FALSE(VerifyPackageBlocks(Reader(data), {}));
    EXPECT_FALSE(VerifyPackageBlocks(Reader(data, true), blocks));

    auto changed = data;
    changed[2 * kBlockStride + 5] ^= 1;
    EXPECT_EQ(FindFirstBadBlock(Reader(changed), blocks), 2);

    auto longer = data;
    longer.push_back(0);  // bytes after the last block
    EXPECT_EQ(FindFirstBadBlock(Reader(longer), blocks), 3);

    auto shorter = data;
    shorter.pop_back();
    EXPECT_EQ(FindFirstBadBlock(Reader(shorter), blocks), 3);

    auto bad_table = blocks;
    bad_table[1].digest_valid = false;
    EXPECT_EQ(FindFirstBadBlock(Reader(data), bad_table), 1);
}

}  // namespace
}  // namespace installer
