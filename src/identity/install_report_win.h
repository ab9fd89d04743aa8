// The install statistics report: one HTTP GET to the statistics server telling it
// that the installer started (type 1), that the user asked for the installation
// (type 2) or that the setup ran (type 0). Nothing depends on its outcome, and a
// server that never answers holds the caller up for at most kReportWaitMs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "identity/partner_identity.h"
#include "identity/report_address.h"

namespace installer {

// WinINet's connect, send and receive timeouts on the report's session: the request runs
// on a worker thread of its own, so a slow but working server is given time to answer.
inline constexpr DWORD kReportTimeoutMs = 30000;
// The longest a caller waits for one report; the request runs on a worker thread
// that is left to finish (or time out) on its own after that.
inline constexpr DWORD kReportWaitMs = 5000;
// The longest the process waits, before it ends, for reports still in flight.
inline constexpr DWORD kReportDrainMs = 5000;

// The machine identity sent with every report, read afresh each time.
struct MachineIdentity {
    std::wstring mac;     // 12 hexadecimal digits, or empty when no adapter qualifies
    std::wstring serial;  // first disk's serial, or empty when it cannot be read
};

// Reads both values; failures give empty texts.
MachineIdentity ReadMachineIdentity();

// How one report went (for the probe and tests; the installer ignores it).
enum class ReportOutcome {
    kSkippedHomeMode,  // home mode: nothing sent
    kAnswered,         // the server answered with a status line (any status)
    kFailed,           // the request could not be made (no session, refused, timed out)
    kAbandoned,        // still running after kReportWaitMs; left to end on its own
};

struct ReportResult {
    ReportOutcome outcome = ReportOutcome::kFailed;
    DWORD error = 0;        // Win32/WinINet error when kFailed
    DWORD http_status = 0;  // status code when kAnswered
    std::wstring address;   // the address requested (empty in home mode)
};

// Sends one report for `identity` to the statistics server at `base`, waiting at
// most `wait_ms`. Sends nothing in home mode. Never throws, never ends the process.
// With `details` (copied), their values follow the usual ones (BuildReportAddress). A
// `wait_ms` of 0 waits for nothing (kAbandoned at once); the request still runs and counts
// as in flight for WaitForReportsInFlight.
ReportResult SendReport(std::wstring_view base,
                        const PartnerIdentity& identity,
                        int32_t type,
                        DWORD wait_ms,
                        const ReportDetails* details = nullptr);

// The installer's report: the process identity, the built-in statistics server.
// Takes the type as its pointer-sized argument and returns 0 in home mode (nothing
// sent) or 0xFFFFFFFF after a request, whatever its outcome.
uint32_t SendInstallReport(uintptr_t type);

// The installer's report of `type` with the download's figures or the failure's reason:
// with the build's detailed reports off (INSTALLER_DETAILED_REPORTS), a failure report is
// not sent at all and any other goes without `details`. Waits at most `wait_ms` (0: not
// at all). Sends nothing in home mode.
void SendDetailedInstallReport(ReportType type, const ReportDetails& details, DWORD wait_ms);

// Sends a report of `type` on a thread of its own; the thread's handle is closed
// at once and nobody waits for it. False when the thread could not be started
// (nothing is sent then).
bool StartInstallReportThread(ReportType type);

// Waits until no report is in flight any more, or `max_ms` passed; called before the
// process ends, which would otherwise cut the reports partners are paid by. True when
// none is left.
bool WaitForReportsInFlight(DWORD max_ms);

// Reports that the system's proxy refused before the user had given it a login (the start
// report goes out before the description, whose download asks for the login) are kept; this
// sends them again, without waiting, once a login is known. Sends nothing otherwise.
void SendReportsHeldForProxyLogin();

}  // namespace installer
