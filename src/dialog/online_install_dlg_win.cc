// The installer window: initialisation, painting, commands, the hand-over of download
// events to the window thread, and the setup run.
#include "dialog/online_install_dlg_win.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "build_settings.h"
#include "identity/partner_identity.h"
#include "dialog/licence_address.h"
#include "dialog/resource.h"
#include "dialog/package_naming.h"
#include "download/package_integrity.h"
#include "download/package_verify.h"
#include "identity/install_report_win.h"
#include "skin/background_win.h"
#include "skin/mem_dc_win.h"
#include "skin/skin_manager_win.h"
#include "skin/skin_scale.h"
#include "win/dpi_win.h"
#include "win/gdi_win.h"
#include "win/message_filter_win.h"
#include "win/private_folder_win.h"
#include "win/subclassed_control_win.h"

namespace installer {
namespace {

// Download events handed from worker threads to the window thread.
constexpr UINT kMsgDownloadComplete = WM_APP + 1;
constexpr UINT kMsgDownloadProgress = WM_APP + 2;  // WPARAM: percent
constexpr UINT kMsgDownloadFailed = WM_APP + 3;    // WPARAM: DownloadFailure

constexpr int kHitTestBand = 10;  // the window drags by its top band, down to 10 px (at 96 DPI) below 1023
constexpr int kLogoLeft = 6;      // where the logo goes, at 96 DPI
constexpr int kLogoTop = 3;

const wchar_t kBrowseTitle[] = L"   选择程序安装目录  ";

std::wstring SpecialFolder(int csidl, bool create) {
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, create ? TRUE : FALSE)) {
        return {};
    }
    return path;
}

// The folder the package is stored in and started from: the installer's own folder in the
// user's local application data, which only the user, administrators and SYSTEM may write
// (another local user must not be able to put a DLL beside a setup that may run as
// administrator). Empty when it cannot be made so: then nothing is downloaded.
std::wstring PrivatePackageFolder() {
    const std::wstring data = win::InstallerDataFolder(kProductName);
    DWORD error = 0;
    if (data.empty() || !win::EnsurePrivateFolder(data, &error) ||
        !win::EnsurePrivateFolder(data + L"\\Packages", &error)) {
        return {};
    }
    return data + L"\\Packages";
}

