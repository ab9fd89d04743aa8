// test_driver: a console program that integration tests run beside the installer (under
// Wine) to see and use its windows as a person would: list windows and controls with their
// texts, read and answer message boxes, press buttons, move and click the mouse, and save
// what is on screen for a window as a PNG file. Prints one JSON value on stdout.
//
// Exit codes: 0 done, 1 bad command line, 2 window or control not found (or timed out),
// 3 the operation failed.
#include <windows.h>

#include <objidl.h>

#include <commctrl.h>
#include <gdiplus.h>
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
    return installer::test_driver::Run(argc, argv);
}
