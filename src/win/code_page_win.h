// Text in the system's ANSI code page (or another code page) to and from UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace installer::win {

// Decodes `bytes` of code page `code_page` (CP_ACP: the system's ANSI code page).
// Bytes that do not decode become the code page's default character; empty on failure.
std::wstring FromCodePage(unsigned code_page, std::string_view bytes);

// Encodes `wide` in code page `code_page`; characters it cannot hold become its default
// character. Empty on failure.
std::string ToCodePage(unsigned code_page, std::wstring_view wide);

// The system's ANSI code page, the encoding the profile functions assume for a file
// without byte-order mark.
std::wstring AnsiToWide(std::string_view ansi);
std::string WideToAnsi(std::wstring_view wide);

}  // namespace installer::win
