// Keyboard use of the installer window, apart from the window: the order in which Tab
// visits the controls, and what Enter and Space do on each. No drawing, no platform.
#pragma once

#include <array>

namespace installer {

// The controls Tab visits, in order (Shift+Tab backwards); hidden and disabled ones are
// skipped, so each stage gets its own part of the list: on Welcome the licence check box
// and its link, the folder field and 浏览, the two options and 立即安装; on Finish 立即启动;
// in every stage minimise and close last.
inline constexpr std::array<int, 10> kTabOrder = {
    1013,  // licence accepted
    1020,  // licence link
    1014,  // installation folder
    1015,  // 浏览
    1016,  // 开机启动
    1017,  // 立即运行
    1011,  // 立即安装
    1024,  // 立即启动
    1022,  // minimise
    1021,  // close
};

// What a key pressed on a control does.
enum class KeyEffect {
    kNothingOwn,  // left to the platform: Tab, arrows, typing, Space on buttons and check boxes
    kClick,       // acts as a click of the control
};

// Key codes as the platform numbers them.
inline constexpr int kKeyReturn = 0x0D;
inline constexpr int kKeySpace = 0x20;

// The effect of `key` pressed while the control `control_id` has the focus: Enter clicks
// every button, check box and the link (the platform would take it for the dialog's
// default button, which this window does not have); Space clicks the link (buttons and
// check boxes click themselves on Space). Everything else is the platform's.
KeyEffect EffectOfKey(int control_id, int key);

}  // namespace installer
