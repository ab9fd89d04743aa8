// The partner identity and home mode read from the first command-line argument.
#include "identity/partner_identity.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(PartnerArgument, ReadsBothNumbersAndTheMode) {
    struct Case {
        const wchar_t* argument;
        int32_t partner;
        int64_t sub_partner;
        bool home_mode;
    };
    const Case cases[] = {
        {L"", 0, 0, false},
        {L"setup_1001_9876543210", 1001, 9876543210LL, false},  // sub-number beyond 32 bits
        {L"a_b_c", 0, 0, false},
        {L"x_5_7_homepg", 5, 7, true},
        {L"HOMEPG", 0, 0, false},  // the mode test is case-sensitive
        {L"homepg", 0, 0, true},
        {L"_12", 12, 0, false},
        {L"_x", 0, 0, false},
        {L"setup_-3_-9", -3, -9, false},
        {L"setup_1001_77_pure", 1001, 77, false},
        {L"setup_ 42_ 43", 42, 43, false},  // the scan skips blanks before a number
    };
    for (const Case& c : cases) {
        const PartnerIdentity id = ParsePartnerArgument(c.argument);
        EXPECT_EQ(id.partner, c.partner) << c.argument;
        EXPECT_EQ(id.sub_partner, c.sub_partner) << c.argument;
        EXPECT_EQ(id.home_mode, c.home_mode) << c.argument;
    }
}

TEST(PartnerArgument, OnlyFortyNineCharactersFromTheFirstUnderscoreAreScanned) {
    // "_1_" and 46 digits fill 49 characters; the 47th digit falls outside.
    const std::wstring digits46(46, L'1');
    int32_t partner = 0;
    int64_t sub = 0;
    const PartnerIdentity cut = ParsePartnerArgument(L"setup_1_" + digits46 + L"9");
    ScanPartnerNumbers(L"_1_" + digits46, partner, sub);
    EXPECT_EQ(cut.partner, 1);
    EXPECT_EQ(cut.sub_partner, sub);
    // "homepg" beyond the cut still counts: the mode looks at the whole argument.
    EXPECT_TRUE(ParsePartnerArgument(L"setup_1_" + digits46 + L"homepg").home_mode);
}

TEST(PartnerArgument, EachModeHasItsOwnMutex) {
    EXPECT_STREQ(InstanceMutexName(false), L"Oem_Name_quvimo");
    EXPECT_STREQ(InstanceMutexName(true), L"Home_Name_quvimo");
}

}  // namespace
}  // namespace installer
