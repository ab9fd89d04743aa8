// Base64 decoding (RFC 4648, standard alphabet), for the PEM text of the built-in
// publisher key.
#pragma once

#include <string>
#include <string_view>

namespace installer {

// Decodes `text`, skipping ASCII white space (PEM breaks its lines). "=" padding is
// accepted only at the end. Returns false, with `out` empty, for any other character,
// a misplaced "=" or a length that is not a whole number of groups.
bool DecodeBase64(std::string_view text, std::string& out);

}  // namespace installer
