// MD5 against RFC 1321's test suite, the padding branches and split input.
#include "base/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/hex.h"

namespace installer {
namespace {

std::string Hex(const Md5Digest& d) {
    return EncodeHex(d.data(), d.size());
}

std::string DigestOf(const std::string& text) {
    return Hex(CMD5::Of(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size())));
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(DigestOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(DigestOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DigestOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(DigestOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(DigestOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(DigestOf("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBranchesAroundTheLengthField) {
    // Lengths on both sides of 56 (the last block needs a second padding block from
    // 56 bytes on) and of 64 (one whole block). Digests from `md5sum` of 'a' * n.
    const std::vector<std::pair<size_t, std::string>> cases = {
        {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},
    };
    for (const auto& [length, expected] : cases) {
        EXPECT_EQ(DigestOf(std::string(length, 'a')), expected) << "length " << length;
    }
}

TEST(Md5, SplitUpdatesGiveTheSameDigest) {
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    const Md5Digest whole = CMD5::Of(data.data(), static_cast<uint32_t>(data.size()));
    for (uint32_t piece : {1u, 3u, 63u, 64u, 65u, 127u, 999u}) {
        CMD5 md5;
        md5.Update(data.data(), 0);
        for (uint32_t off = 0; off < data.size(); off += piece) {
            const uint32_t n = std::min<uint32_t>(piece, static_cast<uint32_t>(data.size()) - off);
            md5.Update(data.data() + off, n);
        }
        Md5Digest split;
        md5.Final(split.data());
        EXPECT_EQ(Hex(split), Hex(whole)) << "pieces of " << piece;
    }
}

TEST(Md5, FinalResetsForTheNextDigest) {
    CMD5 md5;
    md5.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
    Md5Digest first, second;
    md5.Final(first.data());
    md5.Final(second.data());
    EXPECT_EQ(Hex(first), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex(second), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, BitCountCarriesIntoTheHighWord) {
    // 2^29 bytes are 2^32 bits: the low count word wraps to 0 and the carry must
    // reach the high word, or the length field and so the digest come out wrong.
    // Feed zeros in 1 MiB pieces; digest from `head -c 536870912 /dev/zero | md5sum`.
    std::vector<uint8_t> zeros(1 << 20);
    CMD5 md5;
    for (int i = 0; i < 512; ++i) {
        md5.Update(zeros.data(), static_cast<uint32_t>(zeros.size()));
    }
    Md5Digest d;
    md5.Final(d.data());
    EXPECT_EQ(Hex(d), "aa559b4e3523a6c931f08f4df52d58f2");
}

TEST(HexToBytes, DecodesTheFirst32DigitsInEitherCaseAndRejectsAnythingElse) {
    Md5Digest lower, upper, noted, out;
    ASSERT_TRUE(HexToBytes("900150983cd24fb0d6963f7d28e17f72", lower));
    ASSERT_TRUE(HexToBytes("900150983CD24FB0D6963F7D28E17F72", upper));
    EXPECT_EQ(lower, upper);
    EXPECT_EQ(lower[0], 0x90);
    EXPECT_EQ(lower[15], 0x72);
    // Whatever follows the 32 digits is not part of the digest.
    ASSERT_TRUE(HexToBytes("900150983cd24fb0d6963f7d28e17f72 ; abc", noted));
    EXPECT_EQ(noted, lower);

    const Md5Digest zero{};
    for (const char* bad : {"", "900150983cd24fb0d6963f7d28e17f7", "900150983cd24fb0d6963f7d28e17fzz",
                            "  0150983cd24fb0d6963f7d28e17f72", "900150983cd24fb0d6963f7d28e17f7 2"}) {
        out.fill(0xAA);
        EXPECT_FALSE(HexToBytes(bad, out)) << bad;
        EXPECT_EQ(out, zero) << bad;
    }
}

}  // namespace
}  // namespace installer
