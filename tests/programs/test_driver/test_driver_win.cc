// test_driver: a console program that integration tests run beside the installer (under
// Wine) to see and use its windows as a person would: list windows and controls with their
// texts, read and answer message boxes, press buttons, move and click the mouse, type keys
// into the focused control, read what a screen reader learns of a control, and save what is
// on screen for a window as a PNG file. Prints one JSON value on stdout.
//
// Exit codes: 0 done, 1 bad command line, 2 window or control not found (or timed out),
// 3 the operation failed.
#include <windows.h>

#include <objidl.h>

#include <commctrl.h>
#include <gdiplus.h>
#include <oleacc.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "json_out.h"
#include "win/scoped_handle.h"

namespace installer::test_driver {
namespace {

enum ExitCode { kDone = 0, kUsage = 1, kNotFound = 2, kFailed = 3 };

constexpr UINT kMessageTimeoutMs = 1500;

using win::ScopedBitmap;
using win::ScopedKernelHandle;
using win::ScopedMemoryDc;

// Window DC of the screen, released with ReleaseDC.
class ScreenDc {
  public:
    ScreenDc() : dc_(::GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_ != nullptr) {
            ::ReleaseDC(nullptr, dc_);
        }
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

  private:
    HDC dc_;
};

// Parsed "--name value" options and bare flags.
class Options {
  public:
    Options(int argc, wchar_t** argv, int first) {
        for (int i = first; i < argc; ++i) {
            std::wstring arg = argv[i];
            if (arg.rfind(L"--", 0) != 0) {
                positional_.push_back(arg);
                continue;
            }
            arg = arg.substr(2);
            if (i + 1 < argc && std::wstring(argv[i + 1]).rfind(L"--", 0) != 0) {
                values_[arg] = argv[++i];
            } else {
                values_[arg] = L"";
            }
        }
    }
    bool Has(const std::wstring& name) const { return values_.count(name) != 0; }
    std::wstring Get(const std::wstring& name, const std::wstring& fallback = L"") const {
        const auto it = values_.find(name);
        return it == values_.end() ? fallback : it->second;
    }
    // A number in decimal or 0x hexadecimal; `fallback` when absent or unreadable.
    long long Number(const std::wstring& name, long long fallback) const {
        const auto it = values_.find(name);
        if (it == values_.end() || it->second.empty()) {
            return fallback;
        }
        wchar_t* end = nullptr;
        const long long value = std::wcstoll(it->second.c_str(), &end, 0);
        return end != nullptr && *end == L'\0' ? value : fallback;
    }

  private:
    std::map<std::wstring, std::wstring> values_;
    std::vector<std::wstring> positional_;
};

void Print(const JsonOut& json) {
    const std::string& text = json.text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int Fail(ExitCode code, const std::wstring& message) {
    JsonOut json;
    json.BeginObject().Key("error").String(message).EndObject();
    Print(json);
    return code;
}

uint64_t HandleValue(HWND hwnd) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(hwnd));
}

HWND HwndFrom(long long value) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    ::GetClassNameW(hwnd, name, 256);
    return name;
}

// Text of a window of any process. WM_GETTEXT is marshalled across processes and returns
// what the control holds now (an edit box's contents too); a window that does not answer
// in time falls back to the caption the system keeps.
std::wstring TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length) != 0) {
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        DWORD_PTR copied = 0;
        if (::SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                                  SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied) != 0) {
            text.resize(std::min<size_t>(static_cast<size_t>(copied), text.size() - 1));
            return text;
        }
    }
    wchar_t buffer[1024] = {};
    ::GetWindowTextW(hwnd, buffer, 1024);
    return buffer;
}

std::optional<LRESULT> Ask(HWND hwnd, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) == 0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

std::wstring ExeOf(DWORD pid) {
    ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return L"";
    }
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &size)) {
        return L"";
    }
    std::wstring full(path, size);
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

void AddRect(JsonOut& json, const char* key, const RECT& r) {
    json.Key(key).BeginArray().Int(r.left).Int(r.top).Int(r.right).Int(r.bottom).EndArray();
}