// A package file at `path` that the user does not own (planted there beforehand) is
// deleted, never resumed and run. False when such a file cannot be deleted.
bool DisownForeignPackage(const std::wstring& path) {
    switch (win::OwnerOf(path)) {
        case win::Ownership::kMissing:
        case win::Ownership::kCurrentUser:
            return true;
        case win::Ownership::kOther:
        case win::Ownership::kUnknown:
            break;
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileW(path.c_str()) != FALSE;
}

bool IsChecked(HWND check_box) {
    return ::SendMessageW(check_box, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

// What the user is told for each of the engine's reasons.
DownloadFailureCause FailureCause(DownloadFailure reason) {
    switch (reason) {
        case DownloadFailure::kWriteFailed:
            return DownloadFailureCause::kCannotWrite;
        case DownloadFailure::kInvalidBlockTable:
        case DownloadFailure::kBlockFailsItsCheck:
        case DownloadFailure::kPackageSizeMismatch:
            return DownloadFailureCause::kDamaged;
        case DownloadFailure::kCertificateInvalid:
            return DownloadFailureCause::kCertificate;
        case DownloadFailure::kServerRefused:
            return DownloadFailureCause::kServerRefused;
        case DownloadFailure::kProxyLoginRequired:
            return DownloadFailureCause::kProxyLogin;
        default:
            return DownloadFailureCause::kNetwork;
    }
}

int64_t PackageBytes(const std::vector<BlockInfo>& blocks) {
    int64_t total = 0;
    for (const BlockInfo& block : blocks) {
        total += std::max(block.size, 0);
    }
    return total;
}

DialogBaseUnits BaseUnitsOf(HWND dialog) {
    RECT units{0, 0, 4, 8};
    if (!::MapDialogRect(dialog, &units)) {
        return {};
    }
    return {units.right, units.bottom};
}

RECT ChildRectInParent(HWND parent, HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Reads up to `length` bytes at `offset` of the locked package: the count read (short
// at the end of the file), or -1 when the platform fails.
int64_t ReadAt(HANDLE file, int64_t offset, uint8_t* buffer, int32_t length) {
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        return -1;
    }
    DWORD n = 0;
    if (!::ReadFile(file, buffer, static_cast<DWORD>(length), &n, nullptr)) {
        return -1;
    }
    return n;
}

// CreateProcessW's error for a program whose manifest requires elevation; MinGW's
// <winerror.h> does not name it.
constexpr DWORD kErrorElevationRequired = 740;

// Splits a command line of the form `"path" arguments` (as SetupCommandLine builds it) into
// the unquoted path and the arguments without their leading spaces. False when it does not
// start with a quoted path.
bool SplitQuotedCommand(const std::wstring& command_line, std::wstring* path, std::wstring* arguments) {
    if (command_line.size() < 2 || command_line[0] != L'"') {
        return false;
    }
    const size_t close = command_line.find(L'"', 1);
    if (close == std::wstring::npos || close == 1) {
        return false;
    }
    *path = command_line.substr(1, close - 1);
    const size_t rest = command_line.find_first_not_of(L' ', close + 1);
    *arguments = rest == std::wstring::npos ? std::wstring() : command_line.substr(rest);
    return true;
}

// The folder part of `path` (without the last backslash); empty when it has none. A
// program started by the installer runs in its own folder: a program it starts by a bare
// name, or a DLL it may load, is then not looked for where the installer was started.
std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return {};
    }
    // "C:\" keeps its backslash: "C:" alone names the drive's current folder.
    return path.substr(0, slash == 2 && path[1] == L':' ? slash + 1 : slash);
}

// Starts `command_line` hidden through the shell's "runas" verb, which shows the consent
// prompt. Returns the process handle (owned by the caller), or null with `*error` set:
// ERROR_CANCELLED when the user declines.
HANDLE StartElevated(HWND owner, const std::wstring& command_line, DWORD* error) {
    std::wstring path;
    std::wstring arguments;
    if (!SplitQuotedCommand(command_line, &path, &arguments)) {
        *error = ERROR_BAD_FORMAT;
        return nullptr;
    }
    // The shell may hand the verb to an extension: it wants COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = path.c_str();
    info.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
    const std::wstring folder = FolderOf(path);
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_HIDE;
    const BOOL started = ::ShellExecuteExW(&info);
    *error = started ? ERROR_SUCCESS : ::GetLastError();
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    if (started && info.hProcess == nullptr) {
        // Started, but through something that gives no process to wait for: the outcome
        // could not be known, so it must not be reported as a success.
        *error = ERROR_INVALID_HANDLE;
    }
    return started ? info.hProcess : nullptr;
}

}  // namespace

COnlineInstallDlg::COnlineInstallDlg(CBlockDownloadMgr& manager,
                                     const IProfileReader& description,
                                     std::wstring argument)
    : manager_(manager), description_(description), argument_(std::move(argument)) {
    m_hIcon = static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_INSTALLER), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    // The only seeding in the program; the description request drew its number before.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    manager_.SetSink(this);
}

COnlineInstallDlg::~COnlineInstallDlg() {
    manager_.ClearSink();
}

// --- Callbacks from worker threads: only post, never touch the window. ---

void COnlineInstallDlg::OnDownloadComplete() {
    ::PostMessageW(hwnd(), kMsgDownloadComplete, 0, 0);
}

void COnlineInstallDlg::OnDownloadProgress(int percent) {
    ::PostMessageW(hwnd(), kMsgDownloadProgress, static_cast<WPARAM>(percent), 0);
}

void COnlineInstallDlg::OnAllBlocksDone(CBlockDownloadMgr*) {
    OnDownloadComplete();
}

void COnlineInstallDlg::OnBlockError(CBlockDownloadMgr*, CBlockDownloadThread*, int) {
    // A failed attempt is retried by the manager; only its final failure matters here.
}

void COnlineInstallDlg::OnBlockProgress(CBlockDownloadMgr*, int percent) {
    OnDownloadProgress(percent);
}

void COnlineInstallDlg::OnDownloadFailed(CBlockDownloadMgr*, DownloadFailure reason) {
    ::PostMessageW(hwnd(), kMsgDownloadFailed, static_cast<WPARAM>(reason), 0);
}

// --- Initialisation ---

