// The support log's file and the machine facts it starts with.
#include "win/support_log_win.h"

#include <windows.h>
#include <wininet.h>

#include <mutex>
#include <vector>

#include "base/text.h"
#include "win/scoped_handle.h"
#include "win/system_function_win.h"

namespace installer::win {
namespace {

// Appends to the log file; the handle is closed with the process.
class FileSink : public ILogSink {
  public:
    explicit FileSink(HANDLE file) : file_(file) {}
    bool Append(std::string_view bytes) override {
        DWORD written = 0;
        return ::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

  private:
    ScopedFileHandle file_;
};

struct LogState {
    SupportLog log;
    ULONGLONG start_ticks = ::GetTickCount64();
    SYSTEMTIME start_time{};
    std::mutex mutex;
    bool opened = false;
    std::wstring path;
    LogState() { ::GetSystemTime(&start_time); }
};

LogState& State() {
    static LogState state;
    return state;
}

std::wstring TempFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    return std::wstring(path, length);
}

std::vector<std::wstring> FilesStartingWith(const std::wstring& folder, const std::wstring& prefix) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = folder + prefix + L"*.log";
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.emplace_back(found.cFileName);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

}  // namespace

SupportLog& ProcessLog() {
    return State().log;
}

int64_t ProcessElapsedMs() {
    return static_cast<int64_t>(::GetTickCount64() - State().start_ticks);
}

void LogEvent(std::string_view text) {
    State().log.Event(ProcessElapsedMs(), text);
}

void LogFinal(std::string_view text) {
    State().log.Final(ProcessElapsedMs(), text);
}

bool OpenProcessLogFile(std::wstring_view sub_dir, int32_t partner, int64_t sub_partner) {
    LogState& state = State();
    try {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.opened) {
            return !state.path.empty();
        }
        state.opened = true;
        const std::wstring folder = TempFolder();
        if (folder.empty()) {
            state.log.AttachSink(nullptr);
            return false;
        }
        const SYSTEMTIME& t = state.start_time;
        const LogStartTime start{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
        const std::wstring prefix = SupportLogPrefix(sub_dir);
        for (const std::wstring& old : SupportLogsToDelete(FilesStartingWith(folder, prefix), prefix)) {
            ::DeleteFileW((folder + old).c_str());
        }
        const std::wstring path = folder + SupportLogFileName(sub_dir, partner, sub_partner, start);
        // Others may read the log while the run goes on (a support person, the tests).
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            state.log.AttachSink(nullptr);
            return false;
        }
        state.log.AttachSink(std::make_unique<FileSink>(file));
        state.path = path;
        return state.log.has_sink();
    } catch (...) {
        return false;
    }
}

std::wstring ProcessLogPath() {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.path;
}

std::string WindowsVersionText() {
    // GetVersionEx lies to programs without a compatibility manifest entry; the kernel's
    // own call does not.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const auto get_version = SystemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
    if (get_version == nullptr || get_version(&version) != 0) {
        return "Windows (version unknown)";
    }
    SYSTEM_INFO system{};
    ::GetNativeSystemInfo(&system);
    const char* machine = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? "x64"
                          : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? "x86"
                                                                                          : "other";
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    return "Windows " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
           std::to_string(version.dwBuildNumber) + " (" + machine + (wow64 ? ", 32-bit program" : "") + ")";
}

std::string ProxySettingText() {
    DWORD size = 0;
    ::InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size == 0) {
        return "unknown";
    }
    std::vector<unsigned char> buffer(size);
    if (!::InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &size)) {
        return "unknown";
    }
    const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
    if (info->dwAccessType != INTERNET_OPEN_TYPE_PROXY || info->lpszProxy == nullptr) {
        return "direct";
    }
    // Asked through the narrow function, so the structure's strings are narrow.
    const std::string proxy = ProxyForLog(reinterpret_cast<const char*>(info->lpszProxy));
    return proxy.empty() ? std::string("direct") : proxy;
}

}  // namespace installer::win
