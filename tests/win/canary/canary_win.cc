// A DLL that only tells on itself: when a process loads it, it appends its own path and the
// process's path to the file named by the CANARY_MARKER environment variable. Copied under
// the names of the installer's imports, it shows whether a planted DLL would be loaded.
#include <windows.h>

#include <string>

namespace {

void AppendUtf8(std::string* out, const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(size - 1));
    *out += bytes;
}

// Kernel32 only, as DllMain allows; one write call per line so that lines never interleave.
void Tell(HINSTANCE self) {
    wchar_t marker[MAX_PATH] = {};
    const DWORD marker_length = ::GetEnvironmentVariableW(L"CANARY_MARKER", marker, MAX_PATH);
    if (marker_length == 0 || marker_length >= MAX_PATH) {
        return;
    }
    wchar_t module[MAX_PATH] = {};
    wchar_t process[MAX_PATH] = {};
    ::GetModuleFileNameW(self, module, MAX_PATH);
    ::GetModuleFileNameW(nullptr, process, MAX_PATH);
    std::string line;
    AppendUtf8(&line, module);
    line += '\t';
    AppendUtf8(&line, process);
    line += '\n';
    const HANDLE file = ::CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        try {
            Tell(instance);
        } catch (...) {
            // A canary that cannot write still loads; the test then sees no marker and the
            // control case fails, which is the honest outcome.
        }
    }
    return TRUE;
}
