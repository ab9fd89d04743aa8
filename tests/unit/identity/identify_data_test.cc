// The identify data as devices return it: text-field fixing, the request blocks
// byte by byte, and the serial field's reading and writing.
#include "identity/identify_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace installer {
namespace {

// A field as the device stores it: the text's bytes with each pair swapped.
std::vector<uint8_t> Swapped(const std::string& text) {
    std::vector<uint8_t> field(text.begin(), text.end());
    for (size_t i = 0; i + 1 < field.size(); i += 2) {
        std::swap(field[i], field[i + 1]);
    }
    return field;
}

std::vector<uint8_t> Fixed(const std::string& text) {
    std::vector<uint8_t> field = Swapped(text);
    FixIdentifyString(field.data(), field.size());
    return field;
}

std::vector<uint8_t> Bytes(const std::string& text, size_t zeros) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), zeros, 0);
    return bytes;
}

TEST(FixIdentifyString, TrailingSpacesBecomeZeros) {
    EXPECT_EQ(Fixed("WD12                "), Bytes("WD12", 16));
}

TEST(FixIdentifyString, LeadingSpacesShiftAndKeepTrailingSpaces) {
    // Moving the text left puts zeros at the end, so the backward trim stops at once.
    EXPECT_EQ(Fixed("  WD12              "), Bytes("WD12              ", 2));
}

TEST(FixIdentifyString, AllSpacesGiveAnEmptyField) {
    EXPECT_EQ(Fixed("                    "), Bytes("", 20));
}

TEST(FixIdentifyString, FullFieldWithoutSpacesIsUnchangedText) {
    EXPECT_EQ(Fixed("S1Z2X3C4V5B6N7M8Q9W0"), Bytes("S1Z2X3C4V5B6N7M8Q9W0", 0));
}

TEST(FixIdentifyString, InnerSpacesStay) {
    EXPECT_EQ(Fixed(" AB CD  "), Bytes("AB CD  ", 1));
    EXPECT_EQ(Fixed("AB CD   "), Bytes("AB CD", 3));
}

TEST(IdentifyFields, DecodesADeviceReply) {
    IdentifyBuffer buffer{};
    const auto serial = Swapped("     WD-WCC4E1234567");
    const auto model = Swapped("WDC WD10EZEX-08WN4A0                    ");
    const auto firmware = Swapped("01.01A01");
    std::memcpy(buffer.data() + kSerialOffset, serial.data(), serial.size());
    std::memcpy(buffer.data() + kModelOffset, model.data(), model.size());
    std::memcpy(buffer.data() + kFirmwareOffset, firmware.data(), firmware.size());
    buffer[0] = 0x40;  // words outside the text fields are left alone
    buffer[kModelOffset + kModelLength] = 0x7F;

    FixIdentifyFields(buffer);

    EXPECT_EQ(SerialFieldBytes(buffer), "WD-WCC4E1234567");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data() + kModelOffset)), "WDC WD10EZEX-08WN4A0");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data() + kFirmwareOffset), kFirmwareLength), "01.01A01");
    EXPECT_EQ(buffer[0], 0x40);
    EXPECT_EQ(buffer[kModelOffset + kModelLength], 0x7F);
}

TEST(SmartRequest, IsAllZeroButTheIdentifyCommand) {
    const SendCommandIn request = MakeSmartIdentifyRequest();
    uint8_t bytes[sizeof(request)];
    std::memcpy(bytes, &request, sizeof(request));
    ASSERT_EQ(sizeof(bytes), 32u);
    for (size_t i = 0; i < sizeof(bytes); ++i) {
        EXPECT_EQ(bytes[i], i == 10 ? 0xEC : 0) << "byte " << i;
    }

    const SendCommandOut reply = MakeSmartIdentifyReply();
    uint8_t out[sizeof(reply)];
    std::memcpy(out, &reply, sizeof(reply));
    ASSERT_EQ(sizeof(out), 528u);
    EXPECT_EQ(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24, 512);
    for (size_t i = 4; i < sizeof(out); ++i) {
        ASSERT_EQ(out[i], 0) << "byte " << i;
    }
}

