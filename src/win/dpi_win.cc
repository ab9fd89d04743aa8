// DPI queries and per-DPI fonts, with the newer system functions looked up at run time.
#include "win/dpi_win.h"

#include <cstdlib>

#include "win/gdi_win.h"
#include "win/scoped_handle.h"
#include "win/system_function_win.h"

namespace installer::win {
namespace {

constexpr int kPointsPerInch = 72;

// SetDialogDpiChangeBehavior's flag: no resizing, no font update, no relayout.
constexpr int kDialogDpiChangeDisableAll = 1;

}  // namespace

int SystemDpi() {
    ScopedGetDc screen(nullptr);
    const int dpi = screen.Get() != nullptr ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

int WindowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto get_dpi_for_window = SystemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    if (get_dpi_for_window != nullptr && window != nullptr) {
        const UINT dpi = get_dpi_for_window(window);
        if (dpi > 0) {
            return static_cast<int>(dpi);
        }
    }
    return SystemDpi();
}

void KeepOwnLayoutOnDpiChange(HWND dialog) {
    using SetBehaviorFunction = BOOL(WINAPI*)(HWND, int, int);
    static const auto set_behavior = SystemFunction<SetBehaviorFunction>(L"user32.dll", "SetDialogDpiChangeBehavior");
    if (set_behavior != nullptr) {
        set_behavior(dialog, kDialogDpiChangeDisableAll, kDialogDpiChangeDisableAll);
    }
}

bool CaptionFontForDpi(int dpi, LOGFONTW* font) {
    using ForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto for_dpi = SystemFunction<ForDpiFunction>(L"user32.dll", "SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (for_dpi != nullptr && for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, static_cast<UINT>(dpi))) {
        *font = metrics.lfCaptionFont;
        return true;
    }
    // Older systems give the metrics for the system DPI only.
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return false;
    }
    *font = metrics.lfCaptionFont;
    font->lfHeight = ::MulDiv(font->lfHeight, dpi, SystemDpi());
    return true;
}

SIZE DialogBaseUnitsOf(HFONT font) {
    ScopedGetDc screen(nullptr);
    ScopedMemoryDc dc(::CreateCompatibleDC(screen.Get()));
    SIZE units{0, 0};
    if (!dc) {
        return units;
    }
    ScopedSelectObject select(dc.Get(), font);
    TEXTMETRICW metrics{};
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{};
    if (::GetTextMetricsW(dc.Get(), &metrics) && ::GetTextExtentPoint32W(dc.Get(), kLetters, 52, &extent)) {
        units.cx = (extent.cx / 26 + 1) / 2;
        units.cy = metrics.tmHeight;
    }
    return units;
}

HFONT FontForDpi(HFONT font, int font_dpi, int dpi) {
    LOGFONTW logfont{};
    if (font == nullptr || font_dpi < 1 || ::GetObjectW(font, sizeof(logfont), &logfont) != sizeof(logfont)) {
        return nullptr;
    }
    // Through the whole point size, so that going to one DPI and back gives the same font.
    const int height = std::abs(logfont.lfHeight);
    const int points = (height * kPointsPerInch + font_dpi / 2) / font_dpi;
    const int scaled = ::MulDiv(points, dpi, kPointsPerInch);
    logfont.lfHeight = logfont.lfHeight < 0 ? -scaled : scaled;
    logfont.lfWidth = 0;
    return ::CreateFontIndirectW(&logfont);
}

}  // namespace installer::win
