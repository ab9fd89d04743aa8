// DER ECDSA signature to r || s.
#include "config/description_signature.h"

#include "base/der_reader.h"

namespace installer {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;

// Writes the positive INTEGER contents `value` right-aligned into the 32 bytes at `out`.
bool PutScalar(std::string_view value, uint8_t* out) {
    if (value.empty() || (static_cast<uint8_t>(value[0]) & 0x80)) {
        return false;  // empty or negative
    }
    if (value.size() > 1 && value[0] == 0 && !(static_cast<uint8_t>(value[1]) & 0x80)) {
        return false;  // a zero lead byte that is not needed
    }
    if (value[0] == 0) {
        value.remove_prefix(1);
    }
    if (value.size() > 32) {
        return false;
    }
    for (size_t i = 0; i < value.size(); ++i) {
        out[32 - value.size() + i] = static_cast<uint8_t>(value[i]);
    }
    return true;
}

}  // namespace

bool EcdsaSignatureFromDer(std::string_view der, RawEcdsaP256Signature& raw) {
    raw.fill(0);
    std::string_view body;
    std::string_view r;
    std::string_view s;
    if (der.size() > kMaxSignatureBytes || !ReadDerElement(der, kSequence, body) || !der.empty() ||
        !ReadDerElement(body, kInteger, r) || !ReadDerElement(body, kInteger, s) || !body.empty() ||
        !PutScalar(r, raw.data()) || !PutScalar(s, raw.data() + 32)) {
        raw.fill(0);
        return false;
    }
    return true;
}

}  // namespace installer
