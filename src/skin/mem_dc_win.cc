// Off-screen drawing surface copied to its target on destruction.
#include "skin/mem_dc_win.h"

namespace installer {

CMemDC::CMemDC(HDC target, const RECT& rect) : target_(target), rect_(rect) {
    if (target == nullptr || rect.right <= 0 || rect.bottom <= 0) {
        return;
    }
    dc_.Set(::CreateCompatibleDC(target));
    if (!dc_) {
        return;
    }
    bitmap_.Set(::CreateCompatibleBitmap(target, rect.right, rect.bottom));
    if (!bitmap_) {
        return;
    }
    replaced_ = ::SelectObject(dc_.Get(), bitmap_.Get());
}

CMemDC::~CMemDC() {
    if (!IsValid()) {
        return;
    }
    if (target_ != nullptr) {
        ::BitBlt(target_, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top, dc_.Get(),
                 rect_.left, rect_.top, SRCCOPY);
    }
    if (replaced_ != nullptr && replaced_ != HGDI_ERROR) {
        ::SelectObject(dc_.Get(), replaced_);
    }
    // The context goes before the bitmap: a bitmap still selected cannot be deleted.
    dc_.Close();
    bitmap_.Close();
}

}  // namespace installer
