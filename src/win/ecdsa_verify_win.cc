// ECDSA P-256 verification through CNG.
#include "win/ecdsa_verify_win.h"

#include <windows.h>
// After <windows.h>: it needs its types.
#include <bcrypt.h>

#include "win/scoped_handle.h"

namespace installer::win {
namespace {

// STATUS_INVALID_SIGNATURE, which <ntstatus.h> would give only with a clash of macros.
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

}  // namespace

SignatureCheck VerifyEcdsaP256(const std::vector<uint8_t>& public_blob,
                               const std::array<uint8_t, 32>& digest,
                               const std::array<uint8_t, 64>& signature) {
    BCRYPT_ALG_HANDLE algorithm_handle = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm_handle, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
        return SignatureCheck::kUnavailable;
    }
    ScopedBcryptAlgorithm algorithm(algorithm_handle);

    BCRYPT_KEY_HANDLE key_handle = nullptr;
    // The blob is only read; the API's parameter is not const.
    std::vector<uint8_t> blob = public_blob;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key_handle, blob.data(),
                                              static_cast<ULONG>(blob.size()), 0))) {
        return SignatureCheck::kUnavailable;
    }
    ScopedBcryptKey key(key_handle);

    std::array<uint8_t, 32> hash = digest;
    std::array<uint8_t, 64> raw = signature;
    const NTSTATUS status = ::BCryptVerifySignature(key.Get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                                                    raw.data(), static_cast<ULONG>(raw.size()), 0);
    if (BCRYPT_SUCCESS(status)) {
        return SignatureCheck::kValid;
    }
    // Any other failure also leaves the signature unproven: both refuse.
    return status == kStatusInvalidSignature ? SignatureCheck::kInvalid : SignatureCheck::kUnavailable;
}

}  // namespace installer::win