void DescribeControl(JsonOut& json, HWND hwnd) {
    const std::wstring cls = ClassOf(hwnd);
    const LONG style = ::GetWindowLongW(hwnd, GWL_STYLE);
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    json.BeginObject();
    json.Key("hwnd").UInt(HandleValue(hwnd));
    json.Key("parent").UInt(HandleValue(::GetParent(hwnd)));
    json.Key("id").Int(::GetDlgCtrlID(hwnd));
    json.Key("class").String(cls);
    json.Key("text").String(TextOf(hwnd));
    json.Key("visible").Bool(::IsWindowVisible(hwnd) != FALSE);
    json.Key("enabled").Bool(::IsWindowEnabled(hwnd) != FALSE);
    json.Key("style").UInt(static_cast<uint32_t>(style));
    AddRect(json, "rect", rect);
    if (_wcsicmp(cls.c_str(), L"Button") == 0) {
        if (const auto check = Ask(hwnd, BM_GETCHECK)) {
            json.Key("check").Int(*check);
        }
    } else if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
        if (const auto pos = Ask(hwnd, PBM_GETPOS)) {
            json.Key("pos").Int(*pos);
        }
        const auto low = Ask(hwnd, PBM_GETRANGE, TRUE);
        const auto high = Ask(hwnd, PBM_GETRANGE, FALSE);
        if (low && high) {
            json.Key("range").BeginArray().Int(*low).Int(*high).EndArray();
        }
    }
    json.EndObject();
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    ::EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

void DescribeWindow(JsonOut& json, HWND hwnd, bool with_children) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    RECT client = {};
    ::GetClientRect(hwnd, &client);
    json.BeginObject();
    json.Key("hwnd").UInt(HandleValue(hwnd));
    json.Key("class").String(ClassOf(hwnd));
    json.Key("title").String(TextOf(hwnd));
    json.Key("visible").Bool(::IsWindowVisible(hwnd) != FALSE);
    json.Key("enabled").Bool(::IsWindowEnabled(hwnd) != FALSE);
    json.Key("iconic").Bool(::IsIconic(hwnd) != FALSE);
    json.Key("foreground").Bool(::GetForegroundWindow() == hwnd);
    json.Key("style").UInt(static_cast<uint32_t>(::GetWindowLongW(hwnd, GWL_STYLE)));
    json.Key("exstyle").UInt(static_cast<uint32_t>(::GetWindowLongW(hwnd, GWL_EXSTYLE)));
    json.Key("pid").UInt(pid);
    json.Key("exe").String(ExeOf(pid));
    AddRect(json, "rect", rect);
    AddRect(json, "client", client);
    // The control with the keyboard focus in the window's thread (0 when none of ours).
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    HWND focus = ::GetGUIThreadInfo(::GetWindowThreadProcessId(hwnd, nullptr), &gui) ? gui.hwndFocus : nullptr;
    json.Key("focus").UInt(HandleValue(focus));
    json.Key("focus_id").Int(focus != nullptr && ::IsChild(hwnd, focus) ? ::GetDlgCtrlID(focus) : 0);
    POINT origin = {0, 0};
    ::ClientToScreen(hwnd, &origin);
    json.Key("client_origin").BeginArray().Int(origin.x).Int(origin.y).EndArray();
    if (with_children) {
        json.Key("children").BeginArray();
        for (HWND child : Children(hwnd)) {
            DescribeControl(json, child);
        }
        json.EndArray();
    }
    json.EndObject();
}

// The text of a message box is the static control 0xFFFF of a dialog (class #32770) that
// holds nothing but static texts and buttons: that tells message boxes from a program's own
// dialogs, which may also have statics numbered 0xFFFF or -1 (IDC_STATIC).
constexpr int kMessageBoxTextId = 0xFFFF;

bool IsMessageBoxText(HWND control) {
    const int id = ::GetDlgCtrlID(control);
    return (id == kMessageBoxTextId || id == -1) && _wcsicmp(ClassOf(control).c_str(), L"Static") == 0;
}

bool IsMessageBox(HWND hwnd) {
    if (ClassOf(hwnd) != L"#32770") {
        return false;
    }
    bool has_text = false;
    for (HWND control : Children(hwnd)) {
        const std::wstring cls = ClassOf(control);
        if (_wcsicmp(cls.c_str(), L"Static") != 0 && _wcsicmp(cls.c_str(), L"Button") != 0) {
            return false;
        }
        has_text = has_text || (IsMessageBoxText(control) && ::IsWindowVisible(control));
    }
    return has_text;
}

// Which top-level windows a command looks at.
struct Filter {
    DWORD pid = 0;
    std::wstring exe;
    std::wstring title;       // a part of the title
    std::wstring class_name;  // the whole class name
    bool hidden_too = false;
    bool message_boxes_only = false;

    explicit Filter(const Options& options)
        : pid(static_cast<DWORD>(options.Number(L"pid", 0))),
          exe(options.Get(L"exe")),
          title(options.Get(L"title")),
          class_name(options.Get(L"class")),
          hidden_too(options.Has(L"all")) {}

