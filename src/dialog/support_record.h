// What the installer writes down about a download and a setup run, for the support log
// and the failure report: the lines of the download's figures, the final reason of a
// failure and the figures a report carries. Portable, so it is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "download/block_download_mgr.h"
#include "identity/report_address.h"

namespace installer {

struct SetupOutcome;

// One line per mirror (requests, bytes, blocks verified, failures by kind, rests), then one
// for the whole download (blocks done and kept, outages, bytes).
std::vector<std::string> DownloadReportLines(const DownloadReport& report);

// The report's reason for the engine's final failure.
FailureReason FailureReasonOf(DownloadFailure failure);
// The same, told more exactly by the mirrors' figures where the engine's reason is a
// general one (every mirror failed, a block failed everywhere): when the mirrors were all
// reached and only answered with HTTP errors, the servers refused; when they were refused
// only for their certificates, the certificate is the reason.
FailureReason FailureReasonOf(DownloadFailure failure, const DownloadReport& report);
// "download failed: server-refused (every mirror answered with an HTTP error, engine code
// 10)": the reason as the report names it (from FailureReasonOf with the figures), and in
// words what the engine saw.
std::string DownloadFailureLine(DownloadFailure failure, const DownloadReport& report);

// The figures of a report (no reason): `elapsed_ms` since the download started, in whole
// seconds rounded up (a failure within the first second is 1), bytes, kept blocks and the
// mirrors that were asked for at least one block.
ReportDetails DownloadDetails(const DownloadReport& report, int64_t elapsed_ms);

// For a setup run that did not succeed: the reason (damaged package when its check failed
// before it ran, otherwise the setup's exit code or the system's error when it could not
// start) and true; false for success (exited with 0).
bool SetupFailure(const SetupOutcome& outcome, FailureReason* reason, uint32_t* code);
// "setup exited with code 0", "setup exited with code 3221225477 (0xC0000005)", "setup could
// not start: system error 2", "package failed its check before the setup ran".
std::string SetupOutcomeLine(const SetupOutcome& outcome);

}  // namespace installer
