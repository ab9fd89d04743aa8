// Decoding skin images and drawing their frames with AlphaBlend.
#include "skin/skin_image_win.h"

#include <vector>

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
    return Load(info, SkinFiles(skin_folder, nullptr));
}

bool CSkinImage::Load(const SkinImageInfo& info, const SkinFiles& files) {
    Release();
    info_ = info;
    const SkinFileOrigin origin = files.Find(info.file_name);
    ScopedStream stream;
    std::unique_ptr<Gdiplus::Bitmap> working = files.DecodeImage(info.file_name, origin, &stream);
    if (!working) {
        return false;
    }
    const int width = static_cast<int>(working->GetWidth());
    const int height = static_cast<int>(working->GetHeight());
    std::unique_ptr<Gdiplus::Bitmap> source(working->Clone(0, 0, width, height, PixelFormat32bppARGB));
    if (!source || source->GetLastStatus() != Gdiplus::Ok) {
        return false;  // `working` goes before `stream`
    }
    if (stream) {
        streams_.push_back(std::move(stream));
    }
    working_ = std::move(working);
    source_ = std::move(source);
    files_ = files;
    origin_ = origin;
    return true;
}

void CSkinImage::Release() {
    scaled_.clear();
    variants_.clear();
    variants_loaded_ = false;
    gdi_bitmap_.Close();
    source_.reset();
    working_.reset();
    streams_.clear();  // after every bitmap that may read them
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

SkinSize CSkinImage::ScaledFrameSize(int dpi, bool one_frame) const {
    if (!working_) {
        return {};
    }
    const SkinSize frame = ScaleForDpi(FrameSize(image_width(), image_height(), info_, true), dpi);
    if (one_frame) {
        return frame;
    }
    const int count = static_cast<int>(info_.frame_count);
    return info_.direction == kFramesSideBySide ? SkinSize{frame.width * count, frame.height}
                                                : SkinSize{frame.width, frame.height * count};
}

const std::map<int, std::unique_ptr<Gdiplus::Bitmap>>& CSkinImage::Variants() const {
    if (!variants_loaded_) {
        variants_loaded_ = true;
        for (int candidate : kImageVariantPercents) {
            const std::wstring name = ImageVariantFileName(info_.file_name, candidate);
            // Only from where the 1x file came from.
            const bool there = origin_ == SkinFileOrigin::kFolder ? files_.Find(name) == SkinFileOrigin::kFolder
                                                                  : !files_.Embedded(name).empty();
            if (!there) {
                continue;
            }
            ScopedStream stream;
            std::unique_ptr<Gdiplus::Bitmap> copy = files_.DecodeImage(name, origin_, &stream);
            // A copy that does not fit the 1x image's frames would draw the wrong pieces.
            if (copy &&
                IsPlausibleVariantSize(static_cast<int>(copy->GetWidth()), static_cast<int>(copy->GetHeight()),
                                       image_width(), image_height(), static_cast<int>(info_.frame_count), candidate)) {
                if (stream) {
                    streams_.push_back(std::move(stream));
                }
                variants_.emplace(candidate, std::move(copy));
            }
        }
    }
    return variants_;
}

const CSkinImage::Scaled* CSkinImage::AtDpi(int dpi) const {
    if (!working_ || dpi < 1 || dpi == kBaseDpi) {
        return nullptr;
    }
    auto found = scaled_.find(dpi);
    if (found == scaled_.end()) {
        found = scaled_.emplace(dpi, MakeScaled(dpi)).first;
    }
    return found->second.get();
}

std::unique_ptr<CSkinImage::Scaled> CSkinImage::MakeScaled(int dpi) const {
    // Room for the largest real skin images at 2x, not for absurd frame counts.
    constexpr int kMaxSide = 16384;
    const SkinSize target = ScaledFrameSize(dpi, true);
    const SkinSize whole = ScaledFrameSize(dpi, false);
    if (target.width <= 0 || target.height <= 0 || whole.width > kMaxSide || whole.height > kMaxSide) {
        return nullptr;
    }
    const auto& variants = Variants();
    std::vector<int> available;
    for (const auto& [percent, bitmap] : variants) {
        available.push_back(percent);
    }
    const int chosen = ChooseImageVariant(dpi, available);
    Gdiplus::Bitmap* from = chosen == 100 ? working_.get() : variants.at(chosen).get();
    const int from_width = static_cast<int>(from->GetWidth());
    const int from_height = static_cast<int>(from->GetHeight());
    auto scaled = std::make_unique<Scaled>();
    scaled->width = whole.width;
    scaled->height = whole.height;
    HBITMAP converted = nullptr;
    if (from_width == whole.width && from_height == whole.height) {
        // The skin drew this scale itself: nothing to resample.
        if (from->GetHBITMAP(Gdiplus::Color(0xFF000000), &converted) != Gdiplus::Ok) {
            return nullptr;
        }
        scaled->bitmap.Set(converted);
        return scaled;
    }
    Gdiplus::Bitmap strip(whole.width, whole.height, PixelFormat32bppARGB);
    Gdiplus::Graphics graphics(&strip);
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    // Mirrored beyond the frame's edges, so that the filter does not fade the edges into
    // transparency or pull in the next frame.
    Gdiplus::ImageAttributes edges;
    edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    const SkinSize from_frame = FrameSize(from_width, from_height, info_, true);
    for (int i = 0; i < static_cast<int>(info_.frame_count); ++i) {
        const bool across = info_.direction == kFramesSideBySide;
        const Gdiplus::Rect to(across ? i * target.width : 0, across ? 0 : i * target.height, target.width,
                               target.height);
        graphics.DrawImage(from, to, across ? i * from_frame.width : 0, across ? 0 : i * from_frame.height,
                           from_frame.width, from_frame.height, Gdiplus::UnitPixel, &edges);
    }
    if (graphics.GetLastStatus() != Gdiplus::Ok ||
        strip.GetHBITMAP(Gdiplus::Color(0xFF000000), &converted) != Gdiplus::Ok) {
        return nullptr;
    }
    scaled->bitmap.Set(converted);
    return scaled;
}

bool DrawImageFrame(HDC dc,
                    const CSkinImage* image,
                    const RECT& dest,
                    int frame,
                    const RECT* source,
                    BYTE alpha,
                    int dpi) {
    if (dc == nullptr || image == nullptr || image->working_bitmap() == nullptr) {
        return false;
    }
    HBITMAP bitmap = nullptr;
    int width = image->image_width();
    int height = image->image_height();
    int scale_dpi = kBaseDpi;
    if (const CSkinImage::Scaled* scaled = image->AtDpi(dpi)) {
        bitmap = scaled->bitmap.Get();
        width = scaled->width;
        height = scaled->height;
        scale_dpi = dpi;
    } else {
        // At 96 DPI, or when the scaled look cannot be made: the image itself, stretched.
        bitmap = image->GetGdiBitmap();
    }
    const std::optional<SkinRect> frame_rect = FrameSourceRect(width, height, image->info(), frame);
    const std::optional<SkinMargins> margins = FrameMargins(image->info(), frame);
    if (!frame_rect || !margins) {
        return false;
    }
    RECT from = ToRect(*frame_rect);
    if (source != nullptr) {
        const SkinRect within = ScaleForDpi(ToSkinRect(*source), scale_dpi);
        from = RECT{frame_rect->left + within.left, frame_rect->top + within.top, frame_rect->left + within.right,
                    frame_rect->top + within.bottom};
    }
    DrawNineSlice(dc, from, dest, bitmap, ScaleForDpi(*margins, scale_dpi), alpha);
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
    DrawNineSlice(dc, source, dest, image.GetGdiBitmap(), margins, alpha);
}

void DrawNineSlice(HDC dc,
                   const RECT& source,
                   const RECT& dest,
                   HBITMAP gdi_bitmap,
                   const SkinMargins& margins,
                   BYTE alpha) {
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
