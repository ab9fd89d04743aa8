// Entry point of the installer.
#include <windows.h>

#include "app/brisvane_app_win.h"
#include "app/dll_safety_win.h"

namespace {
installer::CBrisvaneApp the_app;
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads a DLL on our behalf (the delay imports load on first call).
    installer::RestrictDllSearchPath();
    installer::PreloadSystemLibraries();
    the_app.InitInstance();
    the_app.ExitInstance();
}
