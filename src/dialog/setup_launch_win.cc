// Running the setup package: hold, check again, start (or elevate), wait with progress.
#include "dialog/setup_launch_win.h"

#include <shellapi.h>

#include <optional>

#include "download/package_verify.h"
#include "win/com_ptr_win.h"
#include "win/message_filter_win.h"

namespace installer {
namespace {

// CreateProcessW's error for a program whose manifest requires elevation; MinGW's
// <winerror.h> does not name it.
constexpr DWORD kErrorElevationRequired = 740;

// Reads up to `length` bytes at `offset` of the held package: the count read (short at
// the end of the file), or -1 when the platform fails.
int64_t ReadAt(HANDLE file, int64_t offset, uint8_t* buffer, int32_t length) {
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        return -1;
    }
    DWORD n = 0;
    if (!::ReadFile(file, buffer, static_cast<DWORD>(length), &n, nullptr)) {
        return -1;
    }
    return n;
}

// Splits a command line of the form `"path" arguments` (as SetupCommandLine builds it) into
// the unquoted path and the arguments without their leading spaces. False when it does not
// start with a quoted path.
bool SplitQuotedCommand(const std::wstring& command_line, std::wstring* path, std::wstring* arguments) {
    if (command_line.size() < 2 || command_line[0] != L'"') {
        return false;
    }
    const size_t close = command_line.find(L'"', 1);
    if (close == std::wstring::npos || close == 1) {
        return false;
    }
    *path = command_line.substr(1, close - 1);
    const size_t rest = command_line.find_first_not_of(L' ', close + 1);
    *arguments = rest == std::wstring::npos ? std::wstring() : command_line.substr(rest);
    return true;
}

// Starts `command_line` hidden through the shell's "runas" verb, which shows the consent
// prompt. Returns the process handle (owned by the caller), or null with `*error` set:
// ERROR_CANCELLED when the user declines.
HANDLE StartElevated(HWND owner, const std::wstring& command_line, DWORD* error) {
    std::wstring path;
    std::wstring arguments;
    if (!SplitQuotedCommand(command_line, &path, &arguments)) {
        *error = ERROR_BAD_FORMAT;
        return nullptr;
    }
    // The shell may hand the verb to an extension: it wants COM on this thread.
    const win::ScopedComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
    info.nShow = SW_HIDE;
    const BOOL started = ::ShellExecuteExW(&info);
    *error = started ? ERROR_SUCCESS : ::GetLastError();
    if (started && info.hProcess == nullptr) {
        // Started, but through something that gives no process to wait for: the outcome
        // could not be known, so it must not be reported as a success.
        *error = ERROR_INVALID_HANDLE;
    }
    return started ? info.hProcess : nullptr;
}

// Waits for `process` while dispatching this thread's messages; the setup's exit code (or
// the system error when it cannot be read).
DWORD WaitWithProgress(HANDLE process, const SetupLaunch::ShowProgress& show_progress) {
    SetupWaitProgress progress;
    bool quit_seen = false;
    int quit_code = 0;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_seen = true;
                quit_code = static_cast<int>(msg.wParam);
                continue;
            }
            if (win::PreTranslateForControl(&msg)) {
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (::WaitForSingleObject(process, 10) != WAIT_TIMEOUT) {
            break;
        }
        if (const std::optional<int> percent = progress.OnWaitTimeout(); percent && show_progress) {
            show_progress(*percent);
        }
    }
    if (quit_seen) {
        ::PostQuitMessage(quit_code);
    }
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(process, &exit_code)) {
        exit_code = ::GetLastError();
    }
    return exit_code;
}

}  // namespace

bool SetupLaunch::Lock(const std::wstring& path) {
    lock_.Set(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    return locked();
}

SetupOutcome SetupLaunch::Run(HWND owner,
                              const std::wstring& path,
                              const std::wstring& command_line,
                              const std::vector<BlockInfo>& blocks,
                              const PackageIntegrity& integrity,
                              const ShowProgress& show_progress) {
    // Check every block again through the handle that keeps the package locked, so that
    // what runs is exactly what was verified; then the whole file, when the description
    // gives its SHA-256: blocks that each match their MD5 can still be, together, not the
    // file that was published.
    if (!lock_) {
        Lock(path);
    }
    const HANDLE file = lock_.Get();
    const ReadAtFn read_at = [file](int64_t offset, uint8_t* buffer, int32_t length) {
        return ReadAt(file, offset, buffer, length);
    };
    const bool blocks_intact = lock_ && VerifyPackageBlocks(read_at, blocks);
    const WholeFileCheck whole = blocks_intact ? CheckWholeFile(read_at, integrity) : WholeFileCheck::kMatch;
    if (!blocks_intact || !WholeFilePasses(whole)) {
        lock_.Close();
        if (PackageMustBeDiscarded(whole)) {
            // Each block still matches its MD5, so the next run would keep them all and
            // fail here again: only a new download can mend it.
            ::DeleteFileW(path.c_str());
        }
        SetupOutcome outcome;
        outcome.kind = SetupOutcome::Kind::kPackageInvalid;
        return outcome;
    }
    return Start(owner, command_line, show_progress);
}

SetupOutcome SetupLaunch::Start(HWND owner, const std::wstring& command_line, const ShowProgress& show_progress) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    std::wstring mutable_command = command_line;  // CreateProcessW may write into it
    const BOOL created = ::CreateProcessW(nullptr, mutable_command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                          &startup, &process);
    DWORD create_error = created ? ERROR_SUCCESS : ::GetLastError();
    win::ScopedKernelHandle process_handle(created ? process.hProcess : nullptr);
    win::ScopedKernelHandle thread_handle(created ? process.hThread : nullptr);
    if (!created && create_error == kErrorElevationRequired) {
        // The setup's manifest asks for administrator rights, which CreateProcessW cannot
        // give: ask the user through the shell, with the same path and arguments. The
        // package stays locked until the elevated process exists.
        process_handle.Set(StartElevated(owner, command_line, &create_error));
    }
    // The image is mapped now (or nothing started): the hold has done its work.
    lock_.Close();
    SetupOutcome outcome;
    if (!process_handle) {
        outcome.kind = SetupOutcome::Kind::kCouldNotStart;
        outcome.code = create_error;
        return outcome;
    }
    outcome.kind = SetupOutcome::Kind::kExited;
    outcome.code = WaitWithProgress(process_handle.Get(), show_progress);
    return outcome;
}

}  // namespace installer
