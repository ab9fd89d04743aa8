// The installer window: initialisation, painting, commands, and the hand-over of download
// events to the window thread. Its layout at a display scale and the setup run live in
// window_scale_win and setup_launch_win.
#include "dialog/online_install_dlg_win.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "identity/partner_identity.h"
#include "dialog/licence_address.h"
#include "dialog/resource.h"
#include "dialog/package_naming.h"
#include "identity/install_report_win.h"
#include "skin/background_win.h"
#include "skin/mem_dc_win.h"
#include "skin/skin_manager_win.h"
#include "skin/skin_scale.h"
#include "win/com_ptr_win.h"
#include "win/dpi_win.h"
#include "win/gdi_win.h"
#include "win/message_filter_win.h"
#include "win/proxy_prompt_win.h"
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

}  // namespace

COnlineInstallDlg::COnlineInstallDlg(CBlockDownloadMgr& manager,
                                     const IProfileReader& description,
                                     std::wstring argument)
    : manager_(manager), description_(description), argument_(std::move(argument)) {
    icon_.Set(static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_INSTALLER), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
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
    scale_.Capture(hwnd());
    win::KeepOwnLayoutOnDpiChange(hwnd());
    BindControls();
    // A proxy that asks for a login from now on asks over this window.
    win::SetProxyPromptOwner(hwnd());
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.Get()));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.Get()));

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
    settings.package_path = PackagePath(SpecialFolder(CSIDL_COMMON_DOCUMENTS, true), package_.sub_dir, argument_);
    flow_ = std::make_unique<InstallFlow>(settings);
    ::SetDlgItemTextW(hwnd(), IDC_INSTALL_DIR, flow_->install_dir().c_str());

    m_runCheck.SetCheck(BST_CHECKED);
    m_acceptCheck.SetCheck(BST_CHECKED);
    m_bootCheck.SetCheck(BST_CHECKED);
    ::ShowWindow(m_customLink.hwnd(), SW_HIDE);

    ApplyDpi(win::WindowDpi(hwnd()), nullptr);
    recorder_.PackageChosen(package_, settings.package_path, dpi_);
    ::SetTimer(hwnd(), kStartDownloadTimerId, kFirstTimerDelayMs, nullptr);
    return true;
}

void COnlineInstallDlg::ApplyDpi(int dpi, const POINT* position) {
    dpi_ = dpi;
    scale_.Apply(hwnd(), dpi, position);
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
            return reinterpret_cast<LRESULT>(icon_.Get());
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
            recorder_.DownloadComplete();
            // The package is ready; the timer's handler marks it on this thread.
            ::SetTimer(hwnd(), kDownloadCompleteTimerId, kFirstTimerDelayMs, nullptr);
            return 0;
        case kMsgDownloadProgress:
            Apply(flow_->OnDownloadProgress(static_cast<int>(wparam)));
            return 0;
        case kMsgDownloadFailed:
            recorder_.DownloadFailed(static_cast<DownloadFailure>(wparam));
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
            setup_launch_.Lock(flow_->package_path());
            Apply(flow_->OnDownloadComplete());
            break;
        }
        default:
            break;
    }
}

void COnlineInstallDlg::StartDownload() {
    const std::wstring& path = flow_->package_path();
    // An old package is not deleted: the manager keeps the blocks of it that match this
    // description (a download cut short earlier) and fetches the rest. A read-only one is
    // made writable for that.
    if (::PathFileExistsW(path.c_str())) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    // A task that can never succeed raises its final failure from Start; a package
    // file that cannot be created (a locked old package, a full disk) is told here.
    recorder_.DownloadStarting();
    if (!manager_.Start(package_.mirrors, package_.blocks, path)) {
        recorder_.DownloadNotStarted();
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
    const win::ScopedComApartment com(COINIT_APARTMENTTHREADED);
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
        ::DrawIcon(paint.Get(), x, y, icon_.Get());
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
            } else if (action.report_type == kReportSetupFinished) {
                SendDetailedInstallReport(ReportType::kSetupFinished, recorder_.FinishedDetails(), kReportWaitMs);
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
    recorder_.SetupStarting(action.command_line);
    const SetupOutcome outcome = setup_launch_.Run(hwnd(), action.path, action.command_line, package_.blocks,
                                                   package_.integrity, [this](int percent) { ShowProgress(percent); });
    recorder_.SetupEnded(outcome);
    Apply(flow_->OnSetupFinished(outcome));
}

void COnlineInstallDlg::StartMainProgram(const FlowAction& action) {
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", action.path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    recorder_.MainProgramStarted(action.path, result > 32);
    if (result <= 32) {
        ::MessageBoxW(hwnd(), action.text.c_str(), package_.title.c_str(), MB_OK);
    }
}

void COnlineInstallDlg::EndDialog() {
    manager_.ClearSink();
    recorder_.WindowEnded();
    EndModalLoop(IDOK);
}

}  // namespace installer
