// The detached signature of a package description ("info.ini.sig" beside "info.ini"):
// the DER ECDSA-Sig-Value (SEQUENCE of the INTEGERs r and s) over the SHA-256 of the
// description's exact bytes, as `openssl dgst -sha256 -sign` writes it. The platform's
// CNG takes the signature as r and s, each 32 big-endian bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace installer {

// A P-256 signature in DER is at most 72 bytes; anything much longer is not one, and
// the installer reads no more than this.
inline constexpr size_t kMaxSignatureBytes = 256;

using RawEcdsaP256Signature = std::array<uint8_t, 64>;  // r || s, big-endian

// Converts a DER ECDSA-Sig-Value to r || s. Returns false, with `raw` all zero, when the
// bytes are not exactly one such value with r and s positive, minimally encoded and
// below 2^256.
bool EcdsaSignatureFromDer(std::string_view der, RawEcdsaP256Signature& raw);

}  // namespace installer
