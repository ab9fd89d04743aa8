// CLrCheckBox: the platform's own check box (toggling, keyboard, click notification),
// with its drawing suppressed and replaced by a skin image frame and the text drawn over
// the parent's background.
#pragma once

#include <windows.h>

#include <string>

#include "skin/background_win.h"
#include "win/hover_tracker_win.h"
#include "win/subclassed_control_win.h"

namespace installer {

class CLrCheckBox : public win::SubclassedControl {
  public:
    // Text colour from the skin class "LrCheckBox"; image "btn_check.png".
    CLrCheckBox();
    ~CLrCheckBox() override;

    // Invalidates the control, then sets the check state (BST_CHECKED, BST_UNCHECKED...)
    // with BM_SETCHECK. Does nothing before Attach.
    void SetCheck(int state);
    // The DPI the check box draws at; until set, its window's.
    void SetDpi(int dpi) { dpi_ = dpi; }
    int Dpi() const;
    // BM_GETCHECK; 0 before Attach.
    int GetCheck() const;

    // Repaints on any message whose WPARAM is the space key code. Consumes nothing.
    bool PreTranslateMessage(MSG* message) override;

    bool hover() const { return hover_.hover(); }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnWindowDestroyed() override;

  private:
    // The stage below the message handlers: messages after which the platform would draw
    // run with redrawing switched off, then the control paints itself.
    LRESULT CallPlatform(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnMouseMove(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnMouseLeave();
    LRESULT OnReflectCtlColor(HDC dc);
    void Paint();

    win::HoverTracker hover_;
    RECT client_rect_{};
    COLORREF text_color_;
    std::wstring image_name_;
    int dpi_ = 0;
    CBackgroundCache background_;
};

}  // namespace installer
