// Background broadcast from a parent to its direct children, and the children's copies.
#include "skin/background_win.h"

namespace installer {

BOOL CEnumChildWindows::Enumerate() {
    return ::EnumChildWindows(parent_, &CEnumChildWindows::Forward, reinterpret_cast<LPARAM>(this));
}

bool CEnumChildWindows::OnChildWindow(HWND) {
    return true;
}

BOOL CALLBACK CEnumChildWindows::Forward(HWND window, LPARAM self) {
    return reinterpret_cast<CEnumChildWindows*>(self)->OnChildWindow(window) ? TRUE : FALSE;
}

bool CBroadcastBkgMsg::OnChildWindow(HWND window) {
    if (::GetParent(window) == parent()) {
        ::SendMessageW(window, WM_BROADCAST_BKG, reinterpret_cast<WPARAM>(this), 0);
    }
    return true;
}

bool CBackgroundCache::Capture(HWND control, WPARAM wparam, LPARAM) {
    // The WPARAM is a pointer into the sender's stack; only a sender on this thread can
    // have made it, so a message from another thread or process is refused.
    if (wparam == 0 || ::InSendMessageEx(nullptr) != ISMEX_NOSEND) {
        return false;
    }
    const auto* broadcast = reinterpret_cast<const CBroadcastBkgMsg*>(wparam);
    HWND parent = ::GetParent(control);
    if (parent == nullptr || broadcast->background() == nullptr) {
        return false;
    }
    RECT rect{};
    if (!::GetWindowRect(control, &rect)) {
        return false;
    }
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (dc_ && (width != width_ || height != height_)) {
        Release();
    }
    if (!dc_) {
        dc_ = std::make_unique<CMemDC>(broadcast->background(), RECT{0, 0, width, height});
        // The target is the sender's memory context, gone after this paint: the cache
        // must never copy itself back.
        dc_->ClearTarget();
        width_ = width;
        height_ = height;
        if (!dc_->IsValid()) {
            Release();
            return false;
        }
    }
    return ::BitBlt(dc_->GetSafeHdc(), 0, 0, width, height, broadcast->background(), rect.left, rect.top, SRCCOPY) !=
           FALSE;
}

void CBackgroundCache::CaptureAndInvalidate(HWND control, WPARAM wparam, LPARAM lparam) {
    Capture(control, wparam, lparam);
    ::InvalidateRect(control, nullptr, TRUE);
}

void CBackgroundCache::Release() {
    if (dc_) {
        dc_->ClearTarget();
        dc_.reset();
    }
    width_ = 0;
    height_ = 0;
}

bool CBackgroundCache::CopyTo(HDC dest, int width, int height) const {
    if (!HasCopy() || dest == nullptr) {
        return false;
    }
    return ::BitBlt(dest, 0, 0, width, height, dc_->GetSafeHdc(), 0, 0, SRCCOPY) != FALSE;
}

}  // namespace installer
