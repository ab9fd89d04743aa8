// PEM / DER public key to CNG blob.
#include "config/publisher_key.h"

#include <string>

#include "base/base64.h"
#include "base/der_reader.h"

namespace installer {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kObjectId = 0x06;
constexpr uint8_t kBitString = 0x03;

// 1.2.840.10045.2.1 (id-ecPublicKey) and 1.2.840.10045.3.1.7 (prime256v1), DER contents.
constexpr std::string_view kEcPublicKeyOid("\x2a\x86\x48\xce\x3d\x02\x01", 7);
constexpr std::string_view kPrime256v1Oid("\x2a\x86\x48\xce\x3d\x03\x01\x07", 8);

constexpr std::string_view kPemBegin = "-----BEGIN PUBLIC KEY-----";
constexpr std::string_view kPemEnd = "-----END PUBLIC KEY-----";

void PutLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

bool EcdsaP256PublicBlobFromDer(std::string_view der, std::vector<uint8_t>& blob) {
    blob.clear();
    std::string_view info;
    if (!ReadDerElement(der, kSequence, info) || !der.empty()) {
        return false;
    }
    std::string_view algorithm;
    std::string_view algorithm_oid;
    std::string_view curve_oid;
    std::string_view key_bits;
    if (!ReadDerElement(info, kSequence, algorithm) || !ReadDerElement(info, kBitString, key_bits) || !info.empty()) {
        return false;
    }
    if (!ReadDerElement(algorithm, kObjectId, algorithm_oid) || !ReadDerElement(algorithm, kObjectId, curve_oid) ||
        !algorithm.empty() || algorithm_oid != kEcPublicKeyOid || curve_oid != kPrime256v1Oid) {
        return false;
    }
    // No unused bits, then the uncompressed point: 0x04, X, Y.
    if (key_bits.size() != 2 + 2 * kP256CoordinateBytes || key_bits[0] != 0 || key_bits[1] != 0x04) {
        return false;
    }
    PutLittleEndian32(blob, kEcdsaP256PublicMagic);
    PutLittleEndian32(blob, static_cast<uint32_t>(kP256CoordinateBytes));
    blob.insert(blob.end(), key_bits.begin() + 2, key_bits.end());
    return true;
}

bool EcdsaP256PublicBlobFromPem(std::string_view pem, std::vector<uint8_t>& blob) {
    blob.clear();
    const size_t begin = pem.find(kPemBegin);
    if (begin == std::string_view::npos) {
        return false;
    }
    const size_t body = begin + kPemBegin.size();
    const size_t end = pem.find(kPemEnd, body);
    if (end == std::string_view::npos) {
        return false;
    }
    std::string der;
    if (!DecodeBase64(pem.substr(body, end - body), der)) {
        return false;
    }
    return EcdsaP256PublicBlobFromDer(der, blob);
}

}  // namespace installer
