// Recognising an install statistics request in a logged request line and reading its
// query: "GET /api/InstallData.ashx?partnerid=..&partnersubid=..&mac=..&phs=..&type=..".
// Current installers percent-encode every value; older ones sent the adapter address and
// the disk serial as they were, so a serial may hold spaces, "&", "=" or "%".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

enum class RequestKind {
    kReport,            // a statistics request whose numbers could be read
    kOtherRequest,      // another path, another method, or not a request at all
    kUnreadableReport,  // the statistics address, but partner or type missing or not numbers
};

// The values of one statistics request, decoded. The strings keep their capacity when
// the object is reused, so reading a long log does not allocate per line.
struct InstallReport {
    int32_t partner = 0;
    int64_t sub_partner = 0;
    int32_t type = 0;    // 0 setup finished, 1 started, 2 install requested, 3 failed
    std::string mac;     // as sent, decoded; may be empty
    std::string serial;  // as sent, decoded; may hold spaces; may be empty
    // Newer installers add these after "type"; -1 when absent or not readable.
    int32_t reason = -1;   // "reason" of a failure (type 3) as a FailureReason
    int64_t seconds = -1;  // "secs": the download's seconds
    int64_t bytes = -1;    // "bytes": bytes the download received
};

// Reads a request line ("METHOD target [HTTP/x.y]") with the log's escapes already
// removed. Only GET requests for the statistics path (case-insensitive, origin or
// absolute form) are reports. `partnerid`, `partnersubid` and `type` must be decimal
// numbers in range and `type` one of 0, 1, 2, 3; otherwise the result is kUnreadableReport.
// "reason", "secs" and "bytes" are read when present (a reason this version does not know,
// or a number that is not one, is -1: the report still counts).
// Text after "phs=" that is not followed by a known key ("&type=..") belongs to the
// serial, so a raw serial with "&" in it is read whole. A repeated key: the last wins.
// `report` is written only for kReport.
RequestKind ReadReportRequest(std::string_view request_line, InstallReport& report);

// Decodes "%HH" (either case) into bytes; a "%" without two hexadecimal digits after it
// stays as it is, and "+" stays "+" (the installer never sends "+" for a space).
// Writes into `out` (cleared first). Never fails.
void PercentDecode(std::string_view text, std::string& out);

}  // namespace installer
