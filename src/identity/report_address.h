// The address of one install statistics request: the server's base address, the
// fixed path, and the query with the partner identity, the machine identity and the
// report type. Every query value is percent-encoded, so that a disk serial holding
// a space, "&", "#" or "%" can neither break the request nor add parameters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

// Report types as the statistics server knows them (never renumber).
enum class ReportType : int32_t {
    kSetupFinished = 0,     // the setup package ran and its process ended
    kStarted = 1,           // the installer started as the only instance
    kInstallRequested = 2,  // the user pressed the install button
};

// What goes into one request's query.
struct ReportFields {
    int32_t partner = 0;
    int64_t sub_partner = 0;
    std::wstring_view mac;     // 12 hexadecimal digits, or empty
    std::wstring_view serial;  // disk serial text, or empty
    int32_t type = 0;
};

// Percent-encodes `value` for a query: RFC 3986 unreserved characters (letters,
// digits, "-", ".", "_", "~") stay as they are; every other character is written as
// its UTF-8 bytes, each as "%XX" with upper-case digits. Unpaired surrogates are
// encoded as U+FFFD. Never fails.
std::wstring PercentEncodeQueryValue(std::wstring_view value);

// `base` (scheme, host and optional port; see JoinServerAddress) followed by
// "/api/InstallData.ashx?partnerid=..&partnersubid=..&mac=..&phs=..&type=..".
// No length limit. Never fails.
std::wstring BuildReportAddress(std::wstring_view base, const ReportFields& fields);

}  // namespace installer
