// What the installer window tells the support log and the statistics server about one
// installation: the package chosen, the download's figures, its failure, the setup run and
// its exit code, and whether the program was started. The window calls it at those
// moments, on its own thread; nothing here can fail the installation.
#pragma once

#include <cstdint>
#include <string>

#include "config/package_description.h"
#include "download/block_download_mgr.h"
#include "identity/report_address.h"

namespace installer {

struct SetupOutcome;

class SupportRecorder {
  public:
    // `manager` is not owned and must outlive the recorder; only its Report() is read.
    explicit SupportRecorder(CBlockDownloadMgr& manager) : manager_(manager) {}
    SupportRecorder(const SupportRecorder&) = delete;
    SupportRecorder& operator=(const SupportRecorder&) = delete;

    // The package is chosen: the log file is named after its sub-directory from now on.
    void PackageChosen(const PackageDescription& package, const std::wstring& package_path, int dpi);
    // The download starts now (its seconds are counted from here).
    void DownloadStarting();
    // The engine gave up: the figures, the final reason, and the failure report.
    void DownloadFailed(DownloadFailure failure);
    // The package file could not be created: the disk's failure, reported the same way.
    void DownloadNotStarted();
    // Every block is there.
    void DownloadComplete();
    // The figures the finished report (type 0) carries.
    ReportDetails FinishedDetails();
    void SetupStarting(const std::wstring& command_line);
    // Logs the outcome; a failed run is reported with its reason and exit code.
    void SetupEnded(const SetupOutcome& outcome);
    void MainProgramStarted(const std::wstring& path, bool started);
    // The window ends; without an outcome so far, the user left before installing.
    void WindowEnded();

  private:
    int64_t DownloadElapsedMs() const;
    void LogDownloadFigures();
    void ReportFailure(FailureReason reason, uint32_t code);

    CBlockDownloadMgr& manager_;
    int64_t download_start_ms_ = -1;
    bool failure_reported_ = false;
    bool outcome_logged_ = false;
};

}  // namespace installer
