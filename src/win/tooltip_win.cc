// Tooltip windows for single controls.
#include "win/tooltip_win.h"

#include <commctrl.h>

namespace installer::win {
namespace {

// The whole control is the tool: identified by its window handle (as the framework's
// tooltip does for tool id 0), so the tooltip covers the control wherever it is.
TTTOOLINFOW ToolInfo(HWND tool) {
    TTTOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.uFlags = TTF_IDISHWND;
    info.hwnd = ::GetParent(tool);
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    return info;
}

}  // namespace

bool Tooltip::Create(HWND tool, int automatic_delay_ms) {
    window_.Set(::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, tool, nullptr, ::GetModuleHandleW(nullptr), nullptr));
    if (!window_) {
        tool_ = nullptr;
        return false;
    }
    tool_ = tool;
    TTTOOLINFOW info = ToolInfo(tool);
    ::SendMessageW(window_.Get(), TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    info.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(window_.Get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    ::SendMessageW(window_.Get(), TTM_SETDELAYTIME, TTDT_AUTOMATIC, MAKELPARAM(automatic_delay_ms, 0));
    return true;
}

void Tooltip::SetText(const std::wstring& text) {
    if (!exists()) {
        return;
    }
    std::wstring cut = text.substr(0, 1023);
    TTTOOLINFOW info = ToolInfo(tool_);
    info.lpszText = cut.data();
    ::SendMessageW(window_.Get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void Tooltip::Relay(const MSG* message) {
    if (exists() && message != nullptr) {
        ::SendMessageW(window_.Get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message));
    }
}

}  // namespace installer::win
