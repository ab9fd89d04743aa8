// Restricting the DLL search of the process, and the delay-load hook that loads the
// installer's non-KnownDLL imports (src/app/delayload) from the system directory only.
#include "app/dll_safety_win.h"

#include <delayimp.h>

#include <cwchar>

#include "win/system_function_win.h"

namespace installer {
namespace {

// The LOAD_LIBRARY_SEARCH_* flags came with AddDllDirectory (KB2533623); its presence is
// the documented way to tell whether LoadLibraryExW understands them.
bool HasSearchFlags() {
    using AddDllDirectoryFunction = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
    static const bool has_flags =
        win::SystemFunction<AddDllDirectoryFunction>(L"kernel32.dll", "AddDllDirectory") != nullptr;
    return has_flags;
}

bool IsBareFileName(const wchar_t* name) {
    if (name == nullptr || *name == L'\0') {
        return false;
    }
    for (const wchar_t* c = name; *c != L'\0'; ++c) {
        if (*c == L'\\' || *c == L'/' || *c == L':') {
            return false;
        }
    }
    return true;
}

// Runs inside the delay-load helper on the calling thread: no C++ exception may leave it.
FARPROC WINAPI DelayLoadNotify(unsigned notification, PDelayLoadInfo info) noexcept {
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) {
        return nullptr;  // let the helper go on as usual
    }
    // Normally wWinMain has done this already; repeating it keeps the DLL's own dependencies
    // in the system directory even for a call made before wWinMain (a static constructor).
    static const DllSearchRestriction restriction = RestrictDllSearchPath();
    static_cast<void>(restriction);
    wchar_t name[MAX_PATH] = {};
    size_t length = 0;
    bool ascii = true;
    for (const char* c = info->szDll; *c != '\0'; ++c) {
        if (length + 1 >= MAX_PATH || static_cast<unsigned char>(*c) >= 0x80) {
            ascii = false;
            break;
        }
        name[length++] = static_cast<wchar_t>(*c);
    }
    const HMODULE module = ascii ? LoadSystemLibrary(name) : nullptr;
    if (module != nullptr) {
        return reinterpret_cast<FARPROC>(module);
    }
    // Returning null would make the helper call LoadLibraryA itself, which searches the
    // executable's folder where SetDefaultDllDirectories is missing. Fail the way the
    // helper fails for a missing DLL instead (the same exception, the same argument).
    info->dwLastError = ascii ? ::GetLastError() : ERROR_INVALID_NAME;
    const ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    ::RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
    return nullptr;
}

}  // namespace

DllSearchRestriction RestrictDllSearchPath() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto set_default_directories =
        win::SystemFunction<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (set_default_directories != nullptr && set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return DllSearchRestriction::kSystemDirectoryOnly;
    }
    ::SetDllDirectoryW(L"");
    return DllSearchRestriction::kCurrentDirectoryRemoved;
}

void PreloadSystemLibraries() {
    constexpr const wchar_t* kLoadedOnOurBehalf[] = {L"msimg32.dll"};
    for (const wchar_t* name : kLoadedOnOurBehalf) {
        // The reference is kept on purpose until the process ends: the module must stay in
        // place for any later load by name to bind to it.
        static_cast<void>(LoadSystemLibrary(name));
    }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (!IsBareFileName(name)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (HasSearchFlags()) {
        return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    return LoadFromSystemDirectoryPath(name);
}

HMODULE LoadFromSystemDirectoryPath(const wchar_t* name) {
    if (!IsBareFileName(name)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    wchar_t directory[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        ::SetLastError(length == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW);
        return nullptr;
    }
    // Built in the fixed buffer: this runs inside the delay-load hook, where nothing may throw.
    const size_t name_length = std::wcslen(name);
    if (length + 1 + name_length >= MAX_PATH) {
        ::SetLastError(ERROR_BUFFER_OVERFLOW);
        return nullptr;
    }
    directory[length] = L'\\';
    std::wmemcpy(directory + length + 1, name, name_length + 1);
    // With a full path the DLL's own dependencies are then searched from its folder first.
    return ::LoadLibraryExW(directory, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace installer

// The delay-load helper (mingw-w64's __delayLoadHelper2) asks this hook before it loads a
// DLL; defining it here (declared extern "C" in <delayimp.h>) replaces the library's null default.
PfnDliHook __pfnDliNotifyHook2 = installer::DelayLoadNotify;
