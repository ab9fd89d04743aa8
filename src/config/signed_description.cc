// The rules for a signed package description.
#include "config/signed_description.h"

#include <algorithm>
#include <string>

#include "config/package_description.h"

namespace installer {
namespace {

// ReadPackageDescription chooses among no more sections than this.
constexpr int kMaxFiles = 1024;

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

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
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

SignedDescriptionCheck CheckSignedDescription(const IProfileReader& ini, const CivilDate& today) {
    // A line break is the default because no INI value can hold one: it tells "missing".
    const std::wstring expires = ini.GetString(L"Info", L"Expires", L"\n");
    if (expires != L"\n") {
        CivilDate last_day;
        if (!ParseCivilDate(expires, last_day)) {
            return SignedDescriptionCheck::kExpiryMalformed;
        }
        if (IsPastExpiry(last_day, today)) {
            return SignedDescriptionCheck::kExpired;
        }
    }
    // Section 0 is also the choice's fallback, so it is checked even when FileCount says less.
    const int file_count = std::clamp(ini.GetInt(L"Info", L"FileCount", 0), 1, kMaxFiles);
    for (int i = 0; i < file_count; ++i) {
        const PackageIntegrity integrity = ReadPackageIntegrity(ini, L"File" + std::to_wstring(i));
        if (!integrity.required || !integrity.well_formed || !integrity.size.has_value()) {
            return SignedDescriptionCheck::kWholeFileKeysMissing;
        }
    }
    return SignedDescriptionCheck::kAccepted;
}

}  // namespace installer
