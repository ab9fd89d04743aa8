// A small setup program of our own for demonstrations and tests: installs the demo
// Main.exe (carried as a resource) into the directory given with /D=, logs what it
// was asked to do, and takes a few seconds like a real setup.
//
// Environment for tests: DEMO_SETUP_SECONDS (default 3, fractions allowed) is how long
// it works; DEMO_SETUP_EXIT_CODE makes it exit with that code after doing its work.
// Exit codes of its own: 0 done, 10 no /D= directory, 11 directory not created,
// 12 Main.exe resource missing, 13 Main.exe not written, 14 log not written.
#include <windows.h>

#include <shlobj.h>

#include <cwchar>
#include <string>

#include "base/text.h"
#include "demo_env_win.h"
#include "demo_resources.h"
#include "setup_command_line.h"
#include "win/scoped_handle.h"

namespace {

namespace demo = installer::demo;

enum ExitCode : int {
    kDone = 0,
    kNoDirectory = 10,
    kDirectoryNotCreated = 11,
    kResourceMissing = 12,
    kProgramNotWritten = 13,
    kLogNotWritten = 14,
};

// Writes `bytes` to `path` through a temporary file and a rename, so that a failure
// never leaves a half-written file under the final name.
bool WriteWholeFile(const std::wstring& path, const void* bytes, DWORD size) {
    const std::wstring temp = path + L".part";
    {
        installer::win::ScopedFileHandle file(
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.Get(), bytes, size, &written, nullptr) || written != size) {
            file.Close();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

bool AppendLog(const std::wstring& dir, const std::wstring& line) {
    const std::wstring path = dir + L"\\install.log";
    installer::win::ScopedFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    const std::string bytes = installer::WideToUtf8(line + L"\r\n");
    DWORD written = 0;
    return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Creates `dir` and its parents. An existing directory is fine.
bool CreateDirectoryTree(const std::wstring& dir) {
    const int result = SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
    if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS) {
        const DWORD attributes = GetFileAttributesW(dir.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    return false;
}

void Tell(bool silent, const wchar_t* text) {
    if (!silent) {
        MessageBoxW(nullptr, text, L"演示安装程序", MB_OK);
    }
}

int Run() {
    const std::wstring command_line = GetCommandLineW();
    const installer::demo::SetupSwitches switches = installer::demo::ParseSetupCommandLine(command_line);
    if (!switches.install_dir) {
        Tell(switches.silent, L"没有指定安装目录（/D=）。");
        return kNoDirectory;
    }
    const std::wstring& dir = *switches.install_dir;
    if (!CreateDirectoryTree(dir)) {
        Tell(switches.silent, L"无法创建安装目录。");
        return kDirectoryNotCreated;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[64];
    swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond);
    if (!AppendLog(dir, std::wstring(L"started ") + stamp) || !AppendLog(dir, L"command_line=" + command_line) ||
        !AppendLog(dir, std::wstring(L"silent=") + (switches.silent ? L"1" : L"0")) ||
        !AppendLog(dir, std::wstring(L"run=") + (switches.run ? L"1" : L"0")) || !AppendLog(dir, L"dir=" + dir)) {
        return kLogNotWritten;
    }

    Sleep(demo::MillisecondsFromEnv(L"DEMO_SETUP_SECONDS", 3000, 0));

    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_DEMO_MAIN_EXE), RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = resource ? SizeofResource(nullptr, resource) : 0;
    if (!bytes || size == 0) {
        AppendLog(dir, L"error=Main.exe resource missing");
        return kResourceMissing;
    }
    if (!WriteWholeFile(dir + L"\\Main.exe", bytes, size)) {
        AppendLog(dir, L"error=Main.exe not written");
        Tell(switches.silent, L"无法写入 Main.exe。");
        return kProgramNotWritten;
    }

    const std::wstring forced = demo::Env(L"DEMO_SETUP_EXIT_CODE");
    const int exit_code = forced.empty() ? kDone : static_cast<int>(std::wcstol(forced.c_str(), nullptr, 10));
    AppendLog(dir, L"exit_code=" + std::to_wstring(exit_code));
    Tell(switches.silent, L"演示程序已安装。");
    return exit_code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return Run();
}
