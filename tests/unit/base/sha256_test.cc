// SHA-256 against the FIPS 180-4 example messages, the padding boundaries, split input
// and the digest text.
#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace installer {
namespace {

std::string HexOf(std::string_view text) {
    return Sha256Hex(Sha256::Of(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

TEST(Sha256, StandardVectors) {
    EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(HexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
                    "mnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
}

TEST(Sha256, OneMillionA) {
    const std::string a(1000000, 'a');
    EXPECT_EQ(HexOf(a), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // The same fed in pieces of 1,000 bytes.
    Sha256 sha;
    for (size_t at = 0; at < a.size(); at += 1000) {
        sha.Update(reinterpret_cast<const uint8_t*>(a.data()) + at, 1000);
    }
    EXPECT_EQ(Sha256Hex(sha.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PaddingBoundaries) {
    // 56 bytes and more in the last block need a second padding block.
    EXPECT_EQ(HexOf(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(HexOf(std::string(56, 'a')), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(HexOf(std::string(63, 'a')), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34");
    EXPECT_EQ(HexOf(std::string(64, 'a')), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
    EXPECT_EQ(HexOf(std::string(65, 'a')), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0");
    EXPECT_EQ(HexOf(std::string(119, 'a')), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb");
    EXPECT_EQ(HexOf(std::string(120, 'a')), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c");
}

TEST(Sha256, AnySplitGivesTheSameDigest) {
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    const Sha256Digest whole = Sha256::Of(data.data(), data.size());
    for (size_t first = 0; first <= data.size(); first += 1) {
        for (size_t second : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{130}}) {
            second = std::min(second, data.size() - first);
            Sha256 sha;
            sha.Update(data.data(), first);
            sha.Update(data.data() + first, 0);
            sha.Update(data.data() + first, second);
            sha.Update(data.data() + first + second, data.size() - first - second);
            ASSERT_EQ(sha.Final(), whole) << first << "+" << second;
        }
    }
}

TEST(Sha256, FinalStartsANewDigest) {
    Sha256 sha;
    sha.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(Sha256Hex(sha.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(sha.Final()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256Text, ParsesSixtyFourDigitsOfEitherCase) {
    Sha256Digest lower{};
    Sha256Digest upper{};
    ASSERT_TRUE(ParseSha256Hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", lower));
    ASSERT_TRUE(ParseSha256Hex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", upper));
    EXPECT_EQ(lower, upper);
    EXPECT_EQ(lower, Sha256::Of(reinterpret_cast<const uint8_t*>("abc"), 3));
    EXPECT_EQ(Sha256Hex(lower), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256Text, RefusesAnyOtherTextAndLeavesZeros) {
    const std::string good = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    for (const std::string& bad : {std::string(), good.substr(0, 63), good + "0", good.substr(0, 63) + "g",
                                   " " + good.substr(1), good.substr(0, 32)}) {
        Sha256Digest out;
        out.fill(0xAA);
        EXPECT_FALSE(ParseSha256Hex(bad, out)) << bad;
        EXPECT_EQ(out, Sha256Digest{}) << bad;
    }
}

}  // namespace
}  // namespace installer
