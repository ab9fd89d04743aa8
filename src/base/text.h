// Text helpers shared by the portable code: UTF-8 and wide-string conversion,
// number formatting and parsing with the C library's rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// Converts UTF-8 to a wide string (UTF-16 on Windows, UTF-32 elsewhere).
// Invalid sequences become U+FFFD; never fails.
std::wstring Utf8ToWide(std::string_view utf8);

// Converts a wide string to UTF-8. Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// Converts UTF-16 code units (as read from a file) to a wide string.
std::wstring Utf16ToWide(std::u16string_view utf16);

// Decimal text of a signed 64-bit number, as "%I64d" prints it.
std::wstring Int64ToWide(int64_t value);

// True when `text` contains `needle` (case-sensitive).
inline bool Contains(std::wstring_view text, std::wstring_view needle) {
    return text.find(needle) != std::wstring_view::npos;
}

// A server's base address (scheme, host, optional port) followed by the absolute `path`:
// trailing "/" of the base are dropped, so that "http://host/" and "http://host" give the
// same address. Never fails.
std::wstring JoinServerAddress(std::wstring_view base, std::wstring_view path);

}  // namespace installer
