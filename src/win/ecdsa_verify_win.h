// Checking an ECDSA P-256 signature with the platform's CNG (bcrypt.dll).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace installer::win {

enum class SignatureCheck {
    kValid,
    kInvalid,      // the signature does not belong to this digest under this key
    kUnavailable,  // the key could not be imported or CNG failed otherwise
};

// Verifies `signature` (r || s, 32 big-endian bytes each) over the SHA-256 `digest` with
// the public key `public_blob` (a BCRYPT_ECCPUBLIC_BLOB with the P-256 magic). Every
// handle it opens is closed before it returns.
SignatureCheck VerifyEcdsaP256(const std::vector<uint8_t>& public_blob,
                               const std::array<uint8_t, 32>& digest,
                               const std::array<uint8_t, 64>& signature);

}  // namespace installer::win
