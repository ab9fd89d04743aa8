// The rules for a signed package description.
#include "config/signed_description.h"

#include <algorithm>
#include <string>

#include "config/package_description.h"

namespace installer {
namespace {

// A line break is the default because no INI value can hold one: it tells "missing".
constexpr wchar_t kMissing[] = L"\n";

bool ReadDigits(std::wstring_view text, size_t count, int& value) {
    if (text.size() < count) {
        return false;
    }
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
        value = value * 10 + (text[i] - L'0');
    }
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::wstring TwoDigits(int value) {
    return std::wstring(value < 10 ? L"0" : L"") + std::to_wstring(value);
}

SignedDescriptionCheck CheckIdentity(const IProfileReader& ini, const SignedDescriptionContext& context) {
    const std::wstring mode = ini.GetString(L"Info", L"Mode", kMissing);
    const bool known_mode = mode == kInfoMode || mode == kHomeMode;
    if (!known_mode || (context.home_mode.has_value() && (mode == kHomeMode) != *context.home_mode)) {
        return SignedDescriptionCheck::kModeMismatch;
    }
    const std::wstring product = ini.GetString(L"Info", L"Product", kMissing);
    if (product == kMissing || product.empty() || (context.product.has_value() && product != *context.product)) {
        return SignedDescriptionCheck::kProductMismatch;
    }
    return SignedDescriptionCheck::kAccepted;
}

SignedDescriptionCheck CheckExpiry(const IProfileReader& ini, const CivilDate& today) {
    const std::wstring expires = ini.GetString(L"Info", L"Expires", kMissing);
    if (expires == kMissing) {
        return SignedDescriptionCheck::kExpiryMissing;
    }
    CivilDate last_day;
    if (!ParseCivilDate(expires, last_day)) {
        return SignedDescriptionCheck::kExpiryMalformed;
    }
    return IsPastExpiry(last_day, today) ? SignedDescriptionCheck::kExpired : SignedDescriptionCheck::kAccepted;
}

}  // namespace

bool ParseCivilDate(std::wstring_view text, CivilDate& date) {
    CivilDate parsed;
    if (text.size() != 10 || text[4] != L'-' || text[7] != L'-' || !ReadDigits(text, 4, parsed.year) ||
        !ReadDigits(text.substr(5), 2, parsed.month) || !ReadDigits(text.substr(8), 2, parsed.day)) {
        return false;
    }
    if (parsed.year < 2000 || parsed.month < 1 || parsed.month > 12 || parsed.day < 1 ||
        parsed.day > DaysInMonth(parsed.year, parsed.month)) {
        return false;
    }
    date = parsed;
    return true;
}

bool IsPastExpiry(const CivilDate& last_day, const CivilDate& today) {
    if (today.year != last_day.year) {
        return today.year > last_day.year;
    }
    if (today.month != last_day.month) {
        return today.month > last_day.month;
    }
    return today.day > last_day.day;
}

CivilDate AddDays(CivilDate date, int days) {
    while (days > 0) {
        const int left_in_month = DaysInMonth(date.year, date.month) - date.day;
        if (days <= left_in_month) {
            date.day += days;
            break;
        }
        days -= left_in_month + 1;
        date.day = 1;
        if (++date.month > 12) {
            date.month = 1;
            ++date.year;
        }
    }
    return date;
}

std::wstring FormatCivilDate(const CivilDate& date) {
    return std::to_wstring(date.year) + L"-" + TwoDigits(date.month) + L"-" + TwoDigits(date.day);
}

std::optional<int64_t> ParseDescriptionSerial(std::wstring_view text) {
    if (text.empty() || text.size() > 15 || (text.size() > 1 && text[0] == L'0')) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - L'0');
    }
    return value;
}

int64_t ParseSerialRecord(std::string_view bytes) {
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) {
        bytes.remove_suffix(1);
    }
    const std::wstring text(bytes.begin(), bytes.end());
    return ParseDescriptionSerial(text).value_or(0);
}

std::string FormatSerialRecord(int64_t serial) {
    return std::to_string(serial) + "\r\n";
}

SignedDescriptionResult CheckSignedDescription(const IProfileReader& ini, const SignedDescriptionContext& context) {
    SignedDescriptionResult result;
    result.check = CheckIdentity(ini, context);
    if (result.check != SignedDescriptionCheck::kAccepted) {
        return result;
    }
    const std::optional<int64_t> serial = ParseDescriptionSerial(ini.GetString(L"Info", L"Serial", kMissing));
    if (!serial.has_value()) {
        result.check = SignedDescriptionCheck::kSerialMalformed;
        return result;
    }
    result.serial = *serial;
    if (*serial < context.serial_floor) {
        result.check = SignedDescriptionCheck::kSerialBelowFloor;
        return result;
    }
    if (*serial < context.highest_seen) {
        result.check = SignedDescriptionCheck::kSerialOlderThanSeen;
        return result;
    }
    result.check = CheckExpiry(ini, context.today);
    if (result.check != SignedDescriptionCheck::kAccepted) {
        return result;
    }
    // Section 0 is also the choice's fallback, so it is checked even when FileCount says less.
    const int file_count = std::clamp(ini.GetInt(L"Info", L"FileCount", 0), 1, kMaxFileSections);
    for (int i = 0; i < file_count; ++i) {
        const PackageIntegrity integrity = ReadPackageIntegrity(ini, L"File" + std::to_wstring(i));
        if (!integrity.required || !integrity.well_formed || !integrity.size.has_value()) {
            result.check = SignedDescriptionCheck::kWholeFileKeysMissing;
            return result;
        }
    }
    return result;
}

}  // namespace installer
