// Entry point of the installer.
#include <windows.h>

#include "app/brisvane_app_win.h"

namespace {
installer::CBrisvaneApp the_app;
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    the_app.InitInstance();
    the_app.ExitInstance();
}