bool COnlineInstallDlg::OnInitDialog() {
    CaptureBaseLayout();
    win::KeepOwnLayoutOnDpiChange(hwnd());
    BindControls();
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    package_ = ReadPackageDescription(description_, [] { return std::rand(); });

    ::SetWindowTextW(hwnd(), package_.title.c_str());
    ::SetWindowTextW(m_licenceLink.hwnd(), (package_.title + L"服务条款").c_str());

    HWND picture = Item(IDC_PICTURE);
    ::SetWindowLongPtrW(picture, GWL_STYLE, ::GetWindowLongPtrW(picture, GWL_STYLE) | SS_BITMAP | SS_CENTERIMAGE);
    ::SendDlgItemMessageW(hwnd(), IDC_PROGRESS, PBM_SETRANGE32, 0, 100);
    ::SendDlgItemMessageW(hwnd(), IDC_PROGRESS, PBM_SETPOS, 0, 0);

    InstallFlowSettings settings;
    settings.install_dir = SpecialFolder(CSIDL_PROGRAM_FILES, false) + L"\\" + package_.sub_dir;
    settings.sub_dir = package_.sub_dir;
    settings.package_bytes = PackageBytes(package_.blocks);
    const std::wstring package_folder = PrivatePackageFolder();
    settings.package_path =
        package_folder.empty() ? std::wstring() : PackagePath(package_folder, package_.sub_dir, argument_);
    flow_ = std::make_unique<InstallFlow>(settings);
    ::SetDlgItemTextW(hwnd(), IDC_INSTALL_DIR, flow_->install_dir().c_str());

    m_runCheck.SetCheck(BST_CHECKED);
    m_acceptCheck.SetCheck(BST_CHECKED);
    m_bootCheck.SetCheck(BST_CHECKED);
    ::ShowWindow(m_customLink.hwnd(), SW_HIDE);

    ApplyDpi(win::WindowDpi(hwnd()), nullptr);
    ::SetTimer(hwnd(), kStartDownloadTimerId, kFirstTimerDelayMs, nullptr);
    return true;
}

void COnlineInstallDlg::CaptureBaseLayout() {
    template_font_ = reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0));
    template_font_dpi_ = win::WindowDpi(hwnd());
    const DialogBaseUnits created = BaseUnitsOf(hwnd());
    DialogBaseUnits base;
    if (win::ScopedFont font_at_96(win::FontForDpi(template_font_, template_font_dpi_, kBaseDpi)); font_at_96) {
        const SIZE units = win::DialogBaseUnitsOf(font_at_96.Get());
        base = {units.cx, units.cy};
    }
    auto at_base_dpi = [&](const SkinRect& r) {
        if (base.x > 0 && created.x > 0) {
            return RemapDialogRect(r, created, base);
        }
        // Without font measures: the created layout shrunk in proportion.
        return SkinRect{RoundedMulDiv(r.left, kBaseDpi, template_font_dpi_),
                        RoundedMulDiv(r.top, kBaseDpi, template_font_dpi_),
                        RoundedMulDiv(r.right, kBaseDpi, template_font_dpi_),
                        RoundedMulDiv(r.bottom, kBaseDpi, template_font_dpi_)};
    };
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    const SkinRect window = at_base_dpi(ToSkinRect(client));
    base_window_size_ = {window.width(), window.height()};
    base_layout_.clear();
    for (HWND child = ::GetWindow(hwnd(), GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        base_layout_.emplace_back(child, at_base_dpi(ToSkinRect(ChildRectInParent(hwnd(), child))));
    }
}

