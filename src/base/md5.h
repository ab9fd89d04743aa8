// MD5 message digest (RFC 1321), the integrity check of every downloaded block,
// and the conversion of a digest's hexadecimal text into its 16 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace installer {

using Md5Digest = std::array<uint8_t, 16>;

class CMD5 {
  public:
    CMD5() { Init(); }
    virtual ~CMD5() = default;

    // Starts a new digest.
    void Init();

    // Feeds `length` bytes; any number of calls, any lengths including 0.
    void Update(const uint8_t* input, uint32_t length);

    // Writes the 16-byte digest to `digest` and starts a new digest.
    void Final(uint8_t* digest);

    // One-shot digest of a buffer.
    static Md5Digest Of(const uint8_t* data, uint32_t length);

  private:
    void Transform(const uint8_t* block);

    uint32_t state_[4];
    uint32_t count_[2];  // bits processed, modulo 2^64, low word first
    uint8_t buffer_[64];
    uint8_t padding_[64];
};

// Decodes the first 32 characters of `text` as hexadecimal digits (either case) into 16
// bytes; anything after them (a publisher's note) is not read. Returns false, with `out`
// all zero, when the text is shorter or those characters are not all hexadecimal: such
// a digest matches no block, because callers keep the result flag with the bytes.
bool HexToBytes(std::string_view text, Md5Digest& out);

}  // namespace installer
