// CLrButton: an owner-drawn push button whose faces are the frames of a skin image,
// drawn over the parent's background, with hover tracking, a tooltip and press/release
// notifications to the parent.
#pragma once

#include <windows.h>

#include <string>

#include "skin/background_win.h"
#include "skin/gdiplus_win.h"
#include "win/hover_tracker_win.h"
#include "win/subclassed_control_win.h"
#include "win/tooltip_win.h"

namespace installer {

// WM_NOTIFY codes sent to the parent (NMHDR with the button's window and id; WPARAM the id).
inline constexpr UINT kLrButtonNotifyDown = 0x1004;
inline constexpr UINT kLrButtonNotifyUp = 0x1005;
// Posted by a button to itself after attaching; LPARAM is its own tooltip's address.
inline constexpr UINT WM_INIT_TOOLTIP = 0x0AD4;

class CLrButton : public win::SubclassedControl {
  public:
    // Text colour from the skin class "LrButton"; image "btn_normal.png".
    CLrButton();
    ~CLrButton() override;

    // Name of the skin image whose frames 0-4 are the faces (normal, hover, pressed,
    // disabled, focused). Takes effect at the next paint; does not repaint.
    void SetImage(const std::wstring& image_name) { image_name_ = image_name; }
    // The DPI the button draws at; until set, its window's.
    void SetDpi(int dpi) { dpi_ = dpi; }
    int Dpi() const;
    const std::wstring& image_name() const { return image_name_; }

    // Text the tooltip shows; pushed to the tooltip each time the mouse enters.
    void SetToolTipText(const std::wstring& text);

    // Relays mouse messages to the tooltip. Consumes nothing.
    bool PreTranslateMessage(MSG* message) override;

    bool hover() const { return hover_.hover(); }
    bool button_down() const { return button_down_ != 0; }

  protected:
    // Adds BS_OWNERDRAW and posts WM_INIT_TOOLTIP to itself.
    void PreSubclassWindow() override;
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnWindowDestroyed() override;

    // Reflected WM_DRAWITEM.
    void DrawItem(const DRAWITEMSTRUCT& item);

  private:
    LRESULT OnLButtonDown(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnLButtonUp(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnMouseMove(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnMouseLeave();
    LRESULT OnInitTooltip(LPARAM lparam);
    void NotifyParent(UINT code);
    void Paint();

    win::HoverTracker hover_;
    int button_down_ = 0;
    CGDIPlus gdiplus_;
    RECT client_rect_{};
    int pressed_offset_ = 0;
    COLORREF text_color_;
    UINT item_state_ = 0;
    std::wstring image_name_;
    int dpi_ = 0;
    CBackgroundCache background_;
    std::wstring tooltip_text_;
    bool tooltip_text_pending_ = false;
    win::Tooltip tooltip_;
};

}  // namespace installer
