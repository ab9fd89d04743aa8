// SHA-256 (FIPS 180-4), the whole-package digest that the publisher tool writes into the
// package description and the installer checks before the package runs. Portable code
// rather than CNG on Windows: the publisher tool (built on Linux too) and the installer
// then share one code path, so they cannot disagree on a single byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
  public:
    Sha256() { Init(); }

    // Starts a new digest.
    void Init();

    // Feeds `length` bytes; any number of calls, any lengths including 0.
    void Update(const uint8_t* input, size_t length);

    // Returns the digest of everything fed since the last Init and starts a new digest.
    Sha256Digest Final();

    // One-shot digest of a buffer.
    static Sha256Digest Of(const uint8_t* data, size_t length);

  private:
    void Transform(const uint8_t* block);

    uint32_t state_[8];
    uint64_t length_;  // bytes fed so far
    uint8_t buffer_[64];
};

// Decodes exactly 64 hexadecimal digits (either case) into 32 bytes. Returns false,
// with `out` all zero, for any other text.
bool ParseSha256Hex(std::string_view text, Sha256Digest& out);

// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const Sha256Digest& digest);

// A short digest of an identity value (adapter address, disk serial) for the support log:
// the first 8 hex digits of the SHA-256 of its UTF-8 text, enough to match a log to a
// report and no more; "none" for an empty value.
std::string ShortDigest(std::wstring_view value);

}  // namespace installer