    bool Matches(HWND hwnd) const {
        if (!hidden_too && !::IsWindowVisible(hwnd)) {
            return false;
        }
        DWORD owner = 0;
        ::GetWindowThreadProcessId(hwnd, &owner);
        if (owner == ::GetCurrentProcessId()) {
            return false;
        }
        if (pid != 0 && owner != pid) {
            return false;
        }
        if (!exe.empty() && _wcsicmp(ExeOf(owner).c_str(), exe.c_str()) != 0) {
            return false;
        }
        if (!class_name.empty() && ClassOf(hwnd) != class_name) {
            return false;
        }
        if (!title.empty() && TextOf(hwnd).find(title) == std::wstring::npos) {
            return false;
        }
        return !message_boxes_only || IsMessageBox(hwnd);
    }
};

std::vector<HWND> TopLevelWindows(const Filter& filter) {
    std::vector<HWND> all;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> matching;
    for (HWND hwnd : all) {
        if (filter.Matches(hwnd)) {
            matching.push_back(hwnd);
        }
    }
    return matching;
}

// Polls for the first matching window until `timeout_ms` has passed.
HWND WaitForWindow(const Filter& filter, long long timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0LL, timeout_ms));
    for (;;) {
        const std::vector<HWND> found = TopLevelWindows(filter);
        if (!found.empty()) {
            return found.front();
        }
        if (::GetTickCount64() >= deadline) {
            return nullptr;
        }
        ::Sleep(100);
    }
}

// The window named by --hwnd, or its control --id (searched among all descendants).
HWND TargetWindow(const Options& options) {
    HWND hwnd = HwndFrom(options.Number(L"hwnd", 0));
    if (hwnd == nullptr || !::IsWindow(hwnd)) {
        return nullptr;
    }
    if (!options.Has(L"id")) {
        return hwnd;
    }
    const int id = static_cast<int>(options.Number(L"id", 0));
    if (HWND direct = ::GetDlgItem(hwnd, id)) {
        return direct;
    }
    for (HWND child : Children(hwnd)) {
        if (::GetDlgCtrlID(child) == id) {
            return child;
        }
    }
    return nullptr;
}

int List(const Options& options) {
    JsonOut json;
    json.BeginArray();
    for (HWND hwnd : TopLevelWindows(Filter(options))) {
        DescribeWindow(json, hwnd, true);
    }
    json.EndArray();
    Print(json);
    return kDone;
}

int Wait(const Options& options) {
    HWND hwnd = WaitForWindow(Filter(options), options.Number(L"timeout", 10000));
    if (hwnd == nullptr) {
        return Fail(kNotFound, L"no matching window appeared");
    }
    JsonOut json;
    DescribeWindow(json, hwnd, true);
    Print(json);
    return kDone;
}

int Press(const Options& options) {
    HWND target = TargetWindow(options);
    if (target == nullptr) {
        return Fail(kNotFound, L"no such window or control");
    }
    // BM_CLICK acts as a real click (an auto check box toggles, the parent gets BN_CLICKED).
    // A handler that opens a modal loop does not return in time; the click still happens.
    DWORD_PTR result = 0;
    const UINT wait_ms = static_cast<UINT>(options.Number(L"wait", 2000));
    const bool completed = ::SendMessageTimeoutW(target, BM_CLICK, 0, 0, SMTO_NORMAL, wait_ms, &result) != 0;
    JsonOut json;
    json.BeginObject().Key("pressed").UInt(HandleValue(target)).Key("completed").Bool(completed).EndObject();
    Print(json);
    return kDone;
}

// Moves the cursor to the target's point (--x/--y relative to its top-left corner, else its
// centre) through the input queue, as a person moving the mouse would.
std::optional<POINT> MoveMouse(const Options& options, HWND target) {
    RECT rect = {};
    if (!::GetWindowRect(target, &rect)) {
        return std::nullopt;
    }
    POINT point{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    if (options.Has(L"x")) {
        point.x = rect.left + static_cast<LONG>(options.Number(L"x", 0));
    }
    if (options.Has(L"y")) {
        point.y = rect.top + static_cast<LONG>(options.Number(L"y", 0));
    }
    const int width = std::max(2, ::GetSystemMetrics(SM_CXSCREEN));
    const int height = std::max(2, ::GetSystemMetrics(SM_CYSCREEN));
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((point.x * 65535LL + (width - 1) / 2) / (width - 1));
    input.mi.dy = static_cast<LONG>((point.y * 65535LL + (height - 1) / 2) / (height - 1));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SetCursorPos(point.x, point.y);
    if (::SendInput(1, &input, sizeof(input)) != 1) {
        return std::nullopt;
    }
    return point;
}

bool SendButton(DWORD flags) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    return ::SendInput(1, &input, sizeof(input)) == 1;
}

