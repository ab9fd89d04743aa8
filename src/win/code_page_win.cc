// Code-page conversion through MultiByteToWideChar / WideCharToMultiByte.
#include "win/code_page_win.h"

#include <windows.h>

namespace installer::win {

std::wstring FromCodePage(unsigned code_page, std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(code_page, 0, bytes.data(), size, wide.data(), length);
    return wide;
}

std::string ToCodePage(unsigned code_page, std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int length = static_cast<int>(wide.size());
    const int size = ::WideCharToMultiByte(code_page, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(code_page, 0, wide.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring AnsiToWide(std::string_view ansi) {
    return FromCodePage(CP_ACP, ansi);
}

std::string WideToAnsi(std::wstring_view wide) {
    return ToCodePage(CP_ACP, wide);
}

}  // namespace installer::win
