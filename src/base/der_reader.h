// A reader of DER (ASN.1 distinguished encoding) elements, for the publisher's public
// key and the ECDSA signature over the package description. Strict: only definite,
// minimally encoded lengths, so one value has one encoding.
#pragma once

#include <cstdint>
#include <string_view>

namespace installer {

struct DerElement {
    uint8_t tag = 0;
    std::string_view value;  // the contents, a view into the input
};

// Reads the element at the front of `input` and removes it from `input`. Returns false,
// with `input` unchanged, when the input is too short for the element, or the length is
// indefinite, longer than 2 length bytes or not minimally encoded.
bool ReadDerElement(std::string_view& input, DerElement& element);

// Reads the element at the front of `input` and requires its tag to be `tag`.
bool ReadDerElement(std::string_view& input, uint8_t tag, std::string_view& value);

}  // namespace installer
