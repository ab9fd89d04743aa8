// A decoded skin image (PNG or JPEG through GDI+) with its frame layout, its look at other
// display scales, and the drawing of one frame as a nine-slice with per-pixel and
// constant alpha.
#pragma once

#include <windows.h>
// clang-format off
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "skin/skin_files_win.h"
#include "skin/skin_geometry.h"
#include "skin/skin_scale.h"
#include "win/scoped_handle.h"

namespace installer {

class CSkinImage {
  public:
    CSkinImage() = default;
    ~CSkinImage() = default;
    CSkinImage(const CSkinImage&) = delete;
    CSkinImage& operator=(const CSkinImage&) = delete;

    // Releases what it holds, copies `info` and decodes skin_folder + info.file_name
    // (`skin_folder` ends in a separator). Returns true when both the working bitmap and
    // its 32-bit ARGB copy exist; on false the image holds no bitmap. GDI+ must be
    // started (a CGDIPlus exists).
    bool Load(const SkinImageInfo& info, const std::wstring& skin_folder);

    // The same from the skin's files: the folder's file when it is there, else the
    // built-in one. The larger copies come from the same place as the 1x file, so that a
    // publisher's own image is never drawn at another scale from the built-in skin.
    bool Load(const SkinImageInfo& info, const SkinFiles& files);

    // Deletes both bitmaps; the description stays.
    void Release();

    // Size of one frame (`one_frame`) or of the whole image; 0 x 0 without a bitmap, an
    // unknown direction or a frame count of 0.
    void GetFrameSize(int* width, int* height, bool one_frame) const;

    // The same at `dpi`: each frame's 1x size scaled, the strip made of such frames.
    SkinSize ScaledFrameSize(int dpi, bool one_frame) const;

    const SkinImageInfo& info() const { return info_; }
    // The bitmap drawn; null when not loaded. Owned by the image.
    Gdiplus::Bitmap* working_bitmap() const { return working_.get(); }
    int image_width() const;
    int image_height() const;

    // The working bitmap as a 32-bit premultiplied GDI bitmap for AlphaBlend, made on
    // first use and kept until Release; null when the conversion fails. Owned by the image.
    HBITMAP GetGdiBitmap() const;

    // The image as drawn at `dpi`: every frame at its scaled size, made from the skin's
    // copy for the nearest scale at or above (or the largest it has; the 1x file when it
    // has none) and resampled with bicubic filtering when that copy's size differs. Made on
    // first use for each DPI and kept until Release.
    struct Scaled {
        win::ScopedBitmap bitmap;  // 32-bit premultiplied, for AlphaBlend
        int width = 0;
        int height = 0;
    };
    // Null at 96 DPI (draw the image itself) and when it cannot be made.
    const Scaled* AtDpi(int dpi) const;

  private:
    // The skin's larger copies that fit this image, by percent; loaded on first call.
    const std::map<int, std::unique_ptr<Gdiplus::Bitmap>>& Variants() const;
    std::unique_ptr<Scaled> MakeScaled(int dpi) const;

    // Streams of images decoded from memory: declared first, released last.
    mutable std::vector<ScopedStream> streams_;
    std::unique_ptr<Gdiplus::Bitmap> working_;
    std::unique_ptr<Gdiplus::Bitmap> source_;
    SkinImageInfo info_;
    SkinFiles files_{L"", nullptr};
    SkinFileOrigin origin_ = SkinFileOrigin::kNone;
    mutable win::ScopedBitmap gdi_bitmap_;
    mutable std::map<int, std::unique_ptr<Gdiplus::Bitmap>> variants_;
    mutable bool variants_loaded_ = false;
    mutable std::map<int, std::unique_ptr<Scaled>> scaled_;
};

// Draws frame `frame` of `image` into `dest` of `dc` as a nine-slice. `source`, when
// given, is a rectangle relative to the frame's top-left corner that replaces the frame.
// `alpha` (0-255) scales the image's own alpha. At a `dpi` other than 96 the image's
// scaled look is drawn, with `source` and the margins (both in 1x pixels) scaled alike;
// `dest` is in the device's pixels. Returns false and draws nothing without a loaded
// image, with an unknown direction, a frame count of 0, or a frame outside the strip or
// its margins list.
bool DrawImageFrame(HDC dc,
                    const CSkinImage* image,
                    const RECT& dest,
                    int frame,
                    const RECT* source = nullptr,
                    BYTE alpha = 255,
                    int dpi = kBaseDpi);

// Blends the nine pieces of `source` (in the image) to the pieces of `dest`, corners
// unstretched, edges and centre stretched. Pieces without area are skipped. Draws nothing
// when the image cannot be converted to a GDI bitmap.
void DrawNineSlice(HDC dc,
                   const RECT& source,
                   const RECT& dest,
                   const CSkinImage& image,
                   const SkinMargins& margins,
                   BYTE alpha);
// The same from a 32-bit premultiplied GDI bitmap.
void DrawNineSlice(HDC dc,
                   const RECT& source,
                   const RECT& dest,
                   HBITMAP bitmap,
                   const SkinMargins& margins,
                   BYTE alpha);

SkinRect ToSkinRect(const RECT& r);
RECT ToRect(const SkinRect& r);

}  // namespace installer