int Mouse(const Options& options, const std::wstring& command) {
    HWND target = TargetWindow(options);
    if (target == nullptr) {
        return Fail(kNotFound, L"no such window or control");
    }
    const std::optional<POINT> point = MoveMouse(options, target);
    if (!point) {
        return Fail(kFailed, L"cannot move the mouse");
    }
    bool ok = true;
    if (command == L"mouse-click" || command == L"mouse-down") {
        ok = SendButton(MOUSEEVENTF_LEFTDOWN);
    }
    if (ok && command == L"mouse-click") {
        ::Sleep(50);
    }
    if (ok && (command == L"mouse-click" || command == L"mouse-up")) {
        ok = SendButton(MOUSEEVENTF_LEFTUP);
    }
    if (!ok) {
        return Fail(kFailed, L"SendInput failed");
    }
    JsonOut json;
    json.BeginObject().Key("point").BeginArray().Int(point->x).Int(point->y).EndArray().EndObject();
    Print(json);
    return kDone;
}

// Virtual key of a key name of the `keys` command; 0 when unknown.
WORD KeyCode(const std::wstring& name) {
    static const std::pair<const wchar_t*, WORD> kKeys[] = {
        {L"tab", VK_TAB},   {L"enter", VK_RETURN}, {L"space", VK_SPACE}, {L"esc", VK_ESCAPE},
        {L"f4", VK_F4},     {L"left", VK_LEFT},    {L"right", VK_RIGHT}, {L"up", VK_UP},
        {L"down", VK_DOWN}, {L"home", VK_HOME},    {L"end", VK_END},
    };
    for (const auto& [text, code] : kKeys) {
        if (_wcsicmp(text, name.c_str()) == 0) {
            return code;
        }
    }
    if (name.size() == 1 && ((name[0] >= L'a' && name[0] <= L'z') || (name[0] >= L'0' && name[0] <= L'9'))) {
        return static_cast<WORD>(::towupper(name[0]));
    }
    return 0;
}

INPUT KeyInput(WORD code, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = code;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(code, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Types keys through the input queue, as a person at the keyboard would, into whatever has
// the focus of the foreground window: --keys "tab,shift+tab,enter,space,esc,alt+f4". The
// window --hwnd is brought to the foreground first. Returns once the keys are queued; the
// caller waits for what they do.
int Keys(const Options& options) {
    HWND target = TargetWindow(options);
    if (target == nullptr) {
        return Fail(kNotFound, L"no such window or control");
    }
    std::vector<std::vector<WORD>> strokes;
    const std::wstring list = options.Get(L"keys");
    size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        const size_t comma = list.find(L',', start);
        const std::wstring stroke =
            list.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        std::vector<WORD> codes;
        size_t part = 0;
        for (;;) {
            const size_t plus = stroke.find(L'+', part);
            const std::wstring name =
                stroke.substr(part, plus == std::wstring::npos ? std::wstring::npos : plus - part);
            WORD code = 0;
            if (_wcsicmp(name.c_str(), L"shift") == 0) {
                code = VK_SHIFT;
            } else if (_wcsicmp(name.c_str(), L"alt") == 0) {
                code = VK_MENU;
            } else if (_wcsicmp(name.c_str(), L"ctrl") == 0) {
                code = VK_CONTROL;
            } else {
                code = KeyCode(name);
            }
            if (code == 0) {
                return Fail(kUsage, L"unknown key: " + name);
            }
            codes.push_back(code);
            if (plus == std::wstring::npos) {
                break;
            }
            part = plus + 1;
        }
        strokes.push_back(codes);
        if (comma == std::wstring::npos) {
            break;
        }
        start = comma + 1;
    }
    if (strokes.empty()) {
        return Fail(kUsage, L"--keys is required");
    }
    HWND top = ::GetAncestor(target, GA_ROOT);
    if (::GetForegroundWindow() != top) {
        ::SetForegroundWindow(top);
    }
    int sent = 0;
    for (const std::vector<WORD>& codes : strokes) {
        // Modifiers down, the key down and up, modifiers up in reverse.
        std::vector<INPUT> inputs;
        for (WORD code : codes) {
            inputs.push_back(KeyInput(code, false));
        }
        for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
            inputs.push_back(KeyInput(*it, true));
        }
        if (::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size()) {
            return Fail(kFailed, L"SendInput failed");
        }
        ++sent;
    }
    JsonOut json;
    json.BeginObject().Key("sent").Int(sent).Key("foreground").Bool(::GetForegroundWindow() == top).EndObject();
    Print(json);
    return kDone;
}

// IID_IAccessible. MinGW's import library exports it from oleacc.dll as a function thunk,
// whose code bytes would be read as the GUID.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// A string property of an accessible object; empty when it has none.
std::wstring AccessibleText(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) {
    VARIANT self;
    ::VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    if (FAILED((object->*get)(self, &text)) || text == nullptr) {
        return L"";
    }
    std::wstring result(text, ::SysStringLen(text));
    ::SysFreeString(text);
    return result;
}

