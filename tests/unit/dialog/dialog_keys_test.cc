// The keyboard's reach over the installer window: every control the mouse can click can be
// reached with Tab and clicked with a key.
#include "dialog/dialog_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "dialog/resource.h"

namespace installer {
namespace {

// Every control of the window that a mouse click acts on.
constexpr int kClickable[] = {IDC_ACCEPT_LICENCE, IDC_LICENCE_LINK, IDC_BROWSE,   IDC_START_AT_BOOT, IDC_RUN_NOW,
                              IDC_INSTALL_NOW,    IDC_START_NOW,    IDC_MINIMIZE, IDC_CLOSE};

bool InTabOrder(int id) {
    return std::find(kTabOrder.begin(), kTabOrder.end(), id) != kTabOrder.end();
}

TEST(DialogKeysTest, TabReachesEveryClickableControlAndTheFolderFieldOnce) {
    const std::set<int> distinct(kTabOrder.begin(), kTabOrder.end());
    EXPECT_EQ(distinct.size(), kTabOrder.size());
    for (int id : kClickable) {
        EXPECT_TRUE(InTabOrder(id)) << id;
        EXPECT_EQ(EffectOfKey(id, kKeyReturn), KeyEffect::kClick) << id;
    }
    EXPECT_TRUE(InTabOrder(IDC_INSTALL_DIR));
    // Nothing that only shows something is a stop.
    for (int id : {IDC_PROGRESS, IDC_PROGRESS_TEXT, IDC_PICTURE, IDC_TITLE_BAR, IDC_CUSTOM_LINK}) {
        EXPECT_FALSE(InTabOrder(id)) << id;
    }
}

TEST(DialogKeysTest, WelcomeOrderReadsDownThePage) {
    // The controls of the Welcome page in the order they are read: licence, folder,
    // options, then the button that goes on.
    const int welcome[] = {IDC_ACCEPT_LICENCE, IDC_LICENCE_LINK, IDC_INSTALL_DIR, IDC_BROWSE,
                           IDC_START_AT_BOOT,  IDC_RUN_NOW,      IDC_INSTALL_NOW};
    auto position = [](int id) { return std::find(kTabOrder.begin(), kTabOrder.end(), id) - kTabOrder.begin(); };
    for (size_t i = 1; i < std::size(welcome); ++i) {
        EXPECT_LT(position(welcome[i - 1]), position(welcome[i])) << welcome[i];
    }
    // The window's own buttons come after the page's.
    EXPECT_LT(position(IDC_INSTALL_NOW), position(IDC_MINIMIZE));
    EXPECT_LT(position(IDC_START_NOW), position(IDC_MINIMIZE));
    EXPECT_LT(position(IDC_MINIMIZE), position(IDC_CLOSE));
}

TEST(DialogKeysTest, EnterClicksSpaceOnlyWhereThePlatformDoesNot) {
    // Buttons and check boxes click themselves on Space: a second click would undo a toggle.
    for (int id : {IDC_INSTALL_NOW, IDC_BROWSE, IDC_ACCEPT_LICENCE, IDC_RUN_NOW, IDC_CLOSE}) {
        EXPECT_EQ(EffectOfKey(id, kKeySpace), KeyEffect::kNothingOwn) << id;
    }
    EXPECT_EQ(EffectOfKey(IDC_LICENCE_LINK, kKeySpace), KeyEffect::kClick);
    // Typing in the folder field stays typing, Enter there included.
    EXPECT_EQ(EffectOfKey(IDC_INSTALL_DIR, kKeyReturn), KeyEffect::kNothingOwn);
    EXPECT_EQ(EffectOfKey(IDC_INSTALL_DIR, kKeySpace), KeyEffect::kNothingOwn);
    // Other keys are never a click.
    for (int key : {0x09, 0x1B, 0x41, 0x25}) {
        EXPECT_EQ(EffectOfKey(IDC_INSTALL_NOW, key), KeyEffect::kNothingOwn) << key;
        EXPECT_EQ(EffectOfKey(IDC_LICENCE_LINK, key), KeyEffect::kNothingOwn) << key;
    }
}

}  // namespace
}  // namespace installer
