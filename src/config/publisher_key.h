// The publisher's ECDSA P-256 public key, built into the installer as PEM text, turned
// into the public key blob the platform's CNG imports (BCRYPT_ECCPUBLIC_BLOB).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace installer {

// BCRYPT_ECDSA_PUBLIC_P256_MAGIC ("ECS1"), spelled out so that this file stays portable.
inline constexpr uint32_t kEcdsaP256PublicMagic = 0x31534345;
inline constexpr size_t kP256CoordinateBytes = 32;

// Reads a "-----BEGIN PUBLIC KEY-----" PEM block (a DER SubjectPublicKeyInfo, as
// `openssl pkey -pubout` writes it) that holds an uncompressed P-256 point, and gives
// the CNG blob: magic, coordinate length (both 32-bit little-endian), X, Y. Returns
// false, with `blob` empty, for anything else (another curve or algorithm, a compressed
// point, trailing data, damaged base64).
bool EcdsaP256PublicBlobFromPem(std::string_view pem, std::vector<uint8_t>& blob);

// The same from the DER SubjectPublicKeyInfo itself.
bool EcdsaP256PublicBlobFromDer(std::string_view der, std::vector<uint8_t>& blob);

}  // namespace installer
