// Static texts that look transparent on the skinned dialog: CMyLabel (plain text) and
// CMyUrlLabel (an underlined link with hover and pressed colours, a hand cursor, a
// tooltip when the text does not fit and STN_CLICKED to the parent). Both keep the text
// given by SetWindowTextW in the object and repaint over a fresh background.
#pragma once

#include <windows.h>

#include <string>

#include "skin/background_win.h"
#include "skin/gdiplus_win.h"
#include "win/gdi_win.h"
#include "win/hover_tracker_win.h"
#include "win/subclassed_control_win.h"
#include "win/tooltip_win.h"

namespace installer {

// What both labels share: the own text and the background copy.
class LabelBase : public win::SubclassedControl {
  public:
    // The text the label shows: the last text set with WM_SETTEXT, else the window text.
    std::wstring GetDisplayText() const;

  protected:
    // WM_SETTEXT: keeps `text` in the object (the window text stays) and, when it
    // differs, invalidates the parent under the label and the label.
    LRESULT OnSetText(const wchar_t* text);
    // The DrawTextW format for the label's style.
    UINT DrawTextFormat() const;
    void OnWindowDestroyed() override;

    CGDIPlus gdiplus_;
    bool own_text_set_ = false;
    std::wstring own_text_;
    CBackgroundCache background_;
};

class CMyLabel : public LabelBase {
  public:
    CMyLabel() = default;
    ~CMyLabel() override = default;

    // Colour of the text while enabled (disabled labels draw white). Black by default.
    void SetTextColor(COLORREF color) { text_color_ = color; }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  private:
    void Paint(HDC dc);

    COLORREF text_color_ = RGB(0, 0, 0);
};

class CMyUrlLabel : public LabelBase {
  public:
    CMyUrlLabel() = default;
    ~CMyUrlLabel() override;

    // Relays mouse messages to the tooltip. Consumes nothing.
    bool PreTranslateMessage(MSG* message) override;

    void SetColors(COLORREF normal, COLORREF hover, COLORREF pressed);
    COLORREF current_color() const { return current_color_; }
    bool hover() const { return hover_.hover(); }
    // The full text once a paint found it wider than the label; else empty.
    const std::wstring& tooltip_text() const { return tooltip_text_; }

  protected:
    // Adds SS_NOTIFY, sets an underlined copy of the label's font, makes the tooltip.
    void PreSubclassWindow() override;
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnWindowDestroyed() override;

  private:
    LRESULT OnMouseMove(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnLButtonDown(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnLButtonUp();
    LRESULT OnMouseLeave();
    LRESULT OnSetFont(WPARAM font, LPARAM redraw);
    // Keeps an underlined copy of `base` in underlined_font_; false when none could be made.
    bool MakeUnderlinedCopy(HFONT base);
    void Enter();
    void Leave();
    void Paint();

    win::HoverTracker hover_;
    COLORREF current_color_ = RGB(25, 86, 169);
    COLORREF pressed_color_ = RGB(0, 0, 255);
    COLORREF hover_color_ = RGB(0, 0, 255);
    COLORREF normal_color_ = RGB(25, 86, 169);
    win::ScopedFont underlined_font_;
    HFONT original_font_ = nullptr;  // the label's font before the underlined one; not owned
    win::Tooltip tooltip_;
    std::wstring tooltip_text_;
    bool tooltip_text_pending_ = false;
    int pressed_ = 0;
};

}  // namespace installer