// What a screen reader learns of the window --hwnd (or its control --id) through Active
// Accessibility: AccessibleObjectFromWindow for its client area, then its name, role (the
// number and the platform's text for it), state, value and default action.
int Accessible(const Options& options) {
    HWND target = TargetWindow(options);
    if (target == nullptr) {
        return Fail(kNotFound, L"no such window or control");
    }
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = kDone;
    {
        IAccessible* object = nullptr;
        const HRESULT found = ::AccessibleObjectFromWindow(target, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                                           reinterpret_cast<void**>(&object));
        if (FAILED(found) || object == nullptr) {
            wchar_t message[80] = {};
            std::swprintf(message, 80, L"AccessibleObjectFromWindow failed: 0x%08lX",
                          static_cast<unsigned long>(found));
            code = Fail(kFailed, message);
        } else {
            VARIANT self;
            ::VariantInit(&self);
            self.vt = VT_I4;
            self.lVal = CHILDID_SELF;
            VARIANT role;
            ::VariantInit(&role);
            VARIANT state;
            ::VariantInit(&state);
            const bool has_role = SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4;
            const bool has_state = SUCCEEDED(object->get_accState(self, &state)) && state.vt == VT_I4;
            wchar_t role_text[128] = {};
            if (has_role) {
                ::GetRoleTextW(static_cast<DWORD>(role.lVal), role_text, 128);
            }
            JsonOut json;
            json.BeginObject();
            json.Key("name").String(AccessibleText(object, &IAccessible::get_accName));
            json.Key("role").Int(has_role ? role.lVal : -1);
            json.Key("role_text").String(std::wstring(role_text));
            json.Key("state").Int(has_state ? state.lVal : -1);
            json.Key("value").String(AccessibleText(object, &IAccessible::get_accValue));
            json.Key("default_action").String(AccessibleText(object, &IAccessible::get_accDefaultAction));
            json.EndObject();
            Print(json);
            ::VariantClear(&role);
            ::VariantClear(&state);
            object->Release();
        }
    }
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return code;
}

// The colour on screen at (x, y); CLR_INVALID when it cannot be read.
COLORREF ScreenPixel(HDC screen, int x, int y) {
    ScopedMemoryDc memory(::CreateCompatibleDC(screen));
    ScopedBitmap bitmap(::CreateCompatibleBitmap(screen, 1, 1));
    if (!memory || !bitmap) {
        return CLR_INVALID;
    }
    HGDIOBJ previous = ::SelectObject(memory.Get(), bitmap.Get());
    COLORREF seen = CLR_INVALID;
    if (::BitBlt(memory.Get(), 0, 0, 1, 1, screen, x, y, SRCCOPY | CAPTUREBLT)) {
        seen = ::GetPixel(memory.Get(), 0, 0);
    }
    ::SelectObject(memory.Get(), previous);
    return seen;
}

// Milliseconds from starting --exe (with --args) to its first visible window, and to the
// screen showing --color (0xRRGGBB) at --x/--y of that window: the program painted. The
// program is then ended through its handle. Fails after --timeout ms (default 60000).
int LaunchTime(const Options& options) {
    const std::wstring exe = options.Get(L"exe");
    const long long color = options.Number(L"color", -1);
    if (exe.empty() || color < 0) {
        return Fail(kUsage, L"launch-time needs --exe and --color");
    }
    const COLORREF wanted = RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
    std::wstring command_line = L"\"" + exe + L"\" " + options.Get(L"args");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency{};
    LARGE_INTEGER started{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&started);
    if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return Fail(kFailed, L"cannot start " + exe);
    }
    ScopedKernelHandle process_handle(process.hProcess);
    ScopedKernelHandle thread_handle(process.hThread);
    auto elapsed_ms = [&] {
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - started.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    };
    const double deadline = static_cast<double>(options.Number(L"timeout", 60000));
    Filter filter(options);
    filter.pid = process.dwProcessId;
    filter.exe.clear();  // --exe is the program's path here, not a name to match
    double shown = -1;
    double painted = -1;
    ScreenDc screen;
    while (painted < 0 && elapsed_ms() < deadline) {
        const std::vector<HWND> windows = TopLevelWindows(filter);
        if (!windows.empty()) {
            if (shown < 0) {
                shown = elapsed_ms();
            }
            RECT rect{};
            ::GetWindowRect(windows.front(), &rect);
            // Copied off the screen as a screenshot is (GetPixel on the screen itself
            // reads nothing under Wine).
            const COLORREF seen = ScreenPixel(screen.get(), rect.left + static_cast<int>(options.Number(L"x", 10)),
                                              rect.top + static_cast<int>(options.Number(L"y", 10)));
            const int difference = std::abs(GetRValue(seen) - GetRValue(wanted)) +
                                   std::abs(GetGValue(seen) - GetGValue(wanted)) +
                                   std::abs(GetBValue(seen) - GetBValue(wanted));
            if (seen != CLR_INVALID && difference <= 24) {
                painted = elapsed_ms();
                break;
            }
        }
        ::Sleep(1);
    }
    ::TerminateProcess(process_handle.Get(), 0);
    ::WaitForSingleObject(process_handle.Get(), 10000);
    if (painted < 0) {
        return Fail(kNotFound, L"no painted window in time");
    }
    JsonOut json;
    json.BeginObject()
        .Key("shown_us")
        .Int(static_cast<int64_t>(shown * 1000))
        .Key("painted_us")
        .Int(static_cast<int64_t>(painted * 1000))
        .EndObject();
    Print(json);
    return kDone;
}

