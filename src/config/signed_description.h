// What a description signed by the publisher must also say before the installer acts on
// it, so that a genuine signature cannot be used out of its time or place: the product and
// the mode it was signed for (another product's or the other mode's signed pair cannot be
// served in its place), a serial number that only goes up (last year's signed pair cannot
// be served after a newer one was seen, nor below the build's floor), an expiry date that
// has not passed, and the whole-file size and SHA-256 of every setup file it names (block
// MD5s alone bind nothing the publisher vouches for).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/profile_reader.h"

namespace installer {

struct CivilDate {
    int year = 0;
    int month = 0;  // 1 .. 12
    int day = 0;    // 1 .. 31
};

// Parses "YYYY-MM-DD" (exactly that form, a real calendar day, year 2000 or later).
// Returns false, leaving `date` unchanged, for any other text.
bool ParseCivilDate(std::wstring_view text, CivilDate& date);

// True when `today` is after `last_day`: a description expiring on a day is still good
// all that day (UTC).
bool IsPastExpiry(const CivilDate& last_day, const CivilDate& today);

// `date` moved on by `days` (0 or more) calendar days.
CivilDate AddDays(CivilDate date, int days);

// "YYYY-MM-DD".
std::wstring FormatCivilDate(const CivilDate& date);

// Largest serial taken: 15 digits, so that it stays exact in any number type on the way.
inline constexpr int64_t kMaxDescriptionSerial = 999'999'999'999'999;

// Parses a serial: a whole number written in decimal digits only (no sign, no blanks, no
// leading zero), at most kMaxDescriptionSerial. Returns nullopt for anything else.
std::optional<int64_t> ParseDescriptionSerial(std::wstring_view text);

// The serial kept in the record of the highest serial accepted on a machine: the decimal
// digits, perhaps followed by a line break. 0 (nothing seen) for an empty or damaged record.
int64_t ParseSerialRecord(std::string_view bytes);

// The record's text for `serial`.
std::string FormatSerialRecord(int64_t serial);

// The [Info] Mode of a description fetched as "info.ini" and as "home.ini".
inline constexpr wchar_t kInfoMode[] = L"info";
inline constexpr wchar_t kHomeMode[] = L"home";

// What the installer expects of a signed description, and what it has seen before.
struct SignedDescriptionContext {
    CivilDate today;                      // UTC
    std::optional<std::wstring> product;  // nullopt: any non-empty product (the publisher tool)
    std::optional<bool> home_mode;        // nullopt: either mode
    int64_t serial_floor = 0;             // the build's lowest serial
    int64_t highest_seen = 0;             // the highest serial accepted on this machine, 0 if none
};

enum class SignedDescriptionCheck {
    kAccepted,
    kModeMismatch,          // "Mode" missing, not info/home, or not the mode it was fetched for
    kProductMismatch,       // "Product" missing or not the build's product
    kSerialMalformed,       // "Serial" missing or not a whole number
    kSerialBelowFloor,      // "Serial" below the build's floor
    kSerialOlderThanSeen,   // "Serial" below the highest one accepted on this machine
    kExpiryMissing,         // "Expires" missing
    kExpiryMalformed,       // "Expires" is not a date
    kExpired,               // "Expires" lies before `today`
    kWholeFileKeysMissing,  // a "File%d" lacks a well-formed "FileSha256" or "FileSize"
};

struct SignedDescriptionResult {
    SignedDescriptionCheck check = SignedDescriptionCheck::kAccepted;
    int64_t serial = 0;  // the description's serial, when it could be read
};

// Checks a signed description's [Info] "Mode", "Product", "Serial" and "Expires" (the last
// UTC day it is good, "YYYY-MM-DD"), all required, in that order, then "FileSha256" and
// "FileSize" of each "File%d" that the weighted choice can pick. A serial equal to the
// highest seen is taken: the same description is fetched again on every run. Never fails;
// the first problem found is the result.
SignedDescriptionResult CheckSignedDescription(const IProfileReader& ini, const SignedDescriptionContext& context);

}  // namespace installer
