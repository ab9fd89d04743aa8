// Strict DER element reading.
#include "base/der_reader.h"

namespace installer {

bool ReadDerElement(std::string_view& input, DerElement& element) {
    if (input.size() < 2) {
        return false;
    }
    const uint8_t tag = static_cast<uint8_t>(input[0]);
    // Multi-byte tags never occur in the structures read here.
    if ((tag & 0x1F) == 0x1F) {
        return false;
    }
    size_t length = static_cast<uint8_t>(input[1]);
    size_t header = 2;
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 2 || input.size() < 2 + count) {
            return false;
        }
        length = 0;
        for (size_t i = 0; i < count; ++i) {
            length = (length << 8) | static_cast<uint8_t>(input[2 + i]);
        }
        // The long form is only for lengths the short form cannot give, without a zero lead byte.
        if (length < 0x80 || (count == 2 && length < 0x100)) {
            return false;
        }
        header += count;
    }
    if (input.size() - header < length) {
        return false;
    }
    element.tag = tag;
    element.value = input.substr(header, length);
    input.remove_prefix(header + length);
    return true;
}

bool ReadDerElement(std::string_view& input, uint8_t tag, std::string_view& value) {
    std::string_view rest = input;
    DerElement element;
    if (!ReadDerElement(rest, element) || element.tag != tag) {
        return false;
    }
    value = element.value;
    input = rest;
    return true;
}

}  // namespace installer
