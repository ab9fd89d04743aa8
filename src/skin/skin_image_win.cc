// Decoding skin images and drawing their frames with AlphaBlend.
#include "skin/skin_image_win.h"

#include "win/gdi_win.h"
#include "win/scoped_handle.h"

namespace installer {

SkinRect ToSkinRect(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

RECT ToRect(const SkinRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

bool CSkinImage::Load(const SkinImageInfo& info, const std::wstring& skin_folder) {
    Release();
    info_ = info;
    const std::wstring path = skin_folder + info.file_name;
    std::unique_ptr<Gdiplus::Bitmap> working(Gdiplus::Bitmap::FromFile(path.c_str(), FALSE));
    if (!working || working->GetLastStatus() != Gdiplus::Ok) {
        return false;
    }
    const int width = static_cast<int>(working->GetWidth());
    const int height = static_cast<int>(working->GetHeight());
    std::unique_ptr<Gdiplus::Bitmap> source(working->Clone(0, 0, width, height, PixelFormat32bppARGB));
    if (!source || source->GetLastStatus() != Gdiplus::Ok) {
        return false;
    }
    working_ = std::move(working);
    source_ = std::move(source);
    return true;
}

void CSkinImage::Release() {
    gdi_bitmap_.Close();
    source_.reset();
    working_.reset();
}

HBITMAP CSkinImage::GetGdiBitmap() const {
    if (!gdi_bitmap_ && working_) {
        HBITMAP converted = nullptr;
        if (working_->GetHBITMAP(Gdiplus::Color(0xFF000000), &converted) == Gdiplus::Ok) {
            gdi_bitmap_.Set(converted);
        }
    }
    return gdi_bitmap_.Get();
}

int CSkinImage::image_width() const {
    return working_ ? static_cast<int>(working_->GetWidth()) : 0;
}

int CSkinImage::image_height() const {
    return working_ ? static_cast<int>(working_->GetHeight()) : 0;
}

void CSkinImage::GetFrameSize(int* width, int* height, bool one_frame) const {
    SkinSize size;
    if (working_) {
        size = FrameSize(image_width(), image_height(), info_, one_frame);
    }
    if (width != nullptr) {
        *width = size.width;
    }
    if (height != nullptr) {
        *height = size.height;
    }
}

bool DrawImageFrame(HDC dc, const CSkinImage* image, const RECT& dest, int frame, const RECT* source, BYTE alpha) {
    if (dc == nullptr || image == nullptr || image->working_bitmap() == nullptr) {
        return false;
    }
    const std::optional<SkinRect> frame_rect =
        FrameSourceRect(image->image_width(), image->image_height(), image->info(), frame);
    const std::optional<SkinMargins> margins = FrameMargins(image->info(), frame);
    if (!frame_rect || !margins) {
        return false;
    }
    RECT from = ToRect(*frame_rect);
    if (source != nullptr) {
        from = RECT{frame_rect->left + source->left, frame_rect->top + source->top, frame_rect->left + source->right,
                    frame_rect->top + source->bottom};
    }
    DrawNineSlice(dc, from, dest, *image, *margins, alpha);
    return true;
}

void DrawNineSlice(HDC dc,
                   const RECT& source,
                   const RECT& dest,
                   const CSkinImage& image,
                   const SkinMargins& margins,
                   BYTE alpha) {
    // Converted once per image rather than at every draw: painting the window draws a
    // dozen images, and the conversion cost more than the blending.
    HBITMAP gdi_bitmap = image.GetGdiBitmap();
    if (dc == nullptr || gdi_bitmap == nullptr) {
        return;
    }
    win::ScopedMemoryDc memory(::CreateCompatibleDC(dc));
    if (!memory) {
        return;
    }
    win::ScopedSelectObject select(memory.Get(), gdi_bitmap);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, alpha, AC_SRC_ALPHA};
    for (const NineSlicePiece& piece : NineSlicePieces(ToSkinRect(source), ToSkinRect(dest), margins)) {
        if (piece.source.width() <= 0 || piece.source.height() <= 0 || piece.dest.width() <= 0 ||
            piece.dest.height() <= 0) {
            continue;
        }
        ::AlphaBlend(dc, piece.dest.left, piece.dest.top, piece.dest.width(), piece.dest.height(), memory.Get(),
                     piece.source.left, piece.source.top, piece.source.width(), piece.source.height(), blend);
    }
}

}  // namespace installer
