// Paths relative to the running executable.
#include "win/module_path_win.h"

#include <windows.h>

namespace installer::win {

std::wstring ExecutablePath() {
    // Long paths do not fit MAX_PATH: grow the buffer until the name fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ExecutableFolder() {
    std::wstring path = ExecutablePath();
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring BesideExecutable(const std::wstring& file_name) {
    return ExecutableFolder() + L"\\" + file_name;
}

}  // namespace installer::win
