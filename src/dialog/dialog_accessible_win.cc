// What screen readers learn of the installer window: every image button, check box and
// link by name and role (their window texts stay as the skin needs them), the progress
// text as it is shown, and the window's title with its stage.
#include <oleacc.h>

#include "dialog/online_install_dlg_win.h"
#include "dialog/resource.h"

namespace installer {
namespace {

// The stage as the window's step images name it.
const wchar_t* StageName(InstallStage stage) {
    switch (stage) {
        case InstallStage::kWelcome:
            return L"欢迎";
        case InstallStage::kInstall:
            return L"安装";
        case InstallStage::kFinish:
            return L"完成";
    }
    return L"";
}

std::wstring WindowText(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    std::wstring result = text;
    // The template pads the licence box's text with a space before the link.
    while (!result.empty() && result.back() == L' ') {
        result.pop_back();
    }
    return result;
}

}  // namespace

void COnlineInstallDlg::DescribeForScreenReaders() {
    m_installButton.SetAccessible(ROLE_SYSTEM_PUSHBUTTON, L"立即安装");
    m_startButton.SetAccessible(ROLE_SYSTEM_PUSHBUTTON, L"立即启动");
    m_closeButton.SetAccessible(ROLE_SYSTEM_PUSHBUTTON, L"关闭");
    m_minButton.SetAccessible(ROLE_SYSTEM_PUSHBUTTON, L"最小化");
    m_browseButton.SetAccessible(ROLE_SYSTEM_PUSHBUTTON, L"浏览");
    for (CLrCheckBox* check_box : {&m_acceptCheck, &m_bootCheck, &m_runCheck}) {
        check_box->SetAccessible(ROLE_SYSTEM_CHECKBUTTON, WindowText(check_box->hwnd()));
    }
    m_licenceLink.SetAccessible(ROLE_SYSTEM_LINK, package_.title + L"服务条款");
    m_progressLabel.SetAccessible(ROLE_SYSTEM_STATICTEXT, WindowText(m_progressLabel.hwnd()));
    // Its text is set as the progress moves; the label keeps the name up to date.
    m_progressText.SetAccessible(ROLE_SYSTEM_STATICTEXT, L"");
    accessible_.Describe(hwnd(), ROLE_SYSTEM_DIALOG, package_.title);
}

std::optional<LRESULT> COnlineInstallDlg::AnswerGetObject(WPARAM wparam, LPARAM lparam) {
    accessible_.SetValue(StageName(flow_ != nullptr ? flow_->stage() : InstallStage::kWelcome));
    LRESULT result = 0;
    if (accessible_.Answer(wparam, lparam, &result)) {
        return result;
    }
    return std::nullopt;
}

}  // namespace installer
