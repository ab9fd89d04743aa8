// Start-up of the installer: identity, single instance, statistics, package
// description, the window, and the hard end of the process.
#include "app/brisvane_app_win.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <winsock2.h>

#include <string>

#include "app/config_download_win.h"
#include "app/program_objects_win.h"
#include "app/run_log_win.h"
#include "base/ini_file.h"
#include "dialog/online_install_dlg_win.h"
#include "dialog/resource.h"
#include "identity/install_report_win.h"
#include "identity/partner_identity.h"
#include "win/code_page_win.h"
#include "win/support_log_win.h"

namespace installer {
namespace {

// The first argument after the program path, or empty.
std::wstring FirstArgument() {
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::wstring argument;
    if (args != nullptr && count >= 2) {
        argument = args[1];
    }
    ::LocalFree(args);
    return argument;
}

bool InitSockets() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void ShowMessage(const wchar_t* text) {
    ::MessageBoxW(nullptr, text, L"", MB_OK);
}

// The installer's own current directory is the system folder: the folder it was started
// from (Downloads, usually) may hold anything, and nothing here looks for files by a
// relative name. Children get their own folders (the setup its package's, the program its
// installation's).
void LeaveStartFolder() {
    wchar_t system_folder[MAX_PATH] = {};
    const UINT n = ::GetSystemDirectoryW(system_folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        ::SetCurrentDirectoryW(system_folder);
    }
}

}  // namespace

bool CBrisvaneApp::InitInstance() {
    LeaveStartFolder();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    if (!InitSockets()) {
        wchar_t text[256] = {};
        ::LoadStringW(::GetModuleHandleW(nullptr), IDS_SOCKET_INIT_FAILED, text, ARRAYSIZE(text));
        ShowMessage(text);
        return false;
    }

    const std::wstring argument = FirstArgument();
    SetProcessIdentity(ParsePartnerArgument(argument));
    const bool home_mode = ProcessIdentity().home_mode;
    LogStartOfRun(argument);

    instance_mutex_.Set(::CreateMutexW(nullptr, FALSE, InstanceMutexName(home_mode)));
    if (!instance_mutex_ || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        win::LogFinal("outcome: another installer of this mode is running; this one ends");
        return false;  // another installer of this mode runs: end silently
    }

    TimerDispatcher().Start();
    SendInstallReport(1);

    // Read in one pass from the very bytes that were stored, not from the file beside the
    // executable (which could be changed meanwhile) through the profile functions (which
    // search the whole file again for every one of thousands of keys).
    std::string description_bytes;
    IniFile description;
    if (!DownloadPackageDescription(home_mode, description_bytes, description)) {
        return false;
    }
    // Behind a proxy that wants a login, the start report was refused before the user gave it.
    SendReportsHeldForProxyLogin();
    if (!HasPackageFiles(description)) {
        // An empty description follows a failure already logged with its cause.
        win::LogFinal(description_bytes.empty() ? "no package description was received"
                                                : "outcome: stopped: the package description names no setup file");
        ShowMessage(L"下载配置文件失败 ，请重试！！");
        return false;
    }

    {
        COnlineInstallDlg dialog(DownloadManager(), description, argument);
        if (dialog.Create(IDD_ONLINE_INSTALL, nullptr)) {
            ::ShowWindow(dialog.hwnd(), SW_SHOWNORMAL);
            dialog.RunModalLoop();
        }
    }
    TimerDispatcher().Stop();
    return false;
}

void CBrisvaneApp::ExitInstance() {
    // A report still on its way (the last one is sent just before the user can leave)
    // is what a partner is paid by: give it a moment before the hard end.
    SendReportsHeldForProxyLogin();
    WaitForReportsInFlight(kReportDrainMs);
    // A run that stopped before a package was chosen still leaves its log.
    const PartnerIdentity& identity = ProcessIdentity();
    win::OpenProcessLogFile(L"", identity.partner, identity.sub_partner);
    instance_mutex_.Close();
    // End hard: worker threads may still be in a transfer and must not run on.
    ::TerminateProcess(::GetCurrentProcess(), 0);
    ::ExitProcess(0);
}

}  // namespace installer
