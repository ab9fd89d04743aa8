// The screen's scale as a program that declares itself DPI aware sees it: the DPI of a
// window's monitor where Windows tells it (10, version 1607 and later), else the system's.
#pragma once

#include <windows.h>

namespace installer::win {

// LOGPIXELSY of the screen: the system DPI (96 at 100%).
int SystemDpi();

// The DPI `window` is drawn at: its monitor's on Windows that scale per monitor, else
// the system DPI.
int WindowDpi(HWND window);

// Keeps the system from laying a dialog out again in dialog units when it moves to a
// monitor of another scale (Windows 10 1703 and later do so for per-monitor aware
// dialogs): the dialog lays itself out on WM_DPICHANGED instead. Nothing on older systems.
void KeepOwnLayoutOnDpiChange(HWND dialog);

// The caption font of the system's non-client metrics for `dpi`. False when the system
// gives no metrics.
bool CaptionFontForDpi(int dpi, LOGFONTW* font);

// The dialog base units (average character width, character height) that a dialog
// gets from `font`, measured the way the dialog manager measures them.
SIZE DialogBaseUnitsOf(HFONT font);

// `font` with the same face at the same point size for `dpi`, whose height is
// `font_dpi`-scaled today. Null on failure; the caller owns the result.
HFONT FontForDpi(HFONT font, int font_dpi, int dpi);

}  // namespace installer::win
