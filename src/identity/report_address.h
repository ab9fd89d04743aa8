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
    kFailed = 3,            // the download or the setup failed; the query says why
};

// Why an installation failed, as the failure report and the publisher's report name it.
// Never renumbered; the names are what the statistics server's log holds.
enum class FailureReason : int32_t {
    kNetwork = 0,         // "network": no mirror could be reached or kept delivering
    kProxyLogin = 1,      // "proxy-login": the proxy wants a login the user did not give
    kCertificate = 2,     // "certificate": the servers' certificates were refused
    kServerRefused = 3,   // "server-refused": the mirrors answered with HTTP errors
    kDamagedPackage = 4,  // "damaged-package": the bytes fail their checks, or the file is short
    kDisk = 5,            // "disk": the package file cannot be created or written
    kSetupExitCode = 6,   // "setup-exit-code": the setup failed to start or ended with an error
};
inline constexpr int kFailureReasonCount = 7;

// The reason's name in a report ("network", ...); never empty.
std::string_view FailureReasonName(FailureReason reason);
// The reason a name stands for; false for a name this version does not know.
bool FailureReasonFromName(std::string_view name, FailureReason* reason);

// What a failure report (type 3) adds to the query, and a finished installation (type 0)
// too, without a reason: the download's figures. They go after "type", so a server that
// ignores them sees the request it always saw.
struct ReportDetails {
    bool has_reason = false;  // type 3 only
    FailureReason reason = FailureReason::kNetwork;
    uint32_t exit_code = 0;     // sent as "code" for kSetupExitCode only
    int64_t seconds = 0;        // "secs": from the start of the download to the event
    int64_t bytes = 0;          // "bytes": bytes received from the mirrors
    int32_t blocks_kept = 0;    // "kept": verified blocks an earlier run left
    int32_t mirrors_tried = 0;  // "mirrors": mirrors asked for at least one block
};

// What goes into one request's query.
struct ReportFields {
    int32_t partner = 0;
    int64_t sub_partner = 0;
    std::wstring_view mac;     // 12 hexadecimal digits, or empty
    std::wstring_view serial;  // disk serial text, or empty
    int32_t type = 0;
    const ReportDetails* details = nullptr;  // not owned; null: the request ends with "type"
};

// Whether a report of `type` is sent by a build with detailed reports on or off
// (INSTALLER_DETAILED_REPORTS), and whether its details go with it: without them a failure
// report is not sent at all and any other report goes as the usual five values.
bool ShouldSendReport(ReportType type, bool detailed_reports, bool* with_details);

// Percent-encodes `value` for a query: RFC 3986 unreserved characters (letters,
// digits, "-", ".", "_", "~") stay as they are; every other character is written as
// its UTF-8 bytes, each as "%XX" with upper-case digits. Unpaired surrogates are
// encoded as U+FFFD. Never fails.
std::wstring PercentEncodeQueryValue(std::wstring_view value);

// `base` (scheme, host and optional port; see JoinServerAddress) followed by
// "/api/InstallData.ashx?partnerid=..&partnersubid=..&mac=..&phs=..&type=..", then, with
// details, "&reason=..[&code=..]&secs=..&bytes=..&kept=..&mirrors=..". No length limit. Never fails.
std::wstring BuildReportAddress(std::wstring_view base, const ReportFields& fields);

}  // namespace installer
