// minimal_window: the least a Win32 program does to put a painted window on the screen (a
// class, a window of the installer's size filled with one colour, a message loop). The
// start-up benchmark times the installer against it on the same machine in the same run.
#include <windows.h>

namespace {

// The colour the benchmark waits for: RGB(0, 120, 215).
constexpr COLORREF kFill = RGB(0, 120, 215);

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            HBRUSH brush = ::CreateSolidBrush(kFill);
            ::FillRect(dc, &paint.rcPaint, brush);
            ::DeleteObject(brush);
            ::EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = L"MinimalWindow";
    if (::RegisterClassW(&window_class) == 0) {
        return 1;
    }
    HWND window = ::CreateWindowExW(0, L"MinimalWindow", L"minimal", WS_POPUP, 100, 100, 500, 333, nullptr, nullptr,
                                    instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    ::ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
    ::UpdateWindow(window);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
