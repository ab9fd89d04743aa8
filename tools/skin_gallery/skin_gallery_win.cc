// skin_gallery: the skinned controls on the installer window's layout, painted from the
// skin beside the program as the installer paints its window, so that the look can be
// seen and the tests can check pixels at known places.
//
// Command line: skin_gallery [--stage 1|2|3] [--slide 0|1|2] [--extras] [--title TEXT]
//   --stage   the page painted (Welcome, Install, Finish); default 1
//   --extras  also shows a disabled button, disabled check boxes, a label whose text
//             the "换字" button changes, and a disabled label
// Prints "ready" and the window handle (decimal) to stdout once the window is shown.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "skin/background_win.h"
#include "skin/lr_button_win.h"
#include "skin/lr_check_box_win.h"
#include "skin/mem_dc_win.h"
#include "skin/my_label_win.h"
#include "skin/skin_manager_win.h"
#include "skin_gallery_ids.h"
#include "win/dialog_window_win.h"
#include "win/gdi_win.h"

namespace installer::gallery {
namespace {

struct Options {
    int stage = 1;
    int slide = 0;
    bool extras = false;
    std::wstring title = L"晴川音乐播放器";
};

RECT ChildRect(HWND dialog, int id) {
    RECT rect{};
    HWND child = ::GetDlgItem(dialog, id);
    if (child != nullptr) {
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

class GalleryDialog : public win::DialogWindow {
  public:
    explicit GalleryDialog(Options options) : options_(std::move(options)) {}

  protected:
    bool OnInitDialog() override;
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  private:
    void Paint();
    void ShowStage();
    void SkinButton(CLrButton& button, const wchar_t* image, const wchar_t* tooltip);
    // Shows the install button's notifications (D down, U up, C click) in the window
    // text, where the tests read them.
    void NoteEvent(wchar_t event);

    Options options_;
    CMyLabel progress_text_;
    CMyLabel progress_label_;
    CLrButton browse_;
    CLrButton install_;
    CLrButton start_;
    CLrCheckBox boot_;
    CLrCheckBox run_;
    CLrCheckBox accept_;
    CLrButton close_;
    CLrButton minimise_;
    CMyUrlLabel licence_link_;
    CLrButton disabled_button_;
    CLrButton change_text_;
    CLrCheckBox disabled_checked_;
    CLrCheckBox disabled_unchecked_;
    CMyLabel changing_label_;
    CMyLabel disabled_label_;
    bool changed_ = false;
    std::wstring events_;  // what the install button told the window, in order
};

void GalleryDialog::SkinButton(CLrButton& button, const wchar_t* image, const wchar_t* tooltip) {
    CSkinImage* skin_image = TheSkinManager().GetImage(image);
    if (skin_image == nullptr) {
        return;  // keeps its template size and caption
    }
    int width = 0;
    int height = 0;
    skin_image->GetFrameSize(&width, &height, true);
    // The installer's own window may clear the caption and rely on the tooltip; the
    // gallery keeps it, drawn by the button over the image.
    if (tooltip != nullptr) {
        button.SetToolTipText(tooltip);
    }
    button.SetImage(image);
    ::SetWindowPos(button.hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOOWNERZORDER | SWP_NOZORDER);
}

bool GalleryDialog::OnInitDialog() {
    HWND dialog = hwnd();
    ::SetWindowTextW(dialog, options_.title.c_str());
    const struct {
        int id;
        const wchar_t* text;
    } texts[] = {
        {IDC_PROGRESS_LABEL, L"安装进度："},
        {IDC_INSTALL, L"立即安装"},
        {IDC_ACCEPT, L"我已阅读并接受 "},
        {IDC_BROWSE, L"浏览"},
        {IDC_BOOT, L"开机启动"},
        {IDC_RUN, L"立即运行"},
        {IDC_START, L"立即启动"},
        {IDC_DIR_EDIT, L"C:\\Program Files\\QingChuan"},
        {IDC_DISABLED_BUTTON, L"禁用"},
        {IDC_CHANGE_TEXT, L"换字"},
        {IDC_DISABLED_CHECKED, L"禁用已选"},
        {IDC_DISABLED_UNCHECKED, L"禁用未选"},
        {IDC_CHANGING_LABEL, L"原来的一段长文字"},
        {IDC_DISABLED_LABEL, L"禁用的标签"},
    };
    for (const auto& t : texts) {
        ::SetDlgItemTextW(dialog, t.id, t.text);
    }
    progress_text_.Attach(Item(IDC_PROGRESS_TEXT));
    progress_label_.Attach(Item(IDC_PROGRESS_LABEL));
    browse_.Attach(Item(IDC_BROWSE));
    install_.Attach(Item(IDC_INSTALL));
    start_.Attach(Item(IDC_START));
    boot_.Attach(Item(IDC_BOOT));
    run_.Attach(Item(IDC_RUN));
    accept_.Attach(Item(IDC_ACCEPT));
    close_.Attach(Item(IDC_CLOSE));
    minimise_.Attach(Item(IDC_MINIMISE));
    licence_link_.Attach(Item(IDC_LICENCE_LINK));
    disabled_button_.Attach(Item(IDC_DISABLED_BUTTON));
    change_text_.Attach(Item(IDC_CHANGE_TEXT));
    disabled_checked_.Attach(Item(IDC_DISABLED_CHECKED));
    disabled_unchecked_.Attach(Item(IDC_DISABLED_UNCHECKED));
    changing_label_.Attach(Item(IDC_CHANGING_LABEL));
    disabled_label_.Attach(Item(IDC_DISABLED_LABEL));

    ::SetWindowTextW(licence_link_.hwnd(), (options_.title + L"服务条款").c_str());
    ::SetWindowTextW(progress_text_.hwnd(), L"已完成 42 %");
    run_.SetCheck(BST_CHECKED);
    accept_.SetCheck(BST_CHECKED);
    boot_.SetCheck(BST_CHECKED);
    disabled_checked_.SetCheck(BST_CHECKED);
    ::SendMessageW(Item(IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
    ::SendMessageW(Item(IDC_PROGRESS), PBM_SETPOS, 42, 0);

    SkinButton(install_, L"btn_install.png", L"立即安装");
    SkinButton(start_, L"btn_run.png", L"立即启动");
    SkinButton(minimise_, L"dlg_min.png", nullptr);
    SkinButton(close_, L"dlg_close.png", nullptr);
    ShowStage();
    // The focus starts in the edit box, so that every button shows its normal face.
    ::SetFocus(Item(IDC_DIR_EDIT));
    return false;
}

void GalleryDialog::NoteEvent(wchar_t event) {
    events_ += event;
    ::SetWindowTextW(hwnd(), (options_.title + L" [" + events_ + L"]").c_str());
}

void GalleryDialog::ShowStage() {
    const bool welcome = options_.stage == 1;
    const int welcome_ids[] = {IDC_INSTALL, IDC_ACCEPT, IDC_LICENCE_LINK, IDC_DIR_EDIT, IDC_BROWSE, IDC_BOOT, IDC_RUN};
    for (int id : welcome_ids) {
        ::ShowWindow(Item(id), welcome ? SW_SHOW : SW_HIDE);
    }
    for (int id : {IDC_PROGRESS, IDC_PROGRESS_LABEL, IDC_PROGRESS_TEXT}) {
        ::ShowWindow(Item(id), options_.stage == 2 ? SW_SHOW : SW_HIDE);
    }
    ::ShowWindow(Item(IDC_START), options_.stage == 3 ? SW_SHOW : SW_HIDE);
    const int extra_ids[] = {IDC_DISABLED_BUTTON,    IDC_CHANGE_TEXT,    IDC_DISABLED_CHECKED,
                             IDC_DISABLED_UNCHECKED, IDC_CHANGING_LABEL, IDC_DISABLED_LABEL};
    for (int id : extra_ids) {
        ::ShowWindow(Item(id), options_.extras ? SW_SHOW : SW_HIDE);
    }
}

std::optional<LRESULT> GalleryDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            return TRUE;
        case WM_DRAWITEM:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            LRESULT result = 0;
            if (win::ReflectToControl(message, wparam, lparam, &result)) {
                return result;
            }
            return std::nullopt;
        }
        case WM_NCHITTEST: {
            const RECT title = ChildRect(hwnd(), IDC_TITLE_AREA);
            POINT bottom{0, title.bottom};
            ::ClientToScreen(hwnd(), &bottom);
            if (GET_Y_LPARAM(lparam) < bottom.y + 10) {
                return HTCAPTION;
            }
            return std::nullopt;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            if (header != nullptr && header->idFrom == IDC_INSTALL &&
                (header->code == kLrButtonNotifyDown || header->code == kLrButtonNotifyUp)) {
                NoteEvent(header->code == kLrButtonNotifyDown ? L'D' : L'U');
            }
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == IDC_INSTALL && HIWORD(wparam) == BN_CLICKED) {
                NoteEvent(L'C');
                return 0;
            }
            switch (LOWORD(wparam)) {
                case IDC_CLOSE:
                    EndModalLoop(IDOK);
                    return 0;
                case IDC_MINIMISE:
                    ::ShowWindow(hwnd(), SW_MINIMIZE);
                    return 0;
                case IDC_CHANGE_TEXT:
                    changed_ = !changed_;
                    ::SetWindowTextW(changing_label_.hwnd(), changed_ ? L"新" : L"原来的一段长文字");
                    return 0;
                default:
                    break;
            }
            return DialogWindow::HandleMessage(message, wparam, lparam);
        default:
            return DialogWindow::HandleMessage(message, wparam, lparam);
    }
}

void GalleryDialog::Paint() {
    HWND dialog = hwnd();
    win::ScopedPaint paint(dialog);
    RECT client{};
    ::GetClientRect(dialog, &client);
    CMemDC surface(paint.Get(), client);
    if (!surface.IsValid()) {
        return;
    }
    CSkinManager& skin = TheSkinManager();
    // Without a skin the window still needs a face: the system dialog colour.
    ::FillRect(surface, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    skin.DrawImage(surface, L"dlg_border.PNG", client);
    if (CSkinImage* logo = skin.GetImage(L"Logo_Title.png")) {
        int width = 0;
        int height = 0;
        logo->GetFrameSize(&width, &height, false);
        skin.DrawImage(surface, L"Logo_Title.png", RECT{6, 3, 6 + width, 3 + height});
    }
    int step_width = 0;
    int step_height = 0;
    if (CSkinImage* step = skin.GetImage(L"step00.png")) {
        step->GetFrameSize(&step_width, &step_height, false);
    }
    const int step_ids[] = {IDC_STEP_WELCOME, IDC_STEP_INSTALL, IDC_STEP_FINISH};
    const wchar_t* const steps[3][3] = {
        {L"step01.png", L"step10.png", L"step20.png"},
        {L"step00.png", L"step11.png", L"step20.png"},
        {L"step00.png", L"step10.png", L"step21.png"},
    };
    if (options_.stage >= 1 && options_.stage <= 3) {
        for (int i = 0; i < 3; ++i) {
            const RECT at = ChildRect(dialog, step_ids[i]);
            skin.DrawImage(surface, steps[options_.stage - 1][i],
                           RECT{at.left, at.top, at.left + step_width, at.top + step_height});
        }
        const RECT picture = ChildRect(dialog, IDC_PICTURE);
        if (options_.stage == 2) {
            const wchar_t* const slides[] = {L"Install0.jpg", L"Install1.jpg", L"Install2.jpg"};
            skin.DrawImage(surface, slides[options_.slide % 3], picture);
        } else if (options_.stage == 3) {
            skin.DrawImage(surface, L"Install.jpg", picture);
        }
    }
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    win::ScopedFont caption_font;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        caption_font.Set(::CreateFontIndirectW(&metrics.lfCaptionFont));
    }
    {
        win::ScopedSelectObject font(surface, caption_font.Get());
        ::SetBkMode(surface, TRANSPARENT);
        ::SetTextColor(surface, skin.GetTextColor(L"LrButton"));
        RECT title = ChildRect(dialog, IDC_TITLE_AREA);
        ::DrawTextW(surface, options_.title.c_str(), -1, &title, DT_SINGLELINE | DT_END_ELLIPSIS);
    }
    CBroadcastBkgMsg broadcast(dialog, surface);
    broadcast.Enumerate();
}

Options ParseOptions() {
    Options options;
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == L"--stage" && has_value) {
            options.stage = _wtoi(argv[++i]);
        } else if (arg == L"--slide" && has_value) {
            options.slide = _wtoi(argv[++i]);
        } else if (arg == L"--title" && has_value) {
            options.title = argv[++i];
        } else if (arg == L"--extras") {
            options.extras = true;
        }
    }
    ::LocalFree(argv);
    return options;
}

}  // namespace
}  // namespace installer::gallery

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    installer::gallery::GalleryDialog dialog(installer::gallery::ParseOptions());
    if (!dialog.Create(IDD_GALLERY, nullptr)) {
        std::printf("cannot create the window: error %lu\n", ::GetLastError());
        return 1;
    }
    ::ShowWindow(dialog.hwnd(), SW_SHOW);
    ::UpdateWindow(dialog.hwnd());
    std::printf("ready %llu\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(dialog.hwnd())));
    std::fflush(stdout);
    return dialog.RunModalLoop();
}
