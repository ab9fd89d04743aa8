// The installer window's support log lines and failure reports.
#include "dialog/support_recorder_win.h"

#include "base/text.h"
#include "dialog/install_flow.h"
#include "dialog/support_record.h"
#include "identity/install_report_win.h"
#include "identity/partner_identity.h"
#include "win/support_log_win.h"

namespace installer {

void SupportRecorder::PackageChosen(const PackageDescription& package, const std::wstring& package_path, int dpi) {
    const PartnerIdentity& identity = ProcessIdentity();
    win::OpenProcessLogFile(package.sub_dir, identity.partner, identity.sub_partner);
    int64_t bytes = 0;
    for (const BlockInfo& block : package.blocks) {
        bytes += block.size > 0 ? block.size : 0;
    }
    win::LogEvent("package chosen: \"" + WideToUtf8(package.title) + "\", folder " + WideToUtf8(package.sub_dir) +
                  ", " + std::to_string(package.blocks.size()) + " blocks, " + std::to_string(bytes) + " bytes, " +
                  std::to_string(package.mirrors.size()) + " mirrors, whole-file digest " +
                  (package.integrity.required ? "given" : "not given"));
    win::LogEvent("package file: " + WideToUtf8(package_path));
    win::LogEvent("window scale: " + std::to_string(dpi) + " DPI");
}

void SupportRecorder::DownloadStarting() {
    download_start_ms_ = win::ProcessElapsedMs();
    win::LogEvent("download started");
}

int64_t SupportRecorder::DownloadElapsedMs() const {
    return download_start_ms_ < 0 ? 0 : win::ProcessElapsedMs() - download_start_ms_;
}

void SupportRecorder::LogDownloadFigures() {
    for (const std::string& line : DownloadReportLines(manager_.Report())) {
        win::LogFinal(line);
    }
}

void SupportRecorder::DownloadFailed(DownloadFailure failure) {
    const DownloadReport report = manager_.Report();
    LogDownloadFigures();
    win::LogFinal("outcome: " + DownloadFailureLine(failure, report));
    outcome_logged_ = true;
    ReportFailure(FailureReasonOf(failure, report), 0);
}

void SupportRecorder::DownloadNotStarted() {
    win::LogFinal("outcome: download failed: disk (the package file could not be created)");
    outcome_logged_ = true;
    ReportFailure(FailureReason::kDisk, 0);
}

void SupportRecorder::DownloadComplete() {
    LogDownloadFigures();
    win::LogEvent("download complete after " + std::to_string(DownloadElapsedMs()) + " ms");
}

ReportDetails SupportRecorder::FinishedDetails() {
    return DownloadDetails(manager_.Report(), DownloadElapsedMs());
}

void SupportRecorder::SetupStarting(const std::wstring& command_line) {
    win::LogEvent("setup command line: " + WideToUtf8(command_line));
}

void SupportRecorder::SetupEnded(const SetupOutcome& outcome) {
    FailureReason reason = FailureReason::kSetupExitCode;
    uint32_t code = 0;
    const bool failed = SetupFailure(outcome, &reason, &code);
    win::LogFinal(SetupOutcomeLine(outcome));
    outcome_logged_ = true;
    if (!failed) {
        win::LogFinal("outcome: installed");
        return;
    }
    std::string line = "outcome: setup failed: ";
    line += FailureReasonName(reason);
    if (reason == FailureReason::kSetupExitCode) {
        line += ' ';
        line += std::to_string(code);
    }
    win::LogFinal(line);
    ReportFailure(reason, code);
}

void SupportRecorder::MainProgramStarted(const std::wstring& path, bool started) {
    win::LogFinal((started ? "program started: " : "program could not be started: ") + WideToUtf8(path));
}

void SupportRecorder::WindowEnded() {
    if (!outcome_logged_) {
        LogDownloadFigures();
        win::LogFinal("outcome: the window was closed before the installation");
    }
}

void SupportRecorder::ReportFailure(FailureReason reason, uint32_t code) {
    if (failure_reported_) {
        return;  // one failure report per run
    }
    failure_reported_ = true;
    ReportDetails details = DownloadDetails(manager_.Report(), DownloadElapsedMs());
    details.has_reason = true;
    details.reason = reason;
    details.exit_code = code;
    // Nobody waits: the window goes on to tell the user, and the end of the process waits
    // for reports in flight.
    SendDetailedInstallReport(ReportType::kFailed, details, 0);
}

}  // namespace installer