void COnlineInstallDlg::ApplyDpi(int dpi, const POINT* position) {
    dpi_ = dpi;
    // The font the children have now is deleted only once they all have the new one.
    const win::ScopedFont previous_font(scaled_font_.Take());
    HFONT font = template_font_;
    if (dpi != template_font_dpi_) {
        scaled_font_.Set(win::FontForDpi(template_font_, template_font_dpi_, dpi));
        if (scaled_font_) {
            font = scaled_font_.Get();
        }
    }
    // The border is painted, so the window is as large as its client area plus whatever
    // frame the system adds.
    RECT window{};
    RECT client{};
    ::GetWindowRect(hwnd(), &window);
    ::GetClientRect(hwnd(), &client);
    const SkinSize size = ScaleForDpi(base_window_size_, dpi);
    const int width = size.width + (window.right - window.left) - client.right;
    const int height = size.height + (window.bottom - window.top) - client.bottom;
    const POINT at = position != nullptr ? *position : POINT{window.left, window.top};
    ::SetWindowPos(hwnd(), nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    for (const auto& [child, base] : base_layout_) {
        const SkinRect r = ScaleForDpi(base, dpi);
        ::SetWindowPos(child, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
        if (font != nullptr) {
            ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
    }
    for (CLrButton* button : {&m_browseButton, &m_installButton, &m_startButton, &m_closeButton, &m_minButton}) {
        button->SetDpi(dpi);
    }
    for (CLrCheckBox* check_box : {&m_bootCheck, &m_runCheck, &m_acceptCheck}) {
        check_box->SetDpi(dpi);
    }
    SkinButtons();
    ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void COnlineInstallDlg::BindControls() {
    m_progressText.Attach(Item(IDC_PROGRESS_TEXT));
    m_label1004.Attach(Item(IDC_STATIC_1004));
    m_browseButton.Attach(Item(IDC_BROWSE));
    m_installButton.Attach(Item(IDC_INSTALL_NOW));
    m_startButton.Attach(Item(IDC_START_NOW));
    m_bootCheck.Attach(Item(IDC_START_AT_BOOT));
    m_runCheck.Attach(Item(IDC_RUN_NOW));
    m_acceptCheck.Attach(Item(IDC_ACCEPT_LICENCE));
    m_closeButton.Attach(Item(IDC_CLOSE));
    m_minButton.Attach(Item(IDC_MINIMIZE));
    m_licenceLink.Attach(Item(IDC_LICENCE_LINK));
    m_customLink.Attach(Item(IDC_CUSTOM_LINK));
    m_progressLabel.Attach(Item(IDC_PROGRESS_CAPTION));
}

void COnlineInstallDlg::SkinButtons() {
    struct Row {
        CLrButton* button;
        const wchar_t* image;
        const wchar_t* tooltip;
    };
    const Row rows[] = {
        {&m_installButton, L"btn_install.png", L"立即安装"},
        {&m_startButton, L"btn_run.png", L"立即启动"},
        {&m_minButton, L"dlg_min.png", nullptr},
        {&m_closeButton, L"dlg_close.png", nullptr},
    };
    for (const Row& row : rows) {
        CSkinImage* image = TheSkinManager().GetImage(row.image);
        if (image == nullptr) {
            continue;  // a missing image leaves the button as the template made it
        }
        const SkinSize frame = image->ScaledFrameSize(dpi_, true);
        ::SetWindowTextW(row.button->hwnd(), L"");
        if (row.tooltip != nullptr) {
            row.button->SetToolTipText(row.tooltip);
        }
        row.button->SetImage(row.image);
        // Without SWP_NOZORDER the button also rises to the top of the Z order (and so
        // comes first in the Tab order), in the order of the rows.
        ::SetWindowPos(row.button->hwnd(), nullptr, 0, 0, frame.width, frame.height, SWP_NOMOVE | SWP_NOOWNERZORDER);
    }
}

// --- Messages ---

std::optional<LRESULT> COnlineInstallDlg::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT reflected = 0;
    switch (message) {
        case WM_USER:  // also the dialog manager's default-button query: no default button
            return 0;
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFF0) == SC_MINIMIZE) {
                ::ShowWindow(hwnd(), SW_HIDE);
                return 0;
            }
            return std::nullopt;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(m_hIcon);
        case WM_TIMER:
            OnTimer(wparam);
            return std::nullopt;  // the default handling sees every timer too
        case WM_COMMAND:
            OnCommand(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case WM_NCHITTEST:
            return OnNcHitTest(lparam);
        case WM_ERASEBKGND:
            return TRUE;  // painting covers the whole client area
        case WM_DPICHANGED: {
            // Moved to a monitor of another scale. The system suggests where the window
            // goes; a message without a suggestion keeps the window's corner.
            const auto* suggested = reinterpret_cast<const RECT*>(lparam);
            const POINT corner = suggested != nullptr ? POINT{suggested->left, suggested->top} : POINT{};
            ApplyDpi(LOWORD(wparam), suggested != nullptr ? &corner : nullptr);
            return 0;
        }
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lparam) == Item(IDC_PICTURE)) {
                // The picture area only marks where the dialog paints the slides.
                ::SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
                return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
            }
            [[fallthrough]];
        case WM_CTLCOLORBTN:
        case WM_DRAWITEM:
            if (win::ReflectToControl(message, wparam, lparam, &reflected)) {
                return reflected;
            }
            return std::nullopt;
        case kMsgDownloadComplete:
            // The package is ready; the timer's handler marks it on this thread.
            ::SetTimer(hwnd(), kDownloadCompleteTimerId, kFirstTimerDelayMs, nullptr);
            return 0;
        case kMsgDownloadProgress:
            Apply(flow_->OnDownloadProgress(static_cast<int>(wparam)));
            return 0;
        case kMsgDownloadFailed:
            Apply(flow_->OnDownloadFailed(FailureCause(static_cast<DownloadFailure>(wparam))));
            return 0;
        default:
            return DialogWindow::HandleMessage(message, wparam, lparam);
    }
}