void DescribeMessageBox(JsonOut& json, HWND box) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(box, &pid);
    std::wstring text;
    json.BeginObject();
    json.Key("hwnd").UInt(HandleValue(box));
    json.Key("title").String(TextOf(box));
    json.Key("pid").UInt(pid);
    json.Key("exe").String(ExeOf(pid));
    json.Key("buttons").BeginArray();
    for (HWND child : Children(box)) {
        if (!::IsWindowVisible(child)) {
            continue;
        }
        const std::wstring cls = ClassOf(child);
        if (_wcsicmp(cls.c_str(), L"Button") == 0) {
            json.BeginObject().Key("id").Int(::GetDlgCtrlID(child)).Key("text").String(TextOf(child)).EndObject();
        } else if (IsMessageBoxText(child)) {
            text = TextOf(child);
        }
    }
    json.EndArray();
    json.Key("text").String(text);
    json.EndObject();
}

Filter MessageBoxFilter(const Options& options) {
    Filter filter(options);
    filter.message_boxes_only = true;
    return filter;
}

int MessageBoxInfo(const Options& options) {
    HWND box = WaitForWindow(MessageBoxFilter(options), options.Number(L"timeout", 5000));
    if (box == nullptr) {
        return Fail(kNotFound, L"no message box appeared");
    }
    JsonOut json;
    DescribeMessageBox(json, box);
    Print(json);
    return kDone;
}

// Button ids of the standard names, so that tests need not know the localised captions.
int StandardButtonId(const std::wstring& name) {
    static const std::pair<const wchar_t*, int> kNames[] = {
        {L"ok", IDOK},         {L"cancel", IDCANCEL}, {L"abort", IDABORT}, {L"retry", IDRETRY},
        {L"ignore", IDIGNORE}, {L"yes", IDYES},       {L"no", IDNO},       {L"close", IDCLOSE},
        {L"help", IDHELP},     {L"tryagain", 10},     {L"continue", 11},
    };
    for (const auto& [text, id] : kNames) {
        if (_wcsicmp(text, name.c_str()) == 0) {
            return id;
        }
    }
    return 0;
}

// A caption without its accelerator marks: "是(&Y)" and "&Yes" both give their letters back.
std::wstring PlainCaption(std::wstring caption) {
    const size_t paren = caption.find(L"(&");
    if (paren != std::wstring::npos) {
        caption.erase(paren);
    }
    std::wstring plain;
    for (wchar_t c : caption) {
        if (c != L'&') {
            plain.push_back(c);
        }
    }
    return plain;
}

int MessageBoxPress(const Options& options) {
    HWND box = options.Has(L"hwnd") ? HwndFrom(options.Number(L"hwnd", 0))
                                    : WaitForWindow(MessageBoxFilter(options), options.Number(L"timeout", 5000));
    if (box == nullptr || !::IsWindow(box) || !IsMessageBox(box)) {
        return Fail(kNotFound, L"no message box appeared");
    }
    const std::wstring wanted = options.Get(L"button", L"OK");
    const int standard_id = StandardButtonId(wanted);
    for (HWND child : Children(box)) {
        if (_wcsicmp(ClassOf(child).c_str(), L"Button") != 0 || !::IsWindowVisible(child)) {
            continue;
        }
        const int id = ::GetDlgCtrlID(child);
        if (id == standard_id || PlainCaption(TextOf(child)) == PlainCaption(wanted)) {
            // The message box's own command path: it ends the box with this button's id.
            if (!::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(child))) {
                return Fail(kFailed, L"cannot post the button press");
            }
            JsonOut json;
            json.BeginObject().Key("pressed").Int(id).Key("text").String(TextOf(child)).EndObject();
            Print(json);
            return kDone;
        }
    }
    return Fail(kNotFound, L"the message box has no such button");
}

