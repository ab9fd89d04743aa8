// skin_checks: checks of the Win32 side of the skinned toolkit that need real GDI, GDI+
// and windows: image loading through the skin's INI files, frame and nine-slice drawing
// with alpha, the background broadcast and its caches, and attaching controls.
//
//   skin_checks checks   runs every check against the test skin that the caller put in
//                        "skin\Default\" beside this program; prints "PASS name" or
//                        "FAIL name: why" per check and exits with the number of failures.
//   skin_checks bench    paints the installer's Welcome and Install pages from the skin
//                        beside the program at 96, 144 and 192 DPI many times and prints
//                        the time of the first paint and of one paint after it.
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "skin/background_win.h"
#include "skin/lr_check_box_win.h"
#include "skin/mem_dc_win.h"
#include "skin/my_label_win.h"
#include "skin/skin_manager_win.h"
#include "skin/skin_scale.h"
#include "win/gdi_win.h"
#include "win/message_filter_win.h"
#include "win/scoped_handle.h"
#include "win/subclassed_control_win.h"

namespace installer::checks {
namespace {

int g_failures = 0;

void Report(const char* name, bool ok, const std::string& why) {
    if (ok) {
        std::printf("PASS %s\n", name);
    } else {
        std::printf("FAIL %s: %s\n", name, why.c_str());
        ++g_failures;
    }
    std::fflush(stdout);
}

// Runs one check; a check returns an empty string on success, else what went wrong.
void Check(const char* name, const std::function<std::string()>& body) {
    std::string why;
    try {
        why = body();
    } catch (...) {
        why = "exception";
    }
    Report(name, why.empty(), why);
}

std::string Hex(COLORREF c) {
    char text[16];
    std::snprintf(text, sizeof(text), "%06lX", static_cast<unsigned long>(c));
    return text;
}

// A 32-bit top-down DIB selected into a memory context, whose pixels can be read back.
class Canvas {
  public:
    Canvas(int width, int height, COLORREF fill) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_.Set(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        bits_ = static_cast<uint32_t*>(bits);
        dc_.Set(::CreateCompatibleDC(nullptr));
        old_ = ::SelectObject(dc_.Get(), bitmap_.Get());
        Fill(fill);
    }
    ~Canvas() { ::SelectObject(dc_.Get(), old_); }

