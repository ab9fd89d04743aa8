// Loads a DLL by its bare name the way a program would, and prints where it came from.
//   canary_probe plain <name>       LoadLibraryW(name) with the default search order
//   canary_probe restricted <name>  RestrictDllSearchPath() first, then LoadLibraryW(name)
//   canary_probe system <name>      LoadSystemLibrary(name), what the delay-load hook uses
//   canary_probe full-path <name>   LoadFromSystemDirectoryPath(name), its fallback on old systems
// Prints the loaded module's path (or "not loaded <error>"); exit code 0 when loaded, 1 when
// not, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "app/dll_safety_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: canary_probe plain|restricted|system|full-path <dll name>\n");
        return 2;
    }
    const wchar_t* mode = argv[1];
    const wchar_t* name = argv[2];
    HMODULE module = nullptr;
    if (std::wcscmp(mode, L"plain") == 0) {
        module = ::LoadLibraryW(name);
    } else if (std::wcscmp(mode, L"restricted") == 0) {
        const installer::DllSearchRestriction restriction = installer::RestrictDllSearchPath();
        std::wprintf(L"restriction %ls\n", restriction == installer::DllSearchRestriction::kSystemDirectoryOnly
                                               ? L"system-directory-only"
                                               : L"current-directory-removed");
        module = ::LoadLibraryW(name);
    } else if (std::wcscmp(mode, L"system") == 0) {
        module = installer::LoadSystemLibrary(name);
    } else if (std::wcscmp(mode, L"full-path") == 0) {
        module = installer::LoadFromSystemDirectoryPath(name);
    } else {
        std::fwprintf(stderr, L"unknown mode %ls\n", mode);
        return 2;
    }
    if (module == nullptr) {
        std::wprintf(L"not loaded %lu\n", ::GetLastError());
        return 1;
    }
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    std::wprintf(L"loaded %ls\n", path);
    std::fflush(stdout);
    ::FreeLibrary(module);
    return 0;
}
