// Environment settings the demo programs take from tests.
#include "demo_env_win.h"

#include <cwchar>

namespace installer::demo {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[64] = {};
    const DWORD n = ::GetEnvironmentVariableW(name, buffer, 64);
    return (n > 0 && n < 64) ? std::wstring(buffer, n) : std::wstring();
}

bool HasEnv(const wchar_t* name) {
    return ::GetEnvironmentVariableW(name, nullptr, 0) > 0;
}

DWORD MillisecondsFromEnv(const wchar_t* name, DWORD default_ms, DWORD minimum_ms) {
    const std::wstring text = Env(name);
    if (text.empty()) {
        return default_ms;
    }
    const double seconds = std::wcstod(text.c_str(), nullptr);
    if (!(seconds > 0)) {
        return minimum_ms;
    }
    return seconds > 3600 ? 3600 * 1000 : static_cast<DWORD>(seconds * 1000);
}

}  // namespace installer::demo
