// MD5 as RFC 1321 defines it, written for clarity over the reference code's macros.
#include "base/md5.h"

#include <cstring>

#include "base/hex.h"

namespace installer {
namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int kShift[64] = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21,
};

inline uint32_t RotateLeft(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadLittleEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLittleEndian(uint32_t v, uint8_t* p) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void CMD5::Init() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    count_[0] = count_[1] = 0;
    std::memset(buffer_, 0, sizeof(buffer_));
    std::memset(padding_, 0, sizeof(padding_));
    padding_[0] = 0x80;
}

void CMD5::Transform(const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = LoadLittleEndian(block + 4 * i);
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t rotated = RotateLeft(a + f + kSine[i] + x[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void CMD5::Update(const uint8_t* input, uint32_t length) {
    uint32_t index = (count_[0] >> 3) & 63;
    const uint32_t bits = length << 3;
    count_[0] += bits;
    if (count_[0] < bits) {
        ++count_[1];
    }
    count_[1] += length >> 29;

    const uint32_t part_len = 64 - index;
    uint32_t i = 0;
    if (length >= part_len) {
        std::memcpy(buffer_ + index, input, part_len);
        Transform(buffer_);
        for (i = part_len; i + 63 < length; i += 64) {
            Transform(input + i);
        }
        index = 0;
    }
    if (length > i) {
        std::memcpy(buffer_ + index, input + i, length - i);
    }
}

void CMD5::Final(uint8_t* digest) {
    uint8_t bits[8];
    StoreLittleEndian(count_[0], bits);
    StoreLittleEndian(count_[1], bits + 4);
    const uint32_t index = (count_[0] >> 3) & 63;
    const uint32_t pad_len = index < 56 ? 56 - index : 120 - index;
    Update(padding_, pad_len);
    Update(bits, 8);
    for (int i = 0; i < 4; ++i) {
        StoreLittleEndian(state_[i], digest + 4 * i);
    }
    std::memset(state_, 0, sizeof(state_));
    std::memset(count_, 0, sizeof(count_));
    std::memset(buffer_, 0, sizeof(buffer_));
    std::memset(padding_, 0, sizeof(padding_));
    Init();
}

Md5Digest CMD5::Of(const uint8_t* data, uint32_t length) {
    CMD5 md5;
    md5.Update(data, length);
    Md5Digest digest;
    md5.Final(digest.data());
    return digest;
}

bool HexToBytes(std::string_view text, Md5Digest& out) {
    return DecodeHex(text.substr(0, 2 * out.size()), out.data(), out.size());
}

}  // namespace installer
