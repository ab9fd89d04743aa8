// The installer window's stages and flags as a small state machine: the dialog feeds
// it events (button presses, download events, the end of the setup) and applies the
// actions it returns, in order. No window code here, so it is tested on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace installer {

// Stage numbers as the window paints them.
enum class InstallStage : uint16_t {
    kWelcome = 1,
    kInstall = 2,
    kFinish = 3,
};

// Window timer ids and delays of the dialog.
inline constexpr unsigned kStartDownloadTimerId = 9992;
inline constexpr unsigned kSlideTimerId = 9994;
inline constexpr unsigned kDownloadCompleteTimerId = 9998;
inline constexpr unsigned kFirstTimerDelayMs = 10;
inline constexpr unsigned kSlideIntervalMs = 3000;
inline constexpr int kSlideCount = 3;

// Statistics report types sent by the flow.
inline constexpr int kReportInstallRequested = 2;
inline constexpr int kReportSetupFinished = 0;

// Texts the flow shows.
inline constexpr const wchar_t* kStartProgramFailedText = L"执行安装包出错！";
inline constexpr const wchar_t* kDownloadFailedText = L"下载安装包失败，请检查网络后重试。";
inline constexpr const wchar_t* kPackageDamagedText =
    L"安装包在各个下载服务器上都未通过校验，可能已损坏或被改动，请稍后重试。";
inline constexpr const wchar_t* kCertificateInvalidText =
    L"服务器的安全证书无效，无法安全地下载。请检查电脑的日期和时间，或联系软件发布者。";
inline constexpr const wchar_t* kServerRefusedText = L"下载服务器暂时不提供该安装包，请稍后重试或联系软件发布者。";
inline constexpr const wchar_t* kProxyLoginText =
    L"代理服务器需要有效的用户名和密码，安装已停止。请向网络管理员确认登录信息后重试。";

// Why the download could not complete, as the user must hear it: each cause has its own
// remedy. Never renumbered.
enum class DownloadFailureCause {
    kNetwork = 0,        // no mirror could be reached or kept delivering
    kCannotWrite = 1,    // the package file cannot be created or written (disk full, read-only folder)
    kDamaged = 2,        // the blocks fail their check on every mirror
    kCertificate = 3,    // every server's certificate is not valid
    kServerRefused = 4,  // every mirror refuses with an HTTP error
    kProxyLogin = 5,     // the proxy's login was not given
};

enum class FlowActionKind {
    // Hide the licence box and link, the folder box, Browse, both options, the custom link
    // and Install now; show the picture, the progress bar, its text and caption; disable
    // the close button; start the slide timer with 10 ms; invalidate and
    // update the window. The flow's stage is already kInstall.
    kEnterInstallStage,
    // Send statistics report `report_type`. `report_on_thread`: on a thread of its own,
    // nobody waits (type 2); otherwise on the window thread, waited for (type 0).
    kSendReport,
    // Run the setup hidden: `path` is the package, `command_line` the full command line
    // (path quoted, arguments after it). Wait on the process handle while pumping
    // messages and showing `SetupWaitProgress`, then call `OnSetupFinished` with the
    // outcome. Only one run per flow.
    kRunSetup,
    // The progress bar at `percent` and its text = ProgressText(percent).
    kShowProgress,
    // Stop the slide timer; progress bar at 100; hide the progress bar, its text and
    // caption; show Start now; hide Install now; invalidate and update; enable the close
    // button.
    kEnterFinishStage,
    // The Install stage ends without an installation (setup or download failed): stop
    // slide timer; hide the progress bar, its text and caption; invalidate and update;
    // enable the close button. The stage stays kInstall; Start now is not shown.
    kStopInstallStage,
    // Enable (`enabled`) or disable the Install now button.
    kEnableInstallButton,
    // Modal message box with `text` and an OK button.
    kShowMessage,
    // Show `text` (the new installation directory) in the folder box.
    kShowInstallDir,
    // The slide show moved on: invalidate (with erase) and update the window, start
    // slide timer again with `delay_ms`. The picture is "Install<slide()>.jpg".
    kShowNextSlide,
    // Open `path` (the installed "\Main.exe") with the shell; when that fails, show
    // `text` in a message box. The action that follows runs in either case.
    kStartMainProgram,
    // Clear the download manager's receiver, then end the dialog.
    kEndDialog,
};

struct FlowAction {
    FlowActionKind kind;
    int report_type = 0;
    bool report_on_thread = false;
    int percent = 0;
    bool enabled = false;
    unsigned delay_ms = 0;
    std::wstring path;
    std::wstring command_line;
    std::wstring text;
};

using FlowActions = std::vector<FlowAction>;

// How the setup run ended, as the dialog saw it.
struct SetupOutcome {
    enum class Kind {
        kExited,         // the process ran and ended with `code` as exit code
        kCouldNotStart,  // the process could not be created; `code` is the system error
        kPackageInvalid  // the package failed its check before it ran; nothing was started
    };
    Kind kind = Kind::kExited;
    uint32_t code = 0;
};

