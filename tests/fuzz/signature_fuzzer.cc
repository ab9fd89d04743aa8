// Fuzzes what stands between the network and the signature check: the DER reader, base64
// and PEM, the publisher key and the signature decoding. The first byte picks the reader;
// whatever the rest is, it is refused cleanly or read into values that keep their promises.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/base64.h"
#include "base/der_reader.h"
#include "config/description_signature.h"
#include "config/publisher_key.h"
#include "fuzz_check.h"

namespace installer {
namespace {

void Der(std::string_view input) {
    std::string_view rest = input;
    size_t consumed = 0;
    DerElement element;
    while (ReadDerElement(rest, element)) {
        // The value lies inside the input, after its tag and length, and the input shrank.
        FUZZ_CHECK(element.value.data() >= input.data() + consumed + 2);
        FUZZ_CHECK(element.value.data() + element.value.size() == rest.data());
        consumed = input.size() - rest.size();
    }
    // A refused element leaves the input as it was.
    FUZZ_CHECK(rest.data() == input.data() + consumed);
}

void Signature(std::string_view der) {
    RawEcdsaP256Signature raw;
    raw.fill(0xAA);
    const bool read = EcdsaSignatureFromDer(der, raw);
    if (!read) {
        for (uint8_t b : raw) {
            FUZZ_CHECK(b == 0);
        }
        return;
    }
    FUZZ_CHECK(der.size() <= kMaxSignatureBytes);
    // r and s are positive: neither half is all zero.
    bool r_zero = true;
    bool s_zero = true;
    for (size_t i = 0; i < 32; ++i) {
        r_zero = r_zero && raw[i] == 0;
        s_zero = s_zero && raw[32 + i] == 0;
    }
    FUZZ_CHECK(!r_zero && !s_zero);
}

void Base64(std::string_view text) {
    std::string out = "kept";
    if (!DecodeBase64(text, out)) {
        FUZZ_CHECK(out.empty());
        return;
    }
    // Four characters give at most three bytes.
    FUZZ_CHECK(out.size() <= text.size() / 4 * 3);
}

void Key(std::string_view pem, bool as_der) {
    std::vector<uint8_t> blob = {1, 2, 3};
    const bool read = as_der ? EcdsaP256PublicBlobFromDer(pem, blob) : EcdsaP256PublicBlobFromPem(pem, blob);
    if (!read) {
        FUZZ_CHECK(blob.empty());
        return;
    }
    FUZZ_CHECK(blob.size() == 8 + 2 * kP256CoordinateBytes);
    const uint32_t magic = blob[0] | (blob[1] << 8) | (blob[2] << 16) | (static_cast<uint32_t>(blob[3]) << 24);
    FUZZ_CHECK(magic == kEcdsaP256PublicMagic);
    FUZZ_CHECK(blob[4] == kP256CoordinateBytes && blob[5] == 0 && blob[6] == 0 && blob[7] == 0);
}

}  // namespace
}  // namespace installer

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
        case 0:
            installer::Der(input);
            break;
        case 1:
            installer::Signature(input);
            break;
        case 2:
            installer::Base64(input);
            break;
        case 3:
            installer::Key(input, false);
            break;
        case 4:
            installer::Key(input, true);
            break;
    }
    return 0;
}
