#include "config/description_signature.h"

#include <gtest/gtest.h>

#include <string>

#include "base/hex.h"

namespace installer {
namespace {

std::string Bytes(std::string_view hex) {
    std::string out(hex.size() / 2, '\0');
    EXPECT_TRUE(DecodeHex(hex, reinterpret_cast<uint8_t*>(out.data()), out.size()));
    return out;
}

std::string Raw(const RawEcdsaP256Signature& raw) {
    return EncodeHex(raw.data(), raw.size());
}

// A signature `openssl dgst -sha256 -sign` made with the test key, and its r and s as
// `openssl asn1parse` shows them.
constexpr char kOpensslSignature[] =
    "304402200c6a3eefe781f5f0d2f7a234d793a272e9cd238e01afc7574723c6192c210d2a02201db611a1d7a0d011a2d908a9dcf552e3b9c97f"
    "d0705b31d211c67b269aee945c";
constexpr char kR[] = "0c6a3eefe781f5f0d2f7a234d793a272e9cd238e01afc7574723c6192c210d2a";
constexpr char kS[] = "1db611a1d7a0d011a2d908a9dcf552e3b9c97fd0705b31d211c67b269aee945c";

TEST(EcdsaSignatureFromDer, OpensslSignatureGivesRThenS) {
    RawEcdsaP256Signature raw;
    ASSERT_TRUE(EcdsaSignatureFromDer(Bytes(kOpensslSignature), raw));
    EXPECT_EQ(Raw(raw), std::string(kR) + kS);
}

TEST(EcdsaSignatureFromDer, ShortAndSignPaddedScalarsAreAlignedRight) {
    RawEcdsaP256Signature raw;
    ASSERT_TRUE(EcdsaSignatureFromDer(Bytes("3006020101020102"), raw));
    EXPECT_EQ(Raw(raw), std::string(62, '0') + "01" + std::string(62, '0') + "02");
    // A scalar with its top bit set carries a zero byte in front: 33 bytes, still 256 bits.
    const std::string high(64, 'f');
    ASSERT_TRUE(EcdsaSignatureFromDer(Bytes("3046022100" + high + "022100" + high), raw));
    EXPECT_EQ(Raw(raw), high + high);
}

void ExpectRefused(const std::string& der, const char* why) {
    RawEcdsaP256Signature raw;
    raw.fill(0xAA);
    EXPECT_FALSE(EcdsaSignatureFromDer(der, raw)) << why;
    EXPECT_EQ(Raw(raw), std::string(128, '0')) << why;
}

TEST(EcdsaSignatureFromDer, RefusesAnythingElse) {
    const std::string good = Bytes(kOpensslSignature);
    ExpectRefused("", "empty");
    ExpectRefused(good.substr(0, good.size() - 1), "cut short");
    ExpectRefused(good + std::string(1, '\0'), "trailing byte");
    ExpectRefused(Bytes("3006020181020102"), "negative r");
    ExpectRefused(Bytes("300702020001020102"), "r with a zero byte it does not need");
    ExpectRefused(Bytes("3003020101"), "no s");
    ExpectRefused(Bytes("3009020101020102020103"), "a third integer");
    ExpectRefused(Bytes("30050200020101"), "empty r");
    ExpectRefused(Bytes("3026022101" + std::string(64, '0') + "020101"), "r of 264 bits");
    ExpectRefused(Bytes("3106020101020102"), "a SET, not a SEQUENCE");
    ExpectRefused("-----BEGIN SIGNATURE-----", "text");
    std::string long_one = Bytes("30820200") + std::string(0x200, '\x02');
    ExpectRefused(long_one, "longer than any signature");
}

}  // namespace
}  // namespace installer
