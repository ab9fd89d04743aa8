// The demo product's Main.exe: records each start (a line with the time and its
// command line in "started.log" beside itself) and shows a small window titled
// "演示程序" that closes itself after a few seconds.
//
// Environment for tests: DEMO_MAIN_NO_WINDOW (any value) ends it right after the log
// line; DEMO_MAIN_SECONDS (default 3) is how long the window stays.
// Exit codes: 0 done, 20 log not written, 21 window not created.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr UINT_PTR kCloseTimerId = 1;
constexpr wchar_t kWindowClass[] = L"InstallerDemoMainWindow";
constexpr wchar_t kTitle[] = L"演示程序";

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[64] = {};
    const DWORD n = GetEnvironmentVariableW(name, buffer, 64);
    return (n > 0 && n < 64) ? std::wstring(buffer, n) : std::wstring();
}

bool HasEnv(const wchar_t* name) {
    return GetEnvironmentVariableW(name, nullptr, 0) > 0;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// "started.log" in the folder of this executable.
std::wstring LogPath() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return L"started.log";
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"started.log";
}

bool RecordStart() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[64];
    swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond, now.wMilliseconds);
    const std::string line = ToUtf8(stamp + std::wstring(GetCommandLineW()) + L"\r\n");
    // Appends are atomic per write, so two starts at once still give two whole lines.
    HANDLE file = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    CloseHandle(file);
    return ok;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_TIMER:
            if (wparam == kCloseTimerId) {
                KillTimer(window, kCloseTimerId);
                DestroyWindow(window);
            }
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT client;
            GetClientRect(window, &client);
            DrawTextW(dc, L"演示程序已启动", -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

UINT WindowMilliseconds() {
    const std::wstring text = Env(L"DEMO_MAIN_SECONDS");
    if (text.empty()) {
        return 3000;
    }
    const double seconds = std::wcstod(text.c_str(), nullptr);
    if (!(seconds > 0)) {
        return 1;
    }
    return seconds > 3600 ? 3600 * 1000 : static_cast<UINT>(seconds * 1000);
}

int Run(HINSTANCE instance) {
    if (!RecordStart()) {
        return 20;
    }
    if (HasEnv(L"DEMO_MAIN_NO_WINDOW")) {
        return 0;
    }
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&window_class)) {
        return 21;
    }
    HWND window = CreateWindowExW(0, kWindowClass, kTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 320, 160, nullptr, nullptr, instance, nullptr);
    if (!window) {
        return 21;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    SetTimer(window, kCloseTimerId, WindowMilliseconds(), nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return Run(instance);
}
