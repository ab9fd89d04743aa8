// What Enter and Space do on the installer window's controls.
#include "dialog/dialog_keys.h"

#include "dialog/resource.h"

namespace installer {

KeyEffect EffectOfKey(int control_id, int key) {
    switch (control_id) {
        case IDC_INSTALL_NOW:
        case IDC_BROWSE:
        case IDC_START_NOW:
        case IDC_CLOSE:
        case IDC_MINIMIZE:
        case IDC_ACCEPT_LICENCE:
        case IDC_START_AT_BOOT:
        case IDC_RUN_NOW:
            return key == kKeyReturn ? KeyEffect::kClick : KeyEffect::kNothingOwn;
        case IDC_LICENCE_LINK:
            return key == kKeyReturn || key == kKeySpace ? KeyEffect::kClick : KeyEffect::kNothingOwn;
        default:
            return KeyEffect::kNothingOwn;
    }
}

}  // namespace installer
