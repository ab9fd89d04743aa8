// What a description signed by the publisher must also say before the installer acts on
// it: the whole-file size and SHA-256 of every setup file it names (block MD5s alone
// bind nothing the publisher vouches for), and, when it carries one, an expiry date that
// has not passed, so that an old signed description cannot be served again for ever.
#pragma once

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

enum class SignedDescriptionCheck {
    kAccepted,
    kWholeFileKeysMissing,  // a "File%d" lacks a well-formed "FileSha256" or "FileSize"
    kExpiryMalformed,       // "Expires" is present but not a date: refused, never ignored
    kExpired,               // "Expires" lies before `today`
};

// Checks a signed description: [Info] "Expires" (optional, "YYYY-MM-DD", the last UTC day
// it is good), and "FileSha256" and "FileSize" of each "File%d" that the weighted choice
// can pick. Never fails; the first problem found is the result.
SignedDescriptionCheck CheckSignedDescription(const IProfileReader& ini, const CivilDate& today);

}  // namespace installer