    void Fill(COLORREF color) {
        RECT all{0, 0, width_, height_};
        win::ScopedBrush brush(::CreateSolidBrush(color));
        ::FillRect(dc_.Get(), &all, brush.Get());
    }
    COLORREF Pixel(int x, int y) const {
        ::GdiFlush();
        const uint32_t v = bits_[y * width_ + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    HDC dc() const { return dc_.Get(); }

  private:
    int width_;
    int height_;
    win::ScopedBitmap bitmap_;
    win::ScopedMemoryDc dc_;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

bool Near(COLORREF a, COLORREF b, int tolerance = 3) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

std::string Expect(bool ok, const std::string& why) {
    return ok ? std::string() : why;
}

// --- Skin files and images ----------------------------------------------------------------

void SkinChecks() {
    CSkinManager& skin = TheSkinManager();
    const std::wstring folder = skin.GetSkinFolder();

    Check("skin folder is skin\\Default beside the program", [&] {
        wchar_t exe[MAX_PATH];
        const DWORD n = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring expected(exe, n);
        expected = expected.substr(0, expected.find_last_of(L'\\')) + L"\\skin\\Default\\";
        return Expect(folder == expected, "unexpected folder");
    });

    Check("an image is loaded once and kept by its exact name", [&] {
        CSkinImage* first = skin.GetImage(L"grid.png");
        CSkinImage* upper = skin.GetImage(L"GRID.png");  // same section, another entry
        if (first == nullptr || upper == nullptr || upper == first) {
            return std::string("names differing in case must be two loaded entries");
        }
        // Later changes of the INI files are not noticed for a loaded name.
        ::WritePrivateProfileStringW(L"grid.png", L"FileName", L"missing.png", (folder + L"skin.ini").c_str());
        return Expect(skin.GetImage(L"grid.png") == first && skin.GetImage(L"GRID.png") == upper,
                      "a second request loaded again");
    });

    Check("an empty or unknown name gives none, and a failed name is tried again", [&] {
        if (skin.GetImage(L"") != nullptr || skin.GetImage(L"late.png") != nullptr) {
            return std::string("unexpected image");
        }
        ::WritePrivateProfileStringW(L"late.png", L"FileName", L"red.png", (folder + L"skin.ini").c_str());
        ::WritePrivateProfileStringW(L"late.png", L"Count", L"1", (folder + L"skin.ini").c_str());
        return Expect(skin.GetImage(L"late.png") != nullptr, "late.png not found after it was described");
    });

    Check("a file that cannot be decoded gives none",
          [&] { return Expect(skin.GetImage(L"broken.png") == nullptr, "broken.png loaded"); });

    Check("skin_custom.ini replaces a whole section of skin.ini", [&] {
        Canvas canvas(4, 4, RGB(0, 0, 0));
        if (!skin.DrawImage(canvas.dc(), L"pick.png", RECT{0, 0, 4, 4})) {
            return std::string("pick.png not drawn");
        }
        if (!Near(canvas.Pixel(1, 1), RGB(0, 255, 0))) {
            return "pick.png drew " + Hex(canvas.Pixel(1, 1)) + ", not the custom green";
        }
        // The custom section of "fallback.png" has no FileName: skin.ini counts whole,
        // its "Orientation=2" must not leak into the description.
        canvas.Fill(RGB(0, 0, 0));
        if (!skin.DrawImage(canvas.dc(), L"fallback.png", RECT{0, 0, 4, 4})) {
            return std::string("fallback.png not drawn");
        }
        return Expect(Near(canvas.Pixel(1, 1), RGB(255, 0, 0)), "fallback.png drew " + Hex(canvas.Pixel(1, 1)));
    });

    Check("text colours: low byte of each part, red for a missing class", [&] {
        const COLORREF button = skin.GetTextColor(L"LrButton");
        const COLORREF missing = skin.GetTextColor(L"NoSuchClass");
        return Expect(button == RGB(44, 10, 20) && missing == RGB(255, 0, 0),
                      "got " + Hex(button) + " and " + Hex(missing));
    });

    Check("frame 3 of a 4-frame strip 102 pixels wide", [&] {
        CSkinImage* strip = skin.GetImage(L"strip.png");
        if (strip == nullptr) {
            return std::string("strip.png not loaded");
        }
        int w = 0, h = 0;
        strip->GetFrameSize(&w, &h, true);
        if (w != 25 || h != 10) {
            return "frame size " + std::to_string(w) + "x" + std::to_string(h);
        }
        Canvas canvas(25, 10, RGB(0, 0, 0));
        DrawImageFrame(canvas.dc(), strip, RECT{0, 0, 25, 10}, 3);
        for (int x = 0; x < 25; ++x) {
            if (!Near(canvas.Pixel(x, 5), RGB(0, 0, 200))) {
                return "column " + std::to_string(x) + " is " + Hex(canvas.Pixel(x, 5));
            }
        }
        return std::string();
    });

    Check("at 200% a frame comes from the skin's 2x copy, one to one", [&] {
        CSkinImage* strip = skin.GetImage(L"strip.png");
        if (strip == nullptr || !(strip->ScaledFrameSize(192, true) == SkinSize{50, 20})) {
            return std::string("strip.png missing or its 2x frame is not 50x20");
        }
        Canvas canvas(50, 20, RGB(0, 0, 0));
        DrawImageFrame(canvas.dc(), strip, RECT{0, 0, 50, 20}, 3, nullptr, 255, 192);
        for (int x = 0; x < 50; ++x) {
            if (canvas.Pixel(x, 10) != RGB(0, 0, 100)) {
                return "column " + std::to_string(x) + " is " + Hex(canvas.Pixel(x, 10));
            }
        }
        return std::string();
    });

    Check("at 150% a copy that does not fit is ignored and the 2x copy is resampled", [&] {
        CSkinImage* strip = skin.GetImage(L"strip.png");
        if (strip == nullptr || !(strip->ScaledFrameSize(144, true) == SkinSize{38, 15})) {
            return std::string("strip.png missing or its 1.5x frame is not 38x15");
        }
        Canvas canvas(38, 15, RGB(0, 0, 0));
        DrawImageFrame(canvas.dc(), strip, RECT{0, 0, 38, 15}, 3, nullptr, 255, 144);
        // The edges too: the filter must not pull in the neighbouring frame or fade out.
        for (int x : {0, 1, 18, 36, 37}) {
            if (!Near(canvas.Pixel(x, 7), RGB(0, 0, 100), 4) || !Near(canvas.Pixel(x, 0), RGB(0, 0, 100), 4)) {
                return "column " + std::to_string(x) + " is " + Hex(canvas.Pixel(x, 7)) + " / " +
                       Hex(canvas.Pixel(x, 0));
            }
        }
        return std::string();
    });

    Check("same-size nine-slice copies every pixel once", [&] {
        CSkinImage* grid = skin.GetImage(L"grid.png");
        Canvas canvas(10, 8, RGB(1, 2, 3));
        if (!DrawImageFrame(canvas.dc(), grid, RECT{0, 0, 10, 8}, 0)) {
            return std::string("not drawn");
        }
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 10; ++x) {
                const COLORREF expected = RGB(x * 20, y * 30, 100);
                if (canvas.Pixel(x, y) != expected) {
                    return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + Hex(canvas.Pixel(x, y));
                }
            }
        }
        return std::string();
    });

    Check("a larger destination keeps the corners and stretches the centre", [&] {
        Canvas canvas(40, 30, RGB(1, 2, 3));
        DrawImageFrame(canvas.dc(), skin.GetImage(L"grid.png"), RECT{0, 0, 40, 30}, 0);
        // Margins left 4, top 3, right 4, bottom 3: corners are copied unscaled.
        const bool corners = canvas.Pixel(0, 0) == RGB(0, 0, 100) && canvas.Pixel(3, 2) == RGB(60, 60, 100) &&
                             canvas.Pixel(39, 29) == RGB(180, 210, 100) && canvas.Pixel(36, 27) == RGB(120, 150, 100);
        return Expect(corners, "corner pixels moved: " + Hex(canvas.Pixel(3, 2)) + " " + Hex(canvas.Pixel(36, 27)));
    });

    Check("per-pixel alpha and constant alpha", [&] {
        Canvas canvas(4, 4, RGB(0, 0, 255));
        skin.DrawImage(canvas.dc(), L"alpha.png", RECT{0, 0, 4, 4}, 0, nullptr, 255);
        if (!Near(canvas.Pixel(0, 1), RGB(255, 0, 0)) || canvas.Pixel(3, 1) != RGB(0, 0, 255)) {
            return "opaque or transparent pixel wrong: " + Hex(canvas.Pixel(0, 1)) + " " + Hex(canvas.Pixel(3, 1));
        }
        canvas.Fill(RGB(0, 0, 255));
        skin.DrawImage(canvas.dc(), L"alpha.png", RECT{0, 0, 4, 4}, 0, nullptr, 128);
        return Expect(Near(canvas.Pixel(0, 1), RGB(128, 0, 127), 2) && canvas.Pixel(3, 1) == RGB(0, 0, 255),
                      "half-transparent pixel is " + Hex(canvas.Pixel(0, 1)));
    });

    Check("unusable layouts draw nothing and do not crash", [&] {
        Canvas canvas(8, 8, RGB(9, 9, 9));
        CSkinImage* diagonal = skin.GetImage(L"diagonal.png");
        if (diagonal == nullptr) {
            return std::string("an image with Orientation 2 must still load");
        }
        const bool drawn = skin.DrawImage(canvas.dc(), L"diagonal.png", RECT{0, 0, 8, 8}) ||
                           skin.DrawImage(canvas.dc(), L"zero.png", RECT{0, 0, 8, 8}) ||
                           skin.DrawImage(canvas.dc(), L"strip.png", RECT{0, 0, 8, 8}, 4) ||
                           skin.DrawImage(canvas.dc(), L"strip.png", RECT{0, 0, 8, 8}, -1) ||
                           skin.DrawImage(canvas.dc(), L"perframe.png", RECT{0, 0, 8, 8}, 2);
        int w = -1, h = -1;
        skin.GetImage(L"zero.png")->GetFrameSize(&w, &h, true);
        return Expect(!drawn && canvas.Pixel(4, 4) == RGB(9, 9, 9) && w == 0 && h == 0,
                      "something was drawn or measured");
    });

    Check("per-frame margins: frame 1 uses its own entry", [&] {
        CSkinImage* image = skin.GetImage(L"perframe.png");
        if (image == nullptr || image->info().margins.size() != 2) {
            return std::string("perframe.png must have two margins entries");
        }
        return Expect(image->info().margins[1] == SkinMargins{6, 8, 5, 7}, "wrong margins of frame 1");
    });
}

// --- Windows: broadcast, caches, attaching -----------------------------------------------------

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return ::DefWindowProcW(window, message, wparam, lparam);
}

HWND MakeWindow(HWND parent, int x, int y, int w, int h, const wchar_t* cls = L"SkinCheckWindow") {
    const DWORD style = parent != nullptr ? (WS_CHILD | WS_VISIBLE) : WS_POPUP;
    return ::CreateWindowExW(0, cls, L"", style, x, y, w, h, parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

// Sends a broadcast message from a thread of its own.
struct ForeignSend {
    HWND target;
    CBroadcastBkgMsg* broadcast;

    static DWORD WINAPI Run(void* self) {
        auto* send = static_cast<ForeignSend*>(self);
        ::SendMessageW(send->target, WM_BROADCAST_BKG, reinterpret_cast<WPARAM>(send->broadcast), 0);
        return 0;
    }
};

// A receiver of the broadcast that keeps its own cache and counts what it got.
class Receiver : public win::SubclassedControl {
  public:
    int received = 0;
    CBackgroundCache cache;

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
        if (message == WM_BROADCAST_BKG) {
            ++received;
            cache.Capture(hwnd(), wparam, lparam);
            return 0;
        }
        if (message == WM_USER + 7) {
            return 77;
        }
        return Default(message, wparam, lparam);
    }
};

void WindowChecks() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = &PlainProc;
    cls.hInstance = ::GetModuleHandleW(nullptr);
    cls.lpszClassName = L"SkinCheckWindow";
    ::RegisterClassW(&cls);

    HWND parent = MakeWindow(nullptr, 0, 0, 200, 100);
    HWND child = MakeWindow(parent, 30, 20, 40, 10);
    HWND grandchild = MakeWindow(child, 2, 2, 10, 5);

    Check("broadcast reaches children and skips grandchildren", [&] {
        Receiver a;
        Receiver b;
        if (!a.Attach(child) || !b.Attach(grandchild)) {
            return std::string("attach failed");
        }
        Canvas background(200, 100, RGB(10, 20, 30));
        CBroadcastBkgMsg broadcast(parent, background.dc());
        broadcast.Enumerate();
        if (a.received != 1 || b.received != 0) {
            return "child got " + std::to_string(a.received) + ", grandchild " + std::to_string(b.received);
        }
        Canvas copy(40, 10, RGB(0, 0, 0));
        a.cache.CopyTo(copy.dc(), 40, 10);
        return Expect(a.cache.width() == 40 && a.cache.height() == 10 && copy.Pixel(5, 5) == RGB(10, 20, 30),
                      "the cache does not hold the background");
    });

    Check("a resized control gets a cache of its new size with fresh pixels", [&] {
        Receiver a;
        a.Attach(child);
        Canvas background(200, 100, RGB(200, 0, 0));
        {
            CBroadcastBkgMsg broadcast(parent, background.dc());
            broadcast.Enumerate();
        }
        ::SetWindowPos(child, nullptr, 0, 0, 20, 6, SWP_NOMOVE | SWP_NOZORDER);
        // Only the part under the control's place is green now.
        RECT under{30, 20, 50, 26};
        win::ScopedBrush green(::CreateSolidBrush(RGB(0, 200, 0)));
        ::FillRect(background.dc(), &under, green.Get());
        {
            CBroadcastBkgMsg broadcast(parent, background.dc());
            broadcast.Enumerate();
        }
        Canvas copy(40, 10, RGB(1, 1, 1));
        a.cache.CopyTo(copy.dc(), 40, 10);
        ::SetWindowPos(child, nullptr, 0, 0, 40, 10, SWP_NOMOVE | SWP_NOZORDER);
        return Expect(a.cache.width() == 20 && a.cache.height() == 6 && copy.Pixel(19, 5) == RGB(0, 200, 0),
                      "cache " + std::to_string(a.cache.width()) + "x" + std::to_string(a.cache.height()) + ", pixel " +
                          Hex(copy.Pixel(19, 5)));
    });

    Check("releasing a cache draws nothing into the background", [&] {
        Canvas background(200, 100, RGB(50, 50, 50));
        {
            Receiver a;
            a.Attach(child);
            CBroadcastBkgMsg broadcast(parent, background.dc());
            broadcast.Enumerate();
            background.Fill(RGB(7, 7, 7));
        }  // the receiver and its cache go here
        return Expect(background.Pixel(0, 0) == RGB(7, 7, 7) && background.Pixel(35, 25) == RGB(7, 7, 7),
                      "the cache copied itself back");
    });

    Check("a broadcast from another thread is refused", [&] {
        Receiver a;
        a.Attach(child);
        Canvas background(200, 100, RGB(10, 20, 30));
        CBroadcastBkgMsg broadcast(parent, background.dc());
        // Sent from another thread, the WPARAM cannot be a pointer of ours to trust.
        ForeignSend send{child, &broadcast};
        HANDLE thread = ::CreateThread(nullptr, 0, &ForeignSend::Run, &send, 0, nullptr);
        win::ScopedKernelHandle owner(thread);
        // Pump until the thread is done, so that its sent message is delivered.
        while (::MsgWaitForMultipleObjects(1, &thread, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::DispatchMessageW(&msg);
            }
        }
        return Expect(a.received == 1 && !a.cache.HasCopy(), "the cache took a foreign broadcast");
    });

    Check("attach, message dispatch and detach restore the window", [&] {
        const LONG_PTR original = ::GetWindowLongPtrW(child, GWLP_WNDPROC);
        {
            Receiver a;
            Receiver b;
            if (!a.Attach(child) || b.Attach(child) || a.Attach(grandchild)) {
                return std::string("a window takes one object, an object one window");
            }
            if (win::SubclassedControl::FromHandle(child) != &a || ::SendMessageW(child, WM_USER + 7, 0, 0) != 77) {
                return std::string("messages do not reach the object");
            }
            MSG msg{};
            msg.hwnd = child;
            msg.message = WM_MOUSEMOVE;
            if (win::PreTranslateForControl(&msg)) {
                return std::string("the base consumed a message");
            }
        }
        return Expect(::GetWindowLongPtrW(child, GWLP_WNDPROC) == original &&
                          win::SubclassedControl::FromHandle(child) == nullptr,
                      "the window procedure was not restored");
    });

    Check("a window destroyed before its object detaches cleanly", [&] {
        Receiver a;
        HWND temporary = MakeWindow(parent, 0, 0, 5, 5);
        a.Attach(temporary);
        ::DestroyWindow(temporary);
        return Expect(a.hwnd() == nullptr, "the object still names the window");
    });

    Check("a hidden check box stays hidden when it is disabled", [&] {
        HWND box = ::CreateWindowExW(0, L"BUTTON", L"x", WS_CHILD | BS_AUTOCHECKBOX, 0, 40, 80, 16, parent, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr);
        CLrCheckBox check;
        check.Attach(box);
        ::EnableWindow(box, FALSE);
        ::EnableWindow(box, TRUE);
        check.SetCheck(BST_CHECKED);
        const bool hidden = (::GetWindowLongPtrW(box, GWL_STYLE) & WS_VISIBLE) == 0;
        const bool checked = check.GetCheck() == BST_CHECKED;
        ::DestroyWindow(box);
        return Expect(hidden && checked, hidden ? "not checked" : "the hidden check box became visible");
    });

    Check("a label keeps the new text apart from its window text", [&] {
        HWND static_control = ::CreateWindowExW(0, L"STATIC", L"old", WS_CHILD | WS_VISIBLE, 0, 60, 80, 16, parent,
                                                nullptr, ::GetModuleHandleW(nullptr), nullptr);
        CMyLabel label;
        label.Attach(static_control);
        const BOOL set = ::SetWindowTextW(static_control, L"new text");
        wchar_t text[32] = {};
        ::GetWindowTextW(static_control, text, 32);
        const bool ok = set != FALSE && std::wstring(text) == L"old" && label.GetDisplayText() == L"new text";
        ::DestroyWindow(static_control);
        return Expect(ok, "SetWindowTextW result or texts wrong");
    });

    ::DestroyWindow(parent);
}

// --- Benchmark ------------------------------------------------------------------------------

// The window's background of `stage` as the installer paints it at `dpi`.
void PaintPage(HDC dc, int stage, int dpi) {
    auto at = [dpi](int left, int top, int right, int bottom) {
        return ToRect(ScaleForDpi(SkinRect{left, top, right, bottom}, dpi));
    };
    const RECT client = at(0, 0, 500, 333);
    CSkinManager& skin = TheSkinManager();
    CMemDC surface(dc, client);
    skin.DrawImage(surface, L"dlg_border.PNG", client, 0, nullptr, 255, dpi);
    skin.DrawImage(surface, L"Logo_Title.png", at(6, 3, 32, 29), 0, nullptr, 255, dpi);
    const wchar_t* const steps[2][3] = {{L"step01.png", L"step10.png", L"step20.png"},
                                        {L"step00.png", L"step11.png", L"step20.png"}};
    for (int i = 0; i < 3; ++i) {
        skin.DrawImage(surface, steps[stage - 1][i], at(21 + 44 * i, 39, 63 + 44 * i, 59), 0, nullptr, 255, dpi);
    }
    if (stage == 2) {
        skin.DrawImage(surface, L"Install0.jpg", at(8, 75, 488, 241), 0, nullptr, 255, dpi);
    }
}

// Per scale: the first paint (decoding at 96 DPI; the larger copies, or resampling, at the
// others) and then the time of one paint.
int Bench() {
    win::ScopedGetDc screen(nullptr);
    std::printf("%5s %6s %12s %15s\n", "dpi", "stage", "first ms", "ms per paint");
    for (int dpi : {96, 144, 192}) {
        const int width = ScaleForDpi(500, dpi);
        const int height = ScaleForDpi(333, dpi);
        for (int stage = 1; stage <= 2; ++stage) {
            auto start = std::chrono::steady_clock::now();
            {
                Canvas first(width, height, RGB(0, 0, 0));
                PaintPage(first.dc(), stage, dpi);
            }
            const double first_ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            constexpr int kPaints = 200;
            start = std::chrono::steady_clock::now();
            for (int i = 0; i < kPaints; ++i) {
                Canvas target(width, height, RGB(0, 0, 0));
                PaintPage(target.dc(), stage, dpi);
            }
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            std::printf("%5d %6d %12.1f %15.2f\n", dpi, stage, first_ms, ms / kPaints);
        }
    }
    return 0;
}

}  // namespace
}  // namespace installer::checks

int wmain(int argc, wchar_t** argv) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"bench") {
        return installer::checks::Bench();
    }
    if (mode != L"checks") {
        std::printf("usage: skin_checks checks|bench\n");
        return 100;
    }
    installer::checks::SkinChecks();
    installer::checks::WindowChecks();
    std::printf("%d failed\n", installer::checks::g_failures);
    return installer::checks::g_failures;
}