// What the flow starts from: all three are fixed when the dialog initialises.
struct InstallFlowSettings {
    std::wstring package_path;  // where the package is downloaded (PackagePath)
    std::wstring install_dir;   // default installation directory
    std::wstring sub_dir;       // "FileDir": appended to a browsed folder
    int64_t package_bytes = 0;  // the package's size: the sum of its block sizes
};

// The flow of one installer window. Lives on the window thread; not thread-safe (the
// dialog hands worker-thread callbacks to the window thread before calling it).
// Every event returns the actions to apply in order; an event that does not apply in
// the current state returns no actions and changes nothing. Never throws except for
// std::bad_alloc.
class InstallFlow {
  public:
    explicit InstallFlow(InstallFlowSettings settings);

    // Install now. Welcome: switch to the Install stage and send report 2; when
    // the package is ready, also run the setup. Ignored while the licence box is
    // unchecked or after the download failed (the button is disabled then).
    FlowActions OnInstallPressed();
    // The download-complete timer: the package is complete. Runs the setup if Install now was pressed.
    FlowActions OnDownloadComplete();
    // The manager's progress (percent 0..99). Shown scaled to 85 only in the Install
    // stage while the download runs; ignored before Install now and afterwards.
    FlowActions OnDownloadProgress(int percent);
    // The download engine gave up for good. Tells the user why and what to do (see
    // DownloadFailureText) and lets them close.
    FlowActions OnDownloadFailed(DownloadFailureCause cause);
    // The setup run requested by kRunSetup ended. Success (exited with 0): report 0 and
    // the Finish stage. Otherwise a message with the reason, the Install stage ends, no
    // report, and Main.exe is never started.
    FlowActions OnSetupFinished(SetupOutcome outcome);
    // The close button. Finish stage: start Main.exe when run-now is checked (and the
    // setup succeeded), then end. Welcome: end. Install stage: only once it has stopped
    // after a failure (the button is disabled before). Never while the setup runs.
    FlowActions OnClosePressed();
    // The dialog's cancel (Esc, Alt+F4): ends the dialog in any stage without starting
    // anything, except while the setup runs (the window waits for it then).
    FlowActions OnCancelRequested();
    // Start now: in the Finish stage after a successful setup, start Main.exe and end.
    FlowActions OnStartNowPressed();
    // The licence box: enables or disables Install now (stays disabled after a failed download).
    FlowActions OnLicenceToggled(bool checked);
    FlowActions OnRunNowToggled(bool checked);
    FlowActions OnStartAtBootToggled(bool checked);
    // Browse picked `folder` (its file-system path). Welcome stage only. An empty path
    // (a virtual folder without one) changes nothing.
    FlowActions OnFolderChosen(const std::wstring& folder);
    // The slide timer: next picture of the slide show (Install stage only).
    FlowActions OnSlideTimer();

    InstallStage stage() const { return stage_; }
    int slide() const { return slide_; }
    const std::wstring& install_dir() const { return install_dir_; }
    const std::wstring& package_path() const { return settings_.package_path; }
    bool install_requested() const { return install_requested_; }
    bool package_ready() const { return package_ready_; }
    bool run_now() const { return run_now_; }
    bool start_at_boot() const { return start_at_boot_; }
    bool setup_running() const { return setup_running_; }

  private:
    FlowActions RunSetup();
    FlowActions StartMainAndEnd() const;

    InstallFlowSettings settings_;
    std::wstring install_dir_;
    InstallStage stage_ = InstallStage::kWelcome;
    int slide_ = 0;
    bool install_requested_ = false;
    bool package_ready_ = false;
    bool download_failed_ = false;
    bool licence_accepted_ = true;
    bool run_now_ = true;
    bool start_at_boot_ = true;
    bool setup_started_ = false;
    bool setup_running_ = false;
    bool setup_succeeded_ = false;
    bool install_stage_stopped_ = false;
};

// Download percent (the manager reports 0..99) scaled to the bar's 0..85: percent*85/100,
// with the percent clamped to 0..100 first.
int ScaleDownloadProgress(int percent);

// The progress text "已完成 %d %%" for `percent`.
std::wstring ProgressText(int percent);

// Installation directory after Browse picked `folder`: folder, a "\" unless it is empty
// or already ends with one, then `sub_dir`.
std::wstring BrowsedInstallDir(const std::wstring& folder, const std::wstring& sub_dir);

// The pseudo-progress while the setup runs: 85 at first, one step per 100 waits of
// 10 ms, never above 99. One object per setup run.
class SetupWaitProgress {
  public:
    // One wait timed out: the percent to show, or nothing once it has passed 99.
    std::optional<int> OnWaitTimeout();

  private:
    uint32_t wait_ticks_ = 0;
    int tick_counter_ = 0;
};

// The message for a download that cannot complete: the network text, the damaged-package
// text, or for a package that cannot be written one that names the space it needs
// (`package_bytes` as FormatByteSize gives it).
std::wstring DownloadFailureText(DownloadFailureCause cause, int64_t package_bytes);

// A size for people: "900 KB", "48.2 MB", "1.5 GB" (units of 1,024), rounded up so that
// the space it asks for is enough.
std::wstring FormatByteSize(int64_t bytes);

// The failure message shown for a setup outcome, empty for success (exited with 0).
std::wstring SetupFailureText(const SetupOutcome& outcome);

}  // namespace installer