bool FindPngEncoder(CLSID* clsid) {
    UINT count = 0;
    UINT bytes = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) {
        return false;
    }
    std::vector<unsigned char> storage(bytes);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(storage.data());
    if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) {
        return false;
    }
    for (UINT i = 0; i < count; ++i) {
        if (std::wcscmp(codecs[i].MimeType, L"image/png") == 0) {
            *clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

// GDI+ for the life of one screenshot.
class GdiplusSession {
  public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() {
        if (ok_) {
            Gdiplus::GdiplusShutdown(token_);
        }
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    bool ok() const { return ok_; }

  private:
    ULONG_PTR token_ = 0;
    bool ok_ = false;
};

int Screenshot(const Options& options) {
    HWND target = TargetWindow(options);
    if (target == nullptr) {
        return Fail(kNotFound, L"no such window or control");
    }
    const std::wstring out = options.Get(L"out");
    if (out.empty()) {
        return Fail(kUsage, L"--out is required");
    }
    RECT rect = {};
    ::GetWindowRect(target, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        return Fail(kFailed, L"the window has no area");
    }
    // What is on screen there, as a person sees it: the screen, not the window's own painting.
    ScreenDc screen;
    ScopedMemoryDc memory(::CreateCompatibleDC(screen.get()));
    ScopedBitmap bitmap(::CreateCompatibleBitmap(screen.get(), width, height));
    if (!memory || !bitmap) {
        return Fail(kFailed, L"cannot create the capture bitmap");
    }
    HGDIOBJ previous = ::SelectObject(memory.Get(), bitmap.Get());
    const BOOL copied =
        ::BitBlt(memory.Get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    ::SelectObject(memory.Get(), previous);
    if (!copied) {
        return Fail(kFailed, L"cannot copy from the screen");
    }
    GdiplusSession gdiplus;
    CLSID png = {};
    if (!gdiplus.ok() || !FindPngEncoder(&png)) {
        return Fail(kFailed, L"no GDI+ PNG encoder");
    }
    Gdiplus::Status status = Gdiplus::GenericError;
    {
        Gdiplus::Bitmap image(bitmap.Get(), nullptr);
        status = image.Save(out.c_str(), &png, nullptr);
    }
    if (status != Gdiplus::Ok) {
        return Fail(kFailed, L"cannot write " + out);
    }
    JsonOut json;
    json.BeginObject().Key("out").String(out);
    AddRect(json, "rect", rect);
    json.EndObject();
    Print(json);
    return kDone;
}

int SetText(const Options& options) {
    HWND target = TargetWindow(options);
    if (target == nullptr) {
        return Fail(kNotFound, L"no such window or control");
    }
    const std::wstring text = options.Get(L"text");
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                              kMessageTimeoutMs, &result) == 0) {
        return Fail(kFailed, L"the window did not take the text");
    }
    JsonOut json;
    json.BeginObject().Key("text").String(TextOf(target)).EndObject();
    Print(json);
    return kDone;
}

// Any message, sent (waiting up to --wait ms for the result) or posted (--post).
int Message(const Options& options) {
    HWND target = TargetWindow(options);
    if (target == nullptr) {
        return Fail(kNotFound, L"no such window or control");
    }
    const auto message = static_cast<UINT>(options.Number(L"msg", -1));
    const auto wparam = static_cast<WPARAM>(options.Number(L"wparam", 0));
    const auto lparam = static_cast<LPARAM>(options.Number(L"lparam", 0));
    JsonOut json;
    json.BeginObject();
    if (options.Has(L"post")) {
        if (!::PostMessageW(target, message, wparam, lparam)) {
            return Fail(kFailed, L"PostMessage failed");
        }
        json.Key("posted").Bool(true);
    } else {
        DWORD_PTR result = 0;
        const UINT wait_ms = static_cast<UINT>(options.Number(L"wait", 2000));
        const bool completed =
            ::SendMessageTimeoutW(target, message, wparam, lparam, SMTO_NORMAL, wait_ms, &result) != 0;
        json.Key("completed").Bool(completed).Key("result").Int(static_cast<int64_t>(result));
    }
    json.EndObject();
    Print(json);
    return kDone;
}

// Whether another program could open `--path` for writing now: false while a program
// holds it open without sharing writes (the installer's lock on its finished package).
int Usage();

int CanWrite(const Options& options) {
    const std::wstring path = options.Get(L"path");
    if (path.empty()) {
        return Usage();
    }
    win::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    JsonOut json;
    json.BeginObject().Key("writable").Bool(static_cast<bool>(file)).Key("error").UInt(error).EndObject();
    Print(json);
    return kDone;
}

// Ends every process whose program is `--exe` (not this one) and waits until the system
// has finished with each: its handles, such as a single-instance mutex, are closed once
// its process handle is signalled. A program killed from outside Wine is only over for the
// host; this is the point after which the next test's program cannot still meet it.
int EndAll(const Options& options) {
    const std::wstring exe = options.Get(L"exe");
    if (exe.empty()) {
        return Usage();
    }
    const DWORD timeout = static_cast<DWORD>(options.Number(L"timeout", 30000));
    win::ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return Fail(kFailed, L"no process snapshot");
    }
    std::vector<ScopedKernelHandle> ended;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == ::GetCurrentProcessId() || _wcsicmp(entry.szExeFile, exe.c_str()) != 0) {
            continue;
        }
        ScopedKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process) {
            ::TerminateProcess(process.Get(), 1);
            ended.push_back(std::move(process));
        }
    }
    bool all_gone = true;
    for (const ScopedKernelHandle& process : ended) {
        all_gone = ::WaitForSingleObject(process.Get(), timeout) == WAIT_OBJECT_0 && all_gone;
    }
    if (!all_gone) {
        return Fail(kFailed, L"a process did not end in time");
    }
    JsonOut json;
    json.BeginObject().Key("ended").UInt(static_cast<uint32_t>(ended.size())).EndObject();
    Print(json);
    return kDone;
}

