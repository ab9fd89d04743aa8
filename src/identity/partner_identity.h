// Who distributed this installer, read from its first command-line argument.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

struct PartnerIdentity {
    int32_t partner = 0;      // partner number
    int64_t sub_partner = 0;  // partner sub-number, 64-bit
    bool home_mode = false;   // the argument contains "homepg" (case-sensitive)
};

// Reads "_%d_%I64d" from the first underscore of `argument` (at most 49 characters
// of it), and the home mode. Numbers that cannot be read stay 0. Never fails.
PartnerIdentity ParsePartnerArgument(std::wstring_view argument);

// Scans "_%d_%I64d" like the C library's wide scanf: a number that cannot be read
// ends the scan and keeps 0. Used for the partner identity and the package name.
void ScanPartnerNumbers(std::wstring_view text, int32_t& partner, int64_t& sub_partner);

// The process-wide identity: set once by start-up before any other thread exists,
// read afterwards (statistics reports, package name) without a lock.
const PartnerIdentity& ProcessIdentity();
void SetProcessIdentity(const PartnerIdentity& identity);

// Single-instance mutex name of a mode.
const wchar_t* InstanceMutexName(bool home_mode);

}  // namespace installer
