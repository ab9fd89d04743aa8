// The publisher's side of description signing, with OpenSSL: making the ECDSA P-256 key
// pair, signing a description's exact bytes, and checking a signature as the installer
// will. The signature file is the DER ECDSA-Sig-Value over the SHA-256 of the bytes, as
// `openssl dgst -sha256 -sign` writes it.
#pragma once

#include <string>

namespace installer {

// Writes a new P-256 private key (PKCS#8 PEM, readable by its owner only) to
// `private_path` and its public key (SubjectPublicKeyInfo PEM, the installer's build
// setting) to `public_path`. Refuses to overwrite an existing private key. Returns false
// with `error` set on failure.
bool GenerateSigningKey(const std::string& private_path, const std::string& public_path, std::string& error);

// Signs `data` with the P-256 private key in `private_path` and gives the DER signature.
// Returns false with `error` set when the key cannot be read or is not P-256.
bool SignBytes(const std::string& private_path, const std::string& data, std::string& signature, std::string& error);

// True when `signature` (DER) is a valid signature of `data` under the public key in
// `public_path`. Returns false with `error` set when the key cannot be read or the
// signature does not verify.
bool VerifyBytes(const std::string& public_path,
                 const std::string& data,
                 const std::string& signature,
                 std::string& error);

}  // namespace installer
