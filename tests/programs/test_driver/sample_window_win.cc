// driver_sample: a small dialog that the harness tests drive with test_driver. It has a
// Chinese static text, a button that opens a message box, a check box, an edit box, a text
// that follows the mouse and a painted marker of known colours, so that listing, pressing,
// message boxes, real mouse input and screenshots can each be checked against known answers.
//
// Command line: driver_sample [--exit-code N] [--print TEXT] [--sleep MS]
//   --print writes TEXT and a newline (UTF-8) to stdout first; --sleep waits that long;
//   --exit-code ends with N at once instead of showing the dialog.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "base/text.h"
#include "json_out.h"
#include "sample_window_ids.h"
#include "win/scoped_handle.h"

namespace installer::sample {
namespace {

// Colours the tests look for in screenshots.
constexpr COLORREF kBackground = RGB(0x30, 0x90, 0xD0);
constexpr COLORREF kMarker = RGB(0xFF, 0x00, 0x00);
constexpr RECT kMarkerRect = {0, 0, 24, 24};  // client pixels

// The font that captions (and the installer's title) are drawn in.
HFONT CreateCaptionFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return nullptr;
    }
    return ::CreateFontIndirectW(&metrics.lfCaptionFont);
}

struct SampleState {
    win::ScopedBrush background{::CreateSolidBrush(kBackground)};
    win::ScopedBrush marker{::CreateSolidBrush(kMarker)};
    win::ScopedFont caption_font{CreateCaptionFont()};
};

SampleState* g_state = nullptr;

void OnInitDialog(HWND dialog) {
    ::SetWindowTextW(dialog, L"驱动示例");
    ::SetDlgItemTextW(dialog, IDC_GREETING, L"欢迎使用安装向导");
    ::SetDlgItemTextW(dialog, IDC_SHOW_MESSAGE, L"显示消息");
    ::SetDlgItemTextW(dialog, IDC_START_AT_BOOT, L"开机启动");
    ::SetDlgItemTextW(dialog, IDC_RESULT, L"尚未显示");
    // A row of the one-stroke character: rendered glyphs are a thin line, while a font
    // without CJK glyphs draws hollow boxes as tall as the line.
    ::SetDlgItemTextW(dialog, IDC_GLYPH_PROBE, L"一一一一一一");
    // The same in the default GUI font and in the caption font.
    ::SetDlgItemTextW(dialog, IDC_GUI_FONT_PROBE, L"一一一一一一");
    ::SendDlgItemMessageW(dialog, IDC_GUI_FONT_PROBE, WM_SETFONT,
                          reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    ::SetDlgItemTextW(dialog, IDC_CAPTION_FONT_PROBE, L"一一一一一一");
    ::SendDlgItemMessageW(dialog, IDC_CAPTION_FONT_PROBE, WM_SETFONT,
                          reinterpret_cast<WPARAM>(g_state->caption_font.Get()), FALSE);
    ::SetDlgItemTextW(dialog, IDC_NAME_EDIT, L"C:\\Program Files\\示例");
}

void OnShowMessage(HWND dialog) {
    const int answer = ::MessageBoxW(dialog, L"你好，世界！", L"提示", MB_OKCANCEL | MB_ICONINFORMATION);
    wchar_t text[64];
    std::swprintf(text, 64, L"消息框返回 %d", answer);
    ::SetDlgItemTextW(dialog, IDC_RESULT, text);
}

// Where the mouse was last seen over the dialog's own surface, in client pixels.
void OnMouseMove(HWND dialog, LPARAM lparam) {
    wchar_t text[64];
    std::swprintf(text, 64, L"鼠标 %d,%d", static_cast<int>(static_cast<short>(LOWORD(lparam))),
                  static_cast<int>(static_cast<short>(HIWORD(lparam))));
    ::SetDlgItemTextW(dialog, IDC_MOUSE_AT, text);
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(dialog, &paint);
    RECT client;
    ::GetClientRect(dialog, &client);
    ::FillRect(dc, &client, g_state->background.Get());
    ::FillRect(dc, &kMarkerRect, g_state->marker.Get());
    ::EndPaint(dialog, &paint);
}

INT_PTR CALLBACK SampleProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog);
            return TRUE;
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT:
            OnPaint(dialog);
            return TRUE;
        case WM_MOUSEMOVE:
            OnMouseMove(dialog, lparam);
            return TRUE;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wparam);
            ::SetBkMode(dc, TRANSPARENT);
            ::SetTextColor(dc, RGB(0, 0, 0));
            return reinterpret_cast<INT_PTR>(g_state->background.Get());
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == IDC_SHOW_MESSAGE && HIWORD(wparam) == BN_CLICKED) {
                OnShowMessage(dialog);
                return TRUE;
            }
            if (LOWORD(wparam) == IDCANCEL) {
                ::EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            ::EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

int Run(int argc, wchar_t** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i];
        if (name == L"--print") {
            const std::string utf8 = WideToUtf8(argv[i + 1]) + "\n";
            std::fwrite(utf8.data(), 1, utf8.size(), stdout);
            std::fflush(stdout);
        } else if (name == L"--sleep") {
            ::Sleep(static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10)));
        } else if (name == L"--exit-code") {
            return static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
        }
    }
    SampleState state;
    g_state = &state;
    const INT_PTR result =
        ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SAMPLE), nullptr, SampleProc, 0);
    g_state = nullptr;
    return result < 0 ? 3 : static_cast<int>(result);
}

}  // namespace
}  // namespace installer::sample

int wmain(int argc, wchar_t** argv) {
    return installer::sample::Run(argc, argv);
}
