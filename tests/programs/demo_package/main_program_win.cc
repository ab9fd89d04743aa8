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

#include "base/text.h"
#include "demo_env_win.h"
#include "win/module_path_win.h"
#include "win/scoped_handle.h"

namespace {

constexpr UINT_PTR kCloseTimerId = 1;
constexpr wchar_t kWindowClass[] = L"InstallerDemoMainWindow";
constexpr wchar_t kTitle[] = L"演示程序";

// "started.log" in the folder of this executable.
std::wstring LogPath() {
    const std::wstring folder = installer::win::ExecutableFolder();
    return folder.empty() ? L"started.log" : folder + L"\\started.log";
}

bool RecordStart() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[64];
    swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond, now.wMilliseconds);
    const std::string line = installer::WideToUtf8(stamp + std::wstring(GetCommandLineW()) + L"\r\n");
    // Appends are atomic per write, so two starts at once still give two whole lines.
    installer::win::ScopedFileHandle file(CreateFileW(LogPath().c_str(), FILE_APPEND_DATA,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
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

int Run(HINSTANCE instance) {
    if (!RecordStart()) {
        return 20;
    }
    if (installer::demo::HasEnv(L"DEMO_MAIN_NO_WINDOW")) {
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
    SetTimer(window, kCloseTimerId, installer::demo::MillisecondsFromEnv(L"DEMO_MAIN_SECONDS", 3000, 1), nullptr);
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
