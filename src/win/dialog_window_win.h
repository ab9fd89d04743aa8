// A modeless dialog created from a template, with a modal message loop of its own:
// the thin stand-in for the framework's dialog class.
#pragma once

#include <windows.h>

#include <optional>

namespace installer::win {

class DialogWindow {
  public:
    DialogWindow() = default;
    virtual ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Creates the dialog from template resource `template_id` of the executable.
    // Returns false on failure; the thread's last error then says why.
    bool Create(int template_id, HWND parent);

    // Pumps messages until EndModalLoop is called or the window is destroyed, and
    // returns the value given to EndModalLoop (0 when the window went away first).
    // Each message first goes to the attached control's PreTranslateMessage, then to
    // PreTranslateDialogMessage, then to the dialog manager (keyboard navigation), then
    // to its window.
    int RunModalLoop();
    void EndModalLoop(int result);

    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }

  protected:
    // Called for WM_INITDIALOG; the return value is the dialog procedure's.
    virtual bool OnInitDialog() { return true; }

    // A message for the dialog. Returns the result when handled, or nothing to let
    // the dialog manager's default handling run.
    virtual std::optional<LRESULT> HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

    // A message of the modal loop after the control's PreTranslateMessage and before the
    // dialog manager: true when it was handled and must go no further.
    virtual bool PreTranslateDialogMessage(const MSG&) { return false; }

    // Close requests: both end the modal loop; IDOK and IDCANCEL arrive here.
    virtual void OnOK() { EndModalLoop(IDOK); }
    virtual void OnCancel() { EndModalLoop(IDCANCEL); }

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    bool loop_ended_ = false;
    int loop_result_ = 0;
};

}  // namespace installer::win
