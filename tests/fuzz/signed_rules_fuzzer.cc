// Fuzzes the rules a signed package description must meet: any bytes are refused or
// accepted without a fault, and an accepted description really carries what the rules ask
// (its mode and product, a serial not below the floor or the highest seen, a date that has
// not passed). The date, serial and record readers take back what their writers give.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/ini_file.h"
#include "config/signed_description.h"
#include "fuzz_check.h"

namespace installer {
namespace {

void Run(std::string_view bytes) {
    const IniFile ini = IniFile::Parse(bytes);
    SignedDescriptionContext context;
    context.today = CivilDate{2026, 12, 8};
    context.product = L"demo";
    context.home_mode = false;
    context.serial_floor = 100;
    context.highest_seen = 1000;
    const SignedDescriptionResult result = CheckSignedDescription(ini, context);
    if (result.check == SignedDescriptionCheck::kAccepted) {
        FUZZ_CHECK(ini.GetString(L"Info", L"Mode", L"") == kInfoMode);
        FUZZ_CHECK(ini.GetString(L"Info", L"Product", L"") == L"demo");
        const auto serial = ParseDescriptionSerial(ini.GetString(L"Info", L"Serial", L""));
        FUZZ_CHECK(serial.has_value() && *serial == result.serial && *serial >= 1000);
        CivilDate last;
        FUZZ_CHECK(ParseCivilDate(ini.GetString(L"Info", L"Expires", L""), last));
        FUZZ_CHECK(!IsPastExpiry(last, context.today));
    }
    // The same bytes, asked by the tool (any product, either mode, nothing seen): never
    // stricter than the installer.
    SignedDescriptionContext tool;
    tool.today = context.today;
    if (result.check == SignedDescriptionCheck::kAccepted) {
        FUZZ_CHECK(CheckSignedDescription(ini, tool).check == SignedDescriptionCheck::kAccepted);
    }

    // The readers on the raw text, and their writers' round trips.
    const std::wstring text(bytes.begin(), bytes.end());
    CivilDate date;
    if (ParseCivilDate(text, date)) {
        FUZZ_CHECK(FormatCivilDate(date) == text);
        CivilDate later;
        FUZZ_CHECK(ParseCivilDate(FormatCivilDate(AddDays(date, 3660)), later));
        FUZZ_CHECK(!IsPastExpiry(later, date));
    }
    if (const auto serial = ParseDescriptionSerial(text)) {
        FUZZ_CHECK(*serial >= 0 && *serial <= kMaxDescriptionSerial);
        FUZZ_CHECK(std::to_wstring(*serial) == text);
        FUZZ_CHECK(ParseSerialRecord(FormatSerialRecord(*serial)) == *serial);
    }
    const int64_t record = ParseSerialRecord(bytes);
    FUZZ_CHECK(record >= 0 && record <= kMaxDescriptionSerial);
}

}  // namespace
}  // namespace installer

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    installer::Run(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
