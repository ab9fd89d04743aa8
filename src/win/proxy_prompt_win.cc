// The prompt is built from an in-memory dialog template, so that it needs no resource of
// the executable and works before the installer's window exists.
#include "win/proxy_prompt_win.h"

#include <atomic>
#include <string>
#include <vector>

namespace installer::win {
namespace {

std::atomic<HWND> g_owner{nullptr};

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

// A DLGTEMPLATE with its items, laid out in dialog units, as DialogBoxIndirectParamW reads it.
class TemplateBuilder {
  public:
    TemplateBuilder(const wchar_t* title, short cx, short cy) {
        Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
        Dword(0);  // extended style
        count_at_ = words_.size();
        Word(0);  // item count, filled in by Add
        Word(0);  // x
        Word(0);  // y
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(0);  // no menu
        Word(0);  // the default class
        Text(title);
        Word(9);
        Text(L"MS Shell Dlg");
    }

    void Add(WORD klass, const wchar_t* text, int id, DWORD style, short x, short y, short cx, short cy) {
        while (words_.size() % 2 != 0) {
            Word(0);  // each item starts on a DWORD boundary
        }
        Dword(WS_CHILD | WS_VISIBLE | style);
        Dword(0);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(static_cast<WORD>(id));
        Word(0xFFFF);  // a class given by its number
        Word(klass);
        Text(text);
        Word(0);  // no creation data
        ++words_[count_at_];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const wchar_t* text) {
        for (; *text != L'\0'; ++text) {
            Word(static_cast<WORD>(*text));
        }
        Word(0);
    }

    std::vector<WORD> words_;
    size_t count_at_ = 0;
};

struct PromptState {
    std::optional<ProxyCredentials> answer;
};

std::wstring ItemText(HWND dialog, int id) {
    const HWND item = ::GetDlgItem(dialog, id);
    const int length = item != nullptr ? ::GetWindowTextLengthW(item) : 0;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = length > 0 ? ::GetWindowTextW(item, text.data(), length + 1) : 0;
    text.resize(static_cast<size_t>(got));
    return text;
}

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
            ::SendDlgItemMessageW(dialog, kProxyUserEdit, EM_LIMITTEXT, 256, 0);
            ::SendDlgItemMessageW(dialog, kProxyPasswordEdit, EM_LIMITTEXT, 256, 0);
            ::SetForegroundWindow(dialog);
            return TRUE;  // the focus goes to the user name
        }
        case WM_COMMAND: {
            auto* state = reinterpret_cast<PromptState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            const int id = LOWORD(wparam);
            if (id == IDOK && state != nullptr) {
                state->answer =
                    ProxyCredentials{ItemText(dialog, kProxyUserEdit), ItemText(dialog, kProxyPasswordEdit)};
                // The password stays in the run's memory only, not in the control.
                ::SetDlgItemTextW(dialog, kProxyPasswordEdit, L"");
                ::EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (id == IDCANCEL) {
                ::EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

void SetProxyPromptOwner(HWND owner) {
    g_owner.store(owner);
}

std::optional<ProxyCredentials> AskProxyLogin(int attempt) {
    const wchar_t* prompt = attempt <= 1 ? L"代理服务器要求登录。请输入代理服务器的用户名和密码："
                                         : L"用户名或密码不正确，请重新输入代理服务器的用户名和密码：";
    TemplateBuilder dialog(kProxyPromptTitle, 220, 96);
    dialog.Add(kStaticClass, prompt, -1, SS_LEFT, 8, 8, 204, 20);
    dialog.Add(kStaticClass, L"用户名：", -1, SS_LEFT, 8, 33, 44, 10);
    dialog.Add(kEditClass, L"", kProxyUserEdit, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 56, 31, 156, 13);
    dialog.Add(kStaticClass, L"密码：", -1, SS_LEFT, 8, 52, 44, 10);
    dialog.Add(kEditClass, L"", kProxyPasswordEdit, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 56, 50, 156,
               13);
    dialog.Add(kButtonClass, L"确定", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 104, 74, 50, 14);
    dialog.Add(kButtonClass, L"取消", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 162, 74, 50, 14);
    PromptState state;
    HWND owner = g_owner.load();
    if (owner != nullptr && !::IsWindow(owner)) {
        owner = nullptr;
    }
    const INT_PTR chosen = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog.Get(), owner, &PromptProc,
                                                     reinterpret_cast<LPARAM>(&state));
    if (chosen != IDOK) {
        return std::nullopt;
    }
    return state.answer;
}

bool ApplyProxyLogin(HINTERNET handle, const ProxyCredentials& login) {
    // WinINet copies the texts; the lengths are in characters, without the terminator.
    std::wstring user = login.user;
    std::wstring password = login.password;
    const bool user_set = ::InternetSetOptionW(handle, INTERNET_OPTION_PROXY_USERNAME, user.data(),
                                               static_cast<DWORD>(user.size())) != FALSE;
    const bool password_set = ::InternetSetOptionW(handle, INTERNET_OPTION_PROXY_PASSWORD, password.data(),
                                                   static_cast<DWORD>(password.size())) != FALSE;
    ::SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
    return user_set && password_set;
}

void DrainBody(HINTERNET request) {
    char sink[4096];
    DWORD n = 0;
    for (int i = 0; i < 64 && ::InternetReadFile(request, sink, sizeof sink, &n) && n > 0; ++i) {
    }
}

}  // namespace installer::win