// What the programs under test see of the system: code page, locale and screen.
int Info() {
    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    ::GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH);
    JsonOut json;
    json.BeginObject();
    json.Key("acp").UInt(::GetACP());
    json.Key("oemcp").UInt(::GetOEMCP());
    json.Key("locale").String(std::wstring(locale));
    json.Key("screen")
        .BeginArray()
        .Int(::GetSystemMetrics(SM_CXSCREEN))
        .Int(::GetSystemMetrics(SM_CYSCREEN))
        .EndArray();
    json.EndObject();
    Print(json);
    return kDone;
}

int Usage() {
    return Fail(kUsage,
                L"usage: test_driver list [--pid N] [--exe NAME] [--title T] [--class C] [--all] | "
                L"wait (--title T | --class C | --exe NAME) [--timeout MS] | press --hwnd H [--id N] [--wait MS] | "
                L"mouse-click|mouse-move|mouse-down|mouse-up --hwnd H [--id N] [--x X --y Y] | "
                L"keys --hwnd H --keys tab,shift+tab,enter,space,esc,alt+f4 | accessible --hwnd H [--id N] | "
                L"launch-time --exe PATH [--args A] --color 0xRRGGBB [--x X --y Y] | "
                L"msgbox [--exe NAME] [--timeout MS] | msgbox-press [--button OK] [--hwnd H] | "
                L"screenshot --hwnd H [--id N] --out FILE.png | set-text --hwnd H [--id N] --text T | "
                L"message --hwnd H [--id N] --msg M [--wparam W] [--lparam L] [--post] | can-write --path P | info | "
                L"end-all --exe NAME [--timeout MS]");
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::wstring command = argv[1];
    const Options options(argc, argv, 2);
    if (command == L"list") {
        return List(options);
    }
    if (command == L"wait") {
        return Wait(options);
    }
    if (command == L"press") {
        return Press(options);
    }
    if (command == L"mouse-click" || command == L"mouse-move" || command == L"mouse-down" || command == L"mouse-up") {
        return Mouse(options, command);
    }
    if (command == L"keys") {
        return Keys(options);
    }
    if (command == L"accessible") {
        return Accessible(options);
    }
    if (command == L"launch-time") {
        return LaunchTime(options);
    }
    if (command == L"msgbox") {
        return MessageBoxInfo(options);
    }
    if (command == L"msgbox-press") {
        return MessageBoxPress(options);
    }
    if (command == L"screenshot") {
        return Screenshot(options);
    }
    if (command == L"set-text") {
        return SetText(options);
    }
    if (command == L"message") {
        return Message(options);
    }
    if (command == L"can-write") {
        return CanWrite(options);
    }
    if (command == L"info") {
        return Info();
    }
    if (command == L"end-all") {
        return EndAll(options);
    }
    return Usage();
}

}  // namespace
}  // namespace installer::test_driver

int wmain(int argc, wchar_t** argv) {
    // Tells the harness that the program reached its first instruction: a run that ends without
    // this line was ended by Wine before the command ran, and is safe to start again.
    std::fputs("test_driver: started\n", stderr);
    std::fflush(stderr);
    return installer::test_driver::Run(argc, argv);
}
