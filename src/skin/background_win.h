// The background broadcast: a parent that has painted its background into a memory
// context hands it to its direct children, which keep a copy of the part under
// themselves and paint over it, so that they look transparent.
#pragma once

#include <windows.h>

#include <memory>

#include "skin/mem_dc_win.h"

namespace installer {

// Sent (never posted) by CBroadcastBkgMsg to each direct child. WPARAM: the
// CBroadcastBkgMsg*, valid during the call only; LPARAM: 0. Receivers return 0.
inline constexpr UINT WM_BROADCAST_BKG = 0x1ED4;

// Calls OnChildWindow for every child window (grandchildren included) of a parent.
class CEnumChildWindows {
  public:
    explicit CEnumChildWindows(HWND parent) : parent_(parent) {}
    virtual ~CEnumChildWindows() = default;

    // Result of EnumChildWindows on the parent.
    BOOL Enumerate();

    HWND parent() const { return parent_; }

  protected:
    // Return false to stop the enumeration. The base goes on.
    virtual bool OnChildWindow(HWND window);

  private:
    static BOOL CALLBACK Forward(HWND window, LPARAM self);

    HWND parent_;
};

// Sends WM_BROADCAST_BKG with itself to each direct child of the parent.
class CBroadcastBkgMsg : public CEnumChildWindows {
  public:
    // `background` holds the painted background in the parent's client coordinates; it is
    // not owned and must stay valid during Enumerate.
    CBroadcastBkgMsg(HWND parent, HDC background) : CEnumChildWindows(parent), background_(background) {}

    HDC background() const { return background_; }

  protected:
    bool OnChildWindow(HWND window) override;

  private:
    HDC background_;
};

// A control's copy of the background under it.
class CBackgroundCache {
  public:
    CBackgroundCache() = default;
    // Releases without painting.
    ~CBackgroundCache() { Release(); }
    CBackgroundCache(const CBackgroundCache&) = delete;
    CBackgroundCache& operator=(const CBackgroundCache&) = delete;

    // Copies the part of the broadcast's background under `control` into the cache,
    // remaking the cache when the control's size changed. `wparam`/`lparam` are those of
    // WM_BROADCAST_BKG. Returns false (cache unchanged) for a null broadcast, a message
    // sent from another thread (its WPARAM cannot be trusted as a pointer), a control
    // without a parent, or a failed copy.
    bool Capture(HWND control, WPARAM wparam, LPARAM lparam);

    // Capture, then invalidates the whole control with erasing.
    void CaptureAndInvalidate(HWND control, WPARAM wparam, LPARAM lparam);

    // Drops the copy without drawing anything anywhere.
    void Release();

    bool HasCopy() const { return dc_ != nullptr && dc_->IsValid(); }
    int width() const { return width_; }
    int height() const { return height_; }

    // Copies the cached background to (0, 0) of `dest`, `width` x `height`. Returns false
    // and copies nothing when there is no copy.
    bool CopyTo(HDC dest, int width, int height) const;

  private:
    std::unique_ptr<CMemDC> dc_;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace installer
