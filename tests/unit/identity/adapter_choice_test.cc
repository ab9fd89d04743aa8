// The adapter rule: the first adapter with a bound address entry identifies the machine.
#include "identity/adapter_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace installer {
namespace {

AdapterEntry Adapter(uint32_t context, std::array<uint8_t, 8> address) {
    AdapterEntry entry;
    entry.first_address_context = context;
    entry.address = address;
    return entry;
}

TEST(AdapterChoice, SecondAdapterWhenOnlyItHasABoundAddress) {
    const std::vector<AdapterEntry> adapters = {
        Adapter(0, {0x02, 0xfc, 0x00, 0x00, 0x00, 0x01, 0, 0}),
        Adapter(0x0100007F, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70}),
    };
    EXPECT_EQ(ChooseAdapter(adapters), 1u);
    // Only six bytes, lower case, even when the system filled all eight.
    EXPECT_EQ(ChosenAdapterText(adapters), L"001a2b3c4d5e");
}

TEST(AdapterChoice, FirstQualifyingAdapterWinsOverLaterOnes) {
    const std::vector<AdapterEntry> adapters = {
        Adapter(0, {1, 1, 1, 1, 1, 1, 0, 0}),
        Adapter(7, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0, 0}),
        Adapter(9, {2, 2, 2, 2, 2, 2, 0, 0}),
    };
    EXPECT_EQ(ChooseAdapter(adapters), 1u);
    EXPECT_EQ(ChosenAdapterText(adapters), L"abcdef012345");
}

TEST(AdapterChoice, NoBoundAdapterGivesEmptyText) {
    // What Wine reports: every adapter's first address entry has context 0.
    const std::vector<AdapterEntry> adapters = {
        Adapter(0, {0xb6, 0x6f, 0x9e, 0x8f, 0x87, 0x2a, 0, 0}),
        Adapter(0, {0x02, 0xfc, 0x00, 0x00, 0x00, 0x01, 0, 0}),
    };
    EXPECT_FALSE(ChooseAdapter(adapters).has_value());
    EXPECT_EQ(ChosenAdapterText(adapters), L"");
    EXPECT_EQ(ChosenAdapterText({}), L"");
}

TEST(AdapterChoice, AllZeroAddressIsStillWrittenInFull) {
    const std::vector<AdapterEntry> adapters = {Adapter(1, {})};
    EXPECT_EQ(ChosenAdapterText(adapters), L"000000000000");
}

}  // namespace
}  // namespace installer
