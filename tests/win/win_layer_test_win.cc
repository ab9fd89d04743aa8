// Checks of the thin Win32 layer, run under Wine: handle ownership, the dialog base's
// modal loop, the profile reader, ECDSA verification with CNG and the hover tracker. Prints one line per failed check
// and a summary; the exit code is the number of failures.
#include <windows.h>

#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/hex.h"
#include "config/publisher_key.h"
#include "win/dialog_window_win.h"
#include "win/ecdsa_verify_win.h"
#include "win/hover_tracker_win.h"
#include "win/private_profile_win.h"
#include "win/scoped_handle.h"
#include "check_count.h"

namespace {

using installer::win_checks::Check;

bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) != FALSE;
}

void TestScopedHandle() {
    using installer::win::ScopedKernelHandle;
    HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        ScopedKernelHandle a(raw);
        ScopedKernelHandle b(std::move(a));
        Check(!a.IsValid() && b.Get() == raw, "moving hands the handle over");
        ScopedKernelHandle c;
        c = std::move(b);
        Check(c.Get() == raw && IsOpen(raw), "move assignment keeps the handle open");
    }
    Check(!IsOpen(raw), "the owner closes its handle once when it goes out of scope");

    HANDLE first = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ScopedKernelHandle owner(first);
    ::SetLastError(ERROR_ACCESS_DENIED);
    owner.Set(second);
    Check(::GetLastError() == ERROR_ACCESS_DENIED, "Set keeps the thread's last error");
    Check(!IsOpen(first) && IsOpen(second), "Set closes the old handle and keeps the new one");
    HANDLE taken = owner.Take();
    Check(taken == second && !owner.IsValid(), "Take gives up ownership");
    Check(IsOpen(second), "a taken handle stays open");
    ::CloseHandle(taken);

    installer::win::ScopedFileHandle none;
    Check(none.Get() == INVALID_HANDLE_VALUE && !none, "a file handle is invalid as INVALID_HANDLE_VALUE");
}

// A dialog built in memory: the base's loop must end on EndModalLoop and give its value.
class TimedDialog : public installer::win::DialogWindow {
  public:
    bool init_called = false;

  protected:
    bool OnInitDialog() override {
        init_called = true;
        ::SetTimer(hwnd(), 1, 50, nullptr);
        return true;
    }
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
        if (message == WM_TIMER) {
            ::KillTimer(hwnd(), 1);
            EndModalLoop(42);
            return 0;
        }
        return DialogWindow::HandleMessage(message, wparam, lparam);
    }
};

void TestDialogLoop() {
    TimedDialog dialog;
    Check(dialog.Create(200, nullptr), "the dialog is created from its template");
    Check(dialog.init_called, "OnInitDialog runs during creation");
    Check(dialog.RunModalLoop() == 42, "the loop returns the value given to EndModalLoop");
}

void TestProfileReader(const std::wstring& dir) {
    const std::wstring path = dir + L"\\profile_test.ini";
    const char text[] = "[Info]\r\nFileCount = 3 \r\nName=\"quoted\"\r\n";
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(f, text, sizeof(text) - 1, &written, nullptr);
    ::CloseHandle(f);
    const installer::win::PrivateProfileReader ini(path);
    Check(ini.GetInt(L"INFO", L"filecount", 0) == 3, "names match without regard to case");
    Check(ini.GetInt(L"Info", L"Missing", 7) == 7, "a missing key gives the default");
    Check(ini.GetString(L"Info", L"Name", L"") == L"quoted", "quotes around a value are removed");
    Check(ini.GetString(L"Nope", L"Name", L"dflt") == L"dflt", "a missing section gives the default");
    ::DeleteFileW(path.c_str());
}

// The test publisher key (tests/keys/test_only_publisher_public.pem) and its signature of
// "hello" as `openssl dgst -sha256 -sign` made it, as r || s.
constexpr char kTestKeyPem[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEN5s2vii0uOJkjO15YHc6PvqYOimB\n"
    "oAeF/hl7pMreNKVirOla5lOEaOPp+sY/cpKCRlu34GIpEz8OqdsQ+iJstQ==\n"
    "-----END PUBLIC KEY-----\n";
constexpr char kHelloDigest[] = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";
constexpr char kHelloSignature[] =
    "0c6a3eefe781f5f0d2f7a234d793a272e9cd238e01afc7574723c6192c210d2a"
    "1db611a1d7a0d011a2d908a9dcf552e3b9c97fd0705b31d211c67b269aee945c";

void TestEcdsaVerify() {
    using installer::win::SignatureCheck;
    using installer::win::VerifyEcdsaP256;
    std::vector<uint8_t> blob;
    std::array<uint8_t, 32> digest{};
    std::array<uint8_t, 64> signature{};
    Check(installer::EcdsaP256PublicBlobFromPem(kTestKeyPem, blob), "the test key gives a blob");
    Check(installer::DecodeHex(kHelloDigest, digest.data(), digest.size()) &&
              installer::DecodeHex(kHelloSignature, signature.data(), signature.size()),
          "the test vectors decode");
    Check(VerifyEcdsaP256(blob, digest, signature) == SignatureCheck::kValid, "an OpenSSL signature verifies");
    std::array<uint8_t, 32> other_digest = digest;
    other_digest[31] ^= 1;
    Check(VerifyEcdsaP256(blob, other_digest, signature) == SignatureCheck::kInvalid,
          "the signature of other bytes is invalid");
    std::array<uint8_t, 64> flipped = signature;
    flipped[40] ^= 0x10;
    Check(VerifyEcdsaP256(blob, digest, flipped) == SignatureCheck::kInvalid, "a flipped bit makes it invalid");
    Check(VerifyEcdsaP256({}, digest, signature) == SignatureCheck::kUnavailable, "no key verifies nothing");
}

// Waits up to `timeout_ms` for a WM_MOUSELEAVE posted to `window`, handling what else comes.
bool MouseLeaveArrives(HWND window, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    while (true) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == window && message.message == WM_MOUSELEAVE) {
                return true;
            }
            ::DispatchMessageW(&message);
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    }
}

void TestHoverTracker() {
    // Armed over the window, leave tracking reports the mouse leaving it. (SS_NOTIFY: a
    // static control is otherwise transparent to the mouse, and nothing is tracked.)
    HWND window = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"hover", WS_POPUP | WS_VISIBLE | SS_NOTIFY, 300, 300, 80,
                                    30, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    Check(window != nullptr, "a window for the hover tracker");
    ::SetCursorPos(320, 310);
    installer::win::HoverTracker tracker;
    Check(!tracker.hover(), "no hover before the first move");
    Check(tracker.Enter(window) && tracker.hover(), "the first move enters");
    Check(!tracker.Enter(window) && tracker.hover(), "later moves do not enter again");
    ::SetCursorPos(10, 10);
    Check(MouseLeaveArrives(window, 20000), "entering arms leave tracking: WM_MOUSELEAVE comes");
    tracker.Clear();
    Check(!tracker.hover(), "the leaving clears hover");
    Check(tracker.Enter(window), "the next move enters again");
    ::DestroyWindow(window);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring dir = argc > 1 ? argv[1] : L".";
    TestScopedHandle();
    TestDialogLoop();
    TestProfileReader(dir);
    TestEcdsaVerify();
    TestHoverTracker();
    return installer::win_checks::Summary();
}
