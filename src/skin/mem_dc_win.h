// An off-screen device context for one paint: everything is drawn into it and it copies
// itself to its target when it is destroyed, so a window never shows a half-drawn state.
#pragma once

#include <windows.h>

#include "win/scoped_handle.h"

namespace installer {

class CMemDC {
  public:
    // Makes a memory context compatible with `target` holding a compatible bitmap of
    // rect.right x rect.bottom, so that `rect` has the same coordinates in both. When
    // that fails (or the size is empty) IsValid() is false, the HDC is null and the
    // destructor copies nothing. `target` is not owned.
    CMemDC(HDC target, const RECT& rect);
    // Copies `rect` to the same place of the target (unless the target was cleared) and
    // frees the bitmap and the context.
    ~CMemDC();
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    bool IsValid() const { return dc_.IsValid() && bitmap_.IsValid(); }
    HDC GetSafeHdc() const { return IsValid() ? dc_.Get() : nullptr; }
    operator HDC() const { return GetSafeHdc(); }
    const RECT& rect() const { return rect_; }

    // Forgets the target: the destructor then paints nothing.
    void ClearTarget() { target_ = nullptr; }

  private:
    win::ScopedMemoryDc dc_;
    win::ScopedBitmap bitmap_;
    HGDIOBJ replaced_ = nullptr;
    HDC target_ = nullptr;
    RECT rect_{};
};

}  // namespace installer
