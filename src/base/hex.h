// Hexadecimal text of digests, both ways.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// Value of one hexadecimal digit (either case), or -1 for any other character.
int HexValue(char c);

// Decodes exactly 2 * `size` hexadecimal digits (either case) into `out`. Returns false,
// with `out` all zero, for any other text: shorter, longer or not hexadecimal.
bool DecodeHex(std::string_view text, uint8_t* out, size_t size);

// Lower-case hexadecimal text of `size` bytes.
std::string EncodeHex(const uint8_t* bytes, size_t size);

}  // namespace installer