LRESULT COnlineInstallDlg::OnNcHitTest(LPARAM lparam) {
    RECT band{};
    ::GetWindowRect(Item(IDC_TITLE_BAR), &band);
    const int y = static_cast<short>(HIWORD(lparam));  // screen coordinates, signed
    if (y < band.bottom + ScaleForDpi(kHitTestBand, dpi_)) {
        return HTCAPTION;
    }
    return ::DefWindowProcW(hwnd(), WM_NCHITTEST, 0, lparam);
}

void COnlineInstallDlg::OnTimer(UINT_PTR id) {
    switch (id) {
        case kStartDownloadTimerId:
            ::KillTimer(hwnd(), kStartDownloadTimerId);
            StartDownload();
            break;
        case kSlideTimerId:
            Apply(flow_->OnSlideTimer());
            break;
        case kDownloadCompleteTimerId: {
            ::KillTimer(hwnd(), kDownloadCompleteTimerId);
            // Hold the finished package so that it cannot be replaced before it runs.
            package_lock_.Set(::CreateFileW(flow_->package_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            Apply(flow_->OnDownloadComplete());
            break;
        }
        default:
            break;
    }
}

void COnlineInstallDlg::StartDownload() {
    const std::wstring& path = flow_->package_path();
    if (path.empty() || !DisownForeignPackage(path)) {
        Apply(flow_->OnDownloadFailed(DownloadFailureCause::kCannotWrite));
        return;
    }
    // An old package is not deleted: the manager keeps the blocks of it that match this
    // description (a download cut short earlier) and fetches the rest. A read-only one is
    // made writable for that.
    if (::PathFileExistsW(path.c_str())) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    // A task that can never succeed raises its final failure from Start; a package
    // file that cannot be created (a locked old package, a full disk) is told here.
    if (!manager_.Start(package_.mirrors, package_.blocks, path)) {
        Apply(flow_->OnDownloadFailed(DownloadFailureCause::kCannotWrite));
    }
}

void COnlineInstallDlg::OnCommand(int id, int code) {
    static_assert(BN_CLICKED == 0 && STN_CLICKED == 0);
    // Only a click acts (BN_CLICKED and STN_CLICKED are both 0): a double-click, focus
    // or other notification from the same control must not run its command again.
    if (code != BN_CLICKED) {
        return;
    }
    switch (id) {
        case IDC_INSTALL_NOW:
            Apply(flow_->OnInstallPressed());
            break;
        case IDC_BROWSE:
            OnBrowse();
            break;
        case IDC_ACCEPT_LICENCE:
            Apply(flow_->OnLicenceToggled(IsChecked(m_acceptCheck.hwnd())));
            break;
        case IDC_RUN_NOW:
            Apply(flow_->OnRunNowToggled(IsChecked(m_runCheck.hwnd())));
            break;
        case IDC_START_AT_BOOT:
            Apply(flow_->OnStartAtBootToggled(IsChecked(m_bootCheck.hwnd())));
            break;
        case IDC_CLOSE:
            Apply(flow_->OnClosePressed());
            break;
        case IDC_MINIMIZE:
            ::ShowWindow(hwnd(), SW_MINIMIZE);
            break;
        case IDC_LICENCE_LINK:
            // Only a web address: the description comes over the network, and the shell
            // would start a program path or a "file:" address just as readily.
            if (IsWebAddress(package_.licence_url)) {
                ::ShellExecuteW(nullptr, L"open", package_.licence_url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            }
            break;
        case IDC_START_NOW:
            Apply(flow_->OnStartNowPressed());
            break;
        case IDCANCEL:
            OnCancel();
            break;
        default:
            break;
    }
}

void COnlineInstallDlg::OnCancel() {
    if (flow_ == nullptr) {
        manager_.ClearSink();
        EndModalLoop(IDCANCEL);
        return;
    }
    Apply(flow_->OnCancelRequested());  // ignored while the setup runs: we wait for it
}

void COnlineInstallDlg::OnBrowse() {
    // The folder browser wants COM on this thread; keep it only for the call, so that
    // the statistics report can initialise COM its own way afterwards.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t display_name[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = hwnd();
    info.pszDisplayName = display_name;
    info.lpszTitle = kBrowseTitle;
    info.ulFlags = BIF_STATUSTEXT | BIF_EDITBOX;
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
    if (chosen != nullptr) {
        wchar_t path[520] = {};
        const bool has_path = ::SHGetPathFromIDListW(chosen, path) != FALSE;
        ::CoTaskMemFree(chosen);
        if (has_path) {
            Apply(flow_->OnFolderChosen(path));
        }
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
}

// --- Painting ---

void COnlineInstallDlg::Paint() {
    win::ScopedPaint paint(hwnd());
    if (::IsIconic(hwnd())) {
        ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.Get()), 0);
        RECT client{};
        ::GetClientRect(hwnd(), &client);
        const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(paint.Get(), x, y, m_hIcon);
        return;
    }
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    CMemDC memory(paint.Get(), client);
    if (!memory.IsValid()) {
        return;
    }
    // A skin without images still gives a plain, readable window.
    ::FillRect(memory, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    CSkinManager& skin = TheSkinManager();
    skin.DrawImage(memory, L"dlg_border.PNG", client, 0, nullptr, 255, dpi_);
    if (CSkinImage* logo = skin.GetImage(L"Logo_Title.png")) {
        const SkinSize size = logo->ScaledFrameSize(dpi_, false);
        const int left = ScaleForDpi(kLogoLeft, dpi_);
        const int top = ScaleForDpi(kLogoTop, dpi_);
        const RECT at{left, top, left + size.width, top + size.height};
        skin.DrawImage(memory, L"Logo_Title.png", at, 0, nullptr, 255, dpi_);
    }
    PaintStage(memory);
    PaintTitle(memory);
    // Hand the finished background to the children before it reaches the screen.
    CBroadcastBkgMsg broadcast(hwnd(), memory);
    broadcast.Enumerate();
}

void COnlineInstallDlg::PaintStage(HDC dc) {
    CSkinManager& skin = TheSkinManager();
    SkinSize step;
    if (CSkinImage* image = skin.GetImage(L"step00.png")) {
        step = image->ScaledFrameSize(dpi_, false);
    }
    auto step_rect = [&](int id) {
        const RECT r = ChildRectInParent(hwnd(), Item(id));
        return RECT{r.left, r.top, r.left + step.width, r.top + step.height};
    };
    const wchar_t* welcome = nullptr;
    const wchar_t* install = nullptr;
    const wchar_t* finish = nullptr;
    std::wstring picture;
    switch (flow_ != nullptr ? flow_->stage() : InstallStage::kWelcome) {
        case InstallStage::kWelcome:
            welcome = L"step01.png";
            install = L"step10.png";
            finish = L"step20.png";
            break;
        case InstallStage::kInstall:
            welcome = L"step00.png";
            install = L"step11.png";
            finish = L"step20.png";
            picture = L"Install" + std::to_wstring(flow_->slide()) + L".jpg";
            break;
        case InstallStage::kFinish:
            welcome = L"step00.png";
            install = L"step10.png";
            finish = L"step21.png";
            picture = L"Install.jpg";
            break;
    }
    skin.DrawImage(dc, welcome, step_rect(IDC_STEP_WELCOME), 0, nullptr, 255, dpi_);
    skin.DrawImage(dc, install, step_rect(IDC_STEP_INSTALL), 0, nullptr, 255, dpi_);
    skin.DrawImage(dc, finish, step_rect(IDC_STEP_FINISH), 0, nullptr, 255, dpi_);
    if (!picture.empty()) {
        skin.DrawImage(dc, picture, ChildRectInParent(hwnd(), Item(IDC_PICTURE)), 0, nullptr, 255, dpi_);
    }
}

void COnlineInstallDlg::PaintTitle(HDC dc) {
    LOGFONTW caption{};
    if (!win::CaptionFontForDpi(dpi_, &caption)) {
        return;
    }
    win::ScopedFont font(::CreateFontIndirectW(&caption));
    win::ScopedSelectObject select(dc, font.Get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, TheSkinManager().GetTextColor(L"LrButton"));
    RECT title = ChildRectInParent(hwnd(), Item(IDC_TITLE_BAR));
    ::DrawTextW(dc, package_.title.c_str(), -1, &title, DT_SINGLELINE | DT_END_ELLIPSIS);
}

// --- Actions of the flow ---

void COnlineInstallDlg::Apply(const FlowActions& actions) {
    for (const FlowAction& action : actions) {
        ApplyOne(action);
    }
}

void COnlineInstallDlg::SetVisible(std::initializer_list<int> ids, bool visible) {
    for (int id : ids) {
        ::ShowWindow(Item(id), visible ? SW_SHOW : SW_HIDE);
    }
}

void COnlineInstallDlg::ShowProgress(int percent) {
    ::SendDlgItemMessageW(hwnd(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    ::SetWindowTextW(m_progressText.hwnd(), ProgressText(percent).c_str());
}

void COnlineInstallDlg::ApplyOne(const FlowAction& action) {
    switch (action.kind) {
        case FlowActionKind::kEnterInstallStage:
            SetVisible({IDC_ACCEPT_LICENCE, IDC_LICENCE_LINK, IDC_INSTALL_DIR, IDC_BROWSE, IDC_RUN_NOW,
                        IDC_START_AT_BOOT, IDC_CUSTOM_LINK, IDC_INSTALL_NOW},
                       false);
            SetVisible({IDC_PICTURE, IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_PROGRESS_CAPTION}, true);
            ::EnableWindow(Item(IDC_CLOSE), FALSE);
            ::SetTimer(hwnd(), kSlideTimerId, kFirstTimerDelayMs, nullptr);
            ::InvalidateRect(hwnd(), nullptr, TRUE);
            ::UpdateWindow(hwnd());
            break;
        case FlowActionKind::kSendReport:
            if (action.report_on_thread) {
                StartInstallReportThread(static_cast<ReportType>(action.report_type));
            } else {
                SendInstallReport(static_cast<uintptr_t>(action.report_type));
            }
            break;
        case FlowActionKind::kRunSetup:
            RunSetup(action);
            break;
        case FlowActionKind::kShowProgress:
            ShowProgress(action.percent);
            break;
        case FlowActionKind::kEnterFinishStage:
            ::KillTimer(hwnd(), kSlideTimerId);
            ::SendDlgItemMessageW(hwnd(), IDC_PROGRESS, PBM_SETPOS, 100, 0);
            SetVisible({IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_PROGRESS_CAPTION}, false);
            SetVisible({IDC_START_NOW}, true);
            SetVisible({IDC_INSTALL_NOW}, false);
            ::InvalidateRect(hwnd(), nullptr, TRUE);
            ::UpdateWindow(hwnd());
            ::EnableWindow(Item(IDC_CLOSE), TRUE);
            break;
        case FlowActionKind::kStopInstallStage:
            ::KillTimer(hwnd(), kSlideTimerId);
            SetVisible({IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_PROGRESS_CAPTION}, false);
            ::InvalidateRect(hwnd(), nullptr, TRUE);
            ::UpdateWindow(hwnd());
            ::EnableWindow(Item(IDC_CLOSE), TRUE);
            break;
        case FlowActionKind::kEnableInstallButton:
            ::EnableWindow(Item(IDC_INSTALL_NOW), action.enabled ? TRUE : FALSE);
            break;
        case FlowActionKind::kShowMessage:
            ::MessageBoxW(hwnd(), action.text.c_str(), package_.title.c_str(), MB_OK);
            break;
        case FlowActionKind::kShowInstallDir:
            ::SetDlgItemTextW(hwnd(), IDC_INSTALL_DIR, action.text.c_str());
            break;
        case FlowActionKind::kShowNextSlide:
            ::InvalidateRect(hwnd(), nullptr, TRUE);
            ::UpdateWindow(hwnd());
            ::SetTimer(hwnd(), kSlideTimerId, action.delay_ms, nullptr);
            break;
        case FlowActionKind::kStartMainProgram:
            StartMainProgram(action);
            break;
        case FlowActionKind::kEndDialog:
            EndDialog();
            break;
    }
}

void COnlineInstallDlg::RunSetup(const FlowAction& action) {
    SetupOutcome outcome;
    // Check every block again through the handle that keeps the package locked, so
    // that what runs is exactly what was verified.
    if (!package_lock_) {
        package_lock_.Set(::CreateFileW(action.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    const HANDLE file = package_lock_.Get();
    const ReadAtFn read_at = [file](int64_t offset, uint8_t* buffer, int32_t length) {
        return ReadAt(file, offset, buffer, length);
    };
    // Then the whole file, when the description gives its SHA-256: blocks that each match
    // their MD5 can still be, together, not the file that was published.
    const bool intact = package_lock_ && VerifyPackageBlocks(read_at, package_.blocks) &&
                        WholeFilePasses(CheckWholeFile(read_at, package_.integrity));
    if (!intact) {
        outcome.kind = SetupOutcome::Kind::kPackageInvalid;
        package_lock_.Close();
    } else {
        outcome = RunPackage(action.command_line);
    }
    Apply(flow_->OnSetupFinished(outcome));
}

SetupOutcome COnlineInstallDlg::RunPackage(const std::wstring& command_line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    std::wstring mutable_command = command_line;  // CreateProcessW may write into it
    process_started_ = true;
    const std::wstring package_folder = FolderOf(flow_->package_path());
    const BOOL created =
        ::CreateProcessW(nullptr, mutable_command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         package_folder.empty() ? nullptr : package_folder.c_str(), &startup, &process);
    DWORD create_error = created ? ERROR_SUCCESS : ::GetLastError();
    win::ScopedKernelHandle process_handle(created ? process.hProcess : nullptr);
    win::ScopedKernelHandle thread_handle(created ? process.hThread : nullptr);
    if (!created && create_error == kErrorElevationRequired) {
        // The setup's manifest asks for administrator rights, which CreateProcessW cannot
        // give: ask the user through the shell, with the same path and arguments. The
        // package stays locked until the elevated process exists.
        process_handle.Set(StartElevated(hwnd(), command_line, &create_error));
    }
    // The image is mapped now (or nothing started): the lock has done its work.
    package_lock_.Close();
    SetupOutcome outcome;
    if (!process_handle) {
        outcome.kind = SetupOutcome::Kind::kCouldNotStart;
        outcome.code = create_error;
        return outcome;
    }
    outcome.kind = SetupOutcome::Kind::kExited;
    outcome.code = WaitWithProgress(process_handle.Get());
    return outcome;
}

DWORD COnlineInstallDlg::WaitWithProgress(HANDLE process) {
    SetupWaitProgress progress;
    bool quit_seen = false;
    int quit_code = 0;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_seen = true;
                quit_code = static_cast<int>(msg.wParam);
                continue;
            }
            if (win::PreTranslateForControl(&msg)) {
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (::WaitForSingleObject(process, 10) != WAIT_TIMEOUT) {
            break;
        }
        if (const std::optional<int> percent = progress.OnWaitTimeout()) {
            ShowProgress(*percent);
        }
    }
    if (quit_seen) {
        ::PostQuitMessage(quit_code);
    }
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(process, &exit_code)) {
        exit_code = ::GetLastError();
    }
    return exit_code;
}

void COnlineInstallDlg::StartMainProgram(const FlowAction& action) {
    // The program starts in its installation folder, where it expects to be.
    const std::wstring folder = FolderOf(action.path);
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        nullptr, L"open", action.path.c_str(), nullptr, folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL));
    if (result <= 32) {
        ::MessageBoxW(hwnd(), action.text.c_str(), package_.title.c_str(), MB_OK);
    }
}

void COnlineInstallDlg::EndDialog() {
    manager_.ClearSink();
    EndModalLoop(IDOK);
}

}  // namespace installer
