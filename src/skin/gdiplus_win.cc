// GDI+ started once per process and shut down at exit.
#include "skin/gdiplus_win.h"

#include <windows.h>
// clang-format off
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <cstdlib>

namespace installer {
namespace {

// Constant-initialised, so they exist before any static constructor runs and are never
// destroyed.
bool g_started = false;
ULONG_PTR g_token = 0;

void ShutdownGdiplus() {
    if (g_token != 0) {
        Gdiplus::GdiplusShutdown(g_token);
        g_token = 0;
    }
    g_started = false;
}

}  // namespace

CGDIPlus::CGDIPlus() {
    if (g_started) {
        return;
    }
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        return;
    }
    g_started = true;
    g_token = token;
    // Registered while the first owner is being built, so it runs after that owner (and
    // every image it holds) has been destroyed.
    std::atexit(ShutdownGdiplus);
}

bool CGDIPlus::IsStarted() {
    return g_started;
}

}  // namespace installer
