// Lays a dialog out at a display scale: where each child control lies at 96 DPI is noted
// once, from where the template put it, and every later scale is that layout scaled edge
// by edge, with the template's font made again for the scale. Mapping the template with
// a bigger font would not do: font heights do not grow by the scale's exact ratio, and the
// controls would drift off the skin's artwork.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "skin/skin_geometry.h"
#include "skin/skin_scale.h"
#include "win/gdi_win.h"

namespace installer {

// Where `child` lies in `parent`'s client coordinates.
RECT ChildRectInParent(HWND parent, HWND child);

class WindowScale {
  public:
    // Notes the 96-DPI layout of `dialog` and its children as the template created them
    // at the window's present DPI. Call once, before the first Apply.
    void Capture(HWND dialog);

    // Sizes `dialog` and moves every child to the layout at `dpi`, giving each the font
    // for that scale; the window's top-left corner goes to `position` when given, else it
    // stays. The font the children had before is deleted only once all have the new one.
    void Apply(HWND dialog, int dpi, const POINT* position);

  private:
    SkinSize base_window_size_;
    std::vector<std::pair<HWND, SkinRect>> base_layout_;
    // The template's font (owned by the dialog) and the DPI it was made for; the font for
    // the present scale when that differs (owned).
    HFONT template_font_ = nullptr;
    int template_font_dpi_ = kBaseDpi;
    win::ScopedFont scaled_font_;
};

}  // namespace installer