uint32_t Word(const uint8_t* bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

TEST(ScsiRequest, MatchesTheMiniportLayout) {
    const ScsiIdentifyBlock block = MakeScsiIdentifyBlock(1);
    uint8_t bytes[sizeof(block)];
    std::memcpy(bytes, &block, sizeof(block));
    ASSERT_EQ(sizeof(bytes), 556u);
    EXPECT_EQ(Word(bytes, 0), 28u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 4), 8), "SCSIDISK");
    EXPECT_EQ(Word(bytes, 12), 10000u);
    EXPECT_EQ(Word(bytes, 16), 0x001B0501u);
    EXPECT_EQ(Word(bytes, 20), 0u);
    EXPECT_EQ(Word(bytes, 24), 528u);
    for (size_t i = 28; i < sizeof(bytes); ++i) {
        const uint8_t expected = i == 38 ? 0xEC : (i == 40 ? 1 : 0);
        ASSERT_EQ(bytes[i], expected) << "byte " << i;
    }
    EXPECT_EQ(kScsiRequestInputLength, 60u);
    EXPECT_EQ(kScsiReplyDataOffset, 44u);
    // The reply's data bytes are where the block's reply view says they are.
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(block.out.data) - reinterpret_cast<const uint8_t*>(&block), 44);
}

TEST(ScsiReply, ModelStartingWithZeroIsAFailure) {
    IdentifyBuffer buffer{};
    buffer[kModelOffset + 1] = 'W';  // the second byte is set, the first is not
    EXPECT_FALSE(ScsiReplyUsable(true, buffer));
    buffer[kModelOffset] = 'D';
    EXPECT_TRUE(ScsiReplyUsable(true, buffer));
    EXPECT_FALSE(ScsiReplyUsable(false, buffer));
}

TEST(SerialField, ReadsUpToTheFirstZeroAndAtMostTwentyBytes) {
    IdentifyBuffer buffer{};
    std::memcpy(buffer.data() + kSerialOffset, "ABC\0DEF", 7);
    EXPECT_EQ(SerialFieldBytes(buffer), "ABC");
    std::memset(buffer.data() + kSerialOffset, 'x', kSerialLength);
    buffer[kSerialOffset + kSerialLength] = 'y';  // first byte after the field
    EXPECT_EQ(SerialFieldBytes(buffer), std::string(20, 'x'));
    buffer.fill(0);
    EXPECT_EQ(SerialFieldBytes(buffer), "");
}

TEST(SerialField, StoringNeverWritesOutsideTheField) {
    IdentifyBuffer buffer;
    buffer.fill(0xAA);
    StoreSerialField(buffer, std::string(64, 'S'));
    EXPECT_EQ(SerialFieldBytes(buffer), std::string(20, 'S'));
    EXPECT_EQ(buffer[kSerialOffset - 1], 0xAA);
    EXPECT_EQ(buffer[kSerialOffset + kSerialLength], 0xAA);

    // A shorter serial replaces the whole field, leaving no bytes of the old one.
    StoreSerialField(buffer, "WINEHDISK");
    EXPECT_EQ(SerialFieldBytes(buffer), "WINEHDISK");
    for (size_t i = kSerialOffset + 9; i < kSerialOffset + kSerialLength; ++i) {
        EXPECT_EQ(buffer[i], 0) << "byte " << i;
    }
    EXPECT_EQ(buffer[kSerialOffset + kSerialLength], 0xAA);
}

TEST(WmiSerial, TheLastMediumWithASerialWins) {
    const std::vector<std::optional<std::wstring>> three = {L"FIRST", std::nullopt, L"THIRD"};
    EXPECT_EQ(LastWmiSerial(three), L"THIRD");
    const std::vector<std::optional<std::wstring>> trailing_null = {L"FIRST", L"SECOND", std::nullopt};
    EXPECT_EQ(LastWmiSerial(trailing_null), L"SECOND");
    // An empty serial is still a serial: it replaces what came before.
    const std::vector<std::optional<std::wstring>> empty_last = {L"FIRST", L""};
    EXPECT_EQ(LastWmiSerial(empty_last), L"");
    const std::vector<std::optional<std::wstring>> none = {std::nullopt, std::nullopt};
    EXPECT_FALSE(LastWmiSerial(none).has_value());
    EXPECT_FALSE(LastWmiSerial({}).has_value());
}

TEST(WmiSerial, LongSerialsKeepTheirFirstTwentyCharacters) {
    EXPECT_EQ(CutWmiSerial(L"0123456789ABCDEFGHIJKLMNOP"), L"0123456789ABCDEFGHIJ");
    EXPECT_EQ(CutWmiSerial(L"SHORT"), L"SHORT");
    EXPECT_EQ(CutWmiSerial(L""), L"");
    if constexpr (sizeof(wchar_t) == 2) {
        // A surrogate pair straddling the cut goes as a whole.
        std::wstring text(19, L'A');
        text += L"\xD83D\xDE00";
        EXPECT_EQ(CutWmiSerial(text), std::wstring(19, L'A'));
    }
}

}  // namespace
}  // namespace installer
