// Base of the skinned controls: attaches an object to an existing child window by
// replacing its window procedure, and dispatches the window's messages to the object.
#pragma once

#include <windows.h>

#include <string>

#include "win/accessible_win.h"

namespace installer::win {

// Messages a parent hands on to the control they concern (as the application framework
// reflected them): the same WPARAM and LPARAM as the original message.
inline constexpr UINT kReflectBase = 0xBC00;
// WM_DRAWITEM of an owner-drawn control: LPARAM is the DRAWITEMSTRUCT.
inline constexpr UINT kReflectDrawItem = kReflectBase + WM_DRAWITEM;  // 0xBC2B
// WM_CTLCOLORSTATIC / WM_CTLCOLORBTN: WPARAM is the HDC, LPARAM the control's window.
// A non-zero result is the brush the parent returns.
inline constexpr UINT kReflectCtlColor = kReflectBase + 0x0019;  // 0xBC19 (0x19: the old WM_CTLCOLOR)

// Hands WM_DRAWITEM, WM_CTLCOLORSTATIC and WM_CTLCOLORBTN that a parent received on to
// the attached control they name. Returns true and sets `result` when an attached control
// answered with a non-zero result; false when the message is none of these, the control
// is not attached, or it answered 0 (the parent then takes its default handling).
bool ReflectToControl(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);

class SubclassedControl {
  public:
    SubclassedControl() = default;
    // Detaches (see Detach).
    virtual ~SubclassedControl();

    SubclassedControl(const SubclassedControl&) = delete;
    SubclassedControl& operator=(const SubclassedControl&) = delete;

    // Attaches this object to `window`: remembers the handle, calls PreSubclassWindow, then
    // puts its own procedure in front of the window's with SetWindowLongPtrW. Returns false
    // and changes nothing when `window` is not a window, this object is attached already,
    // or another object is attached to the window.
    bool Attach(HWND window);

    // Puts the previous window procedure back when the window still exists and this
    // object's procedure is still the window's; forgets the window either way. Called by
    // the destructor and when the window is destroyed.
    void Detach();

    HWND hwnd() const { return hwnd_; }

    // The object attached to `window`, or null.
    static SubclassedControl* FromHandle(HWND window);

    // What accessibility clients learn of the control: `role` (ROLE_SYSTEM_*) and `name`,
    // whatever its window text (image buttons clear theirs). Until this is called the
    // platform's own description answers. Call after Attach.
    void SetAccessible(long role, std::wstring name) { accessible_.Describe(hwnd_, role, std::move(name)); }
    void SetAccessibleName(std::wstring name) { accessible_.SetName(std::move(name)); }
    void SetAccessibleValue(std::wstring value) { accessible_.SetValue(std::move(value)); }

    // Called by the owner's message loop for each message whose window is an attached
    // control, before TranslateMessage/DispatchMessage. Returns true when the message was
    // consumed and must not be dispatched. The base consumes nothing.
    virtual bool PreTranslateMessage(MSG* message);

  protected:
    // Called by Attach after hwnd() is set and before the procedure is replaced.
    virtual void PreSubclassWindow() {}

    // Every message of the attached window. The base passes it to Default.
    virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

    // Runs the window procedure that was in place before Attach.
    LRESULT Default(UINT message, WPARAM wparam, LPARAM lparam);

    // Called once the window has been destroyed (WM_NCDESTROY handled by the previous
    // procedure); hwnd() is already null.
    virtual void OnWindowDestroyed() {}

  private:
    static LRESULT CALLBACK Thunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    WNDPROC previous_ = nullptr;
    AccessibleHolder accessible_;
};

}  // namespace installer::win
