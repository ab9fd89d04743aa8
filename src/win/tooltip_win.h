// A tooltip window for one control (the control is the tool, id 0), as the skinned
// controls use it: made once, text pushed when the mouse enters, mouse messages relayed.
#pragma once

#include <windows.h>

#include <string>

#include "win/gdi_win.h"

namespace installer::win {

class Tooltip {
  public:
    Tooltip() = default;
    Tooltip(const Tooltip&) = delete;
    Tooltip& operator=(const Tooltip&) = delete;

    // Creates the tooltip window (owner `tool`), removes and adds `tool` as its tool
    // (id 0, text by callback, no rectangle) and sets the automatic delay. Returns false
    // when the window cannot be made (common controls not initialised). A second call
    // replaces the first tooltip.
    bool Create(HWND tool, int automatic_delay_ms);

    // Sets the tool's text; texts longer than 1,023 characters are cut. Does nothing
    // before Create.
    void SetText(const std::wstring& text);

    // Hands a mouse message of the tool to the tooltip (TTM_RELAYEVENT).
    void Relay(const MSG* message);

    void Destroy() { window_.Close(); }
    // Forgets a tooltip that the system has destroyed with its owner.
    void Forget() { (void)window_.Take(); }
    HWND hwnd() const { return window_.Get(); }
    bool exists() const { return window_.IsValid() && ::IsWindow(window_.Get()); }

  private:
    ScopedWindow window_;
    HWND tool_ = nullptr;
};

}  // namespace installer::win
