// The install flow's state machine and the small rules it applies.
#include "dialog/install_flow.h"

#include <algorithm>
#include <utility>

#include "base/text.h"
#include "dialog/package_naming.h"

namespace installer {
namespace {

constexpr int kDownloadShare = 85;  // the download fills the bar up to here
constexpr int kWaitSteps = 15;      // 85..99 while the setup runs
constexpr int kTimeoutsPerStep = 100;

FlowAction Action(FlowActionKind kind) {
    FlowAction action;
    action.kind = kind;
    return action;
}

FlowAction Report(int type, bool on_thread) {
    FlowAction action = Action(FlowActionKind::kSendReport);
    action.report_type = type;
    action.report_on_thread = on_thread;
    return action;
}

FlowAction Message(std::wstring text) {
    FlowAction action = Action(FlowActionKind::kShowMessage);
    action.text = std::move(text);
    return action;
}

}  // namespace

InstallFlow::InstallFlow(InstallFlowSettings settings)
    : settings_(std::move(settings)), install_dir_(settings_.install_dir) {}

FlowActions InstallFlow::OnInstallPressed() {
    if (!licence_accepted_ || download_failed_) {
        return {};
    }
    FlowActions actions;
    if (stage_ == InstallStage::kWelcome) {
        stage_ = InstallStage::kInstall;
        install_requested_ = true;
        actions.push_back(Action(FlowActionKind::kEnterInstallStage));
    }
    // Every press is reported; the button hides itself, so an installation sends one.
    actions.push_back(Report(kReportInstallRequested, true));
    if (package_ready_ && !setup_started_) {
        FlowActions run = RunSetup();
        actions.insert(actions.end(), run.begin(), run.end());
    }
    return actions;
}

FlowActions InstallFlow::OnDownloadComplete() {
    if (package_ready_ || download_failed_) {
        return {};
    }
    package_ready_ = true;
    if (install_requested_ && !setup_started_) {
        return RunSetup();
    }
    return {};
}

FlowActions InstallFlow::OnDownloadProgress(int percent) {
    // Once the package is complete the bar belongs to the setup run (85 and above):
    // a late download event must not move it back.
    if (percent < 0 || !install_requested_ || stage_ != InstallStage::kInstall || package_ready_ || download_failed_ ||
        install_stage_stopped_) {
        return {};
    }
    FlowAction action = Action(FlowActionKind::kShowProgress);
    action.percent = ScaleDownloadProgress(percent);
    return {action};
}

FlowActions InstallFlow::OnDownloadFailed(DownloadFailureCause cause) {
    if (package_ready_ || download_failed_) {
        return {};
    }
    download_failed_ = true;
    FlowActions actions;
    if (stage_ == InstallStage::kInstall) {
        install_stage_stopped_ = true;
        actions.push_back(Action(FlowActionKind::kStopInstallStage));
    } else {
        FlowAction disable = Action(FlowActionKind::kEnableInstallButton);
        disable.enabled = false;
        actions.push_back(disable);
    }
    actions.push_back(Message(DownloadFailureText(cause, settings_.package_bytes)));
    return actions;
}

FlowActions InstallFlow::OnSetupFinished(SetupOutcome outcome) {
    if (!setup_running_) {
        return {};
    }
    setup_running_ = false;
    const std::wstring failure = SetupFailureText(outcome);
    if (failure.empty()) {
        setup_succeeded_ = true;
        stage_ = InstallStage::kFinish;
        // Only an installation that ran to a good end is reported as finished: the
        // publisher pays its partners by these reports.
        return {Report(kReportSetupFinished, false), Action(FlowActionKind::kEnterFinishStage)};
    }
    install_stage_stopped_ = true;
    return {Action(FlowActionKind::kStopInstallStage), Message(failure)};
}

FlowActions InstallFlow::OnClosePressed() {
    if (setup_running_) {
        return {};
    }
    switch (stage_) {
        case InstallStage::kWelcome:
            return {Action(FlowActionKind::kEndDialog)};
        case InstallStage::kInstall:
            if (!install_stage_stopped_) {
                return {};
            }
            return {Action(FlowActionKind::kEndDialog)};
        case InstallStage::kFinish:
            if (run_now_ && setup_succeeded_) {
                return StartMainAndEnd();
            }
            return {Action(FlowActionKind::kEndDialog)};
    }
    return {};
}

FlowActions InstallFlow::OnCancelRequested() {
    // Esc and Alt+F4 are the keyboard's close button: the same where closing is allowed,
    // nothing where it is not (the Install stage while it runs, the setup run).
    return OnClosePressed();
}

FlowActions InstallFlow::OnStartNowPressed() {
    if (stage_ != InstallStage::kFinish || !setup_succeeded_) {
        return {};
    }
    return StartMainAndEnd();
}

FlowActions InstallFlow::OnLicenceToggled(bool checked) {
    if (stage_ != InstallStage::kWelcome) {
        return {};
    }
    licence_accepted_ = checked;
    FlowAction action = Action(FlowActionKind::kEnableInstallButton);
    action.enabled = checked && !download_failed_;
    return {action};
}

FlowActions InstallFlow::OnRunNowToggled(bool checked) {
    run_now_ = checked;
    return {};
}

FlowActions InstallFlow::OnStartAtBootToggled(bool checked) {
    // The setup's arguments are fixed once it has started.
    if (!setup_started_) {
        start_at_boot_ = checked;
    }
    return {};
}

FlowActions InstallFlow::OnFolderChosen(const std::wstring& folder) {
    // An empty folder would make the directory relative to wherever the setup happens
    // to run; the Install stage has fixed the directory already.
    if (folder.empty() || stage_ != InstallStage::kWelcome) {
        return {};
    }
    install_dir_ = BrowsedInstallDir(folder, settings_.sub_dir);
    FlowAction action = Action(FlowActionKind::kShowInstallDir);
    action.text = install_dir_;
    return {action};
}

FlowActions InstallFlow::OnSlideTimer() {
    if (stage_ != InstallStage::kInstall || install_stage_stopped_) {
        return {};
    }
    slide_ = (slide_ + 1) % kSlideCount;
    FlowAction action = Action(FlowActionKind::kShowNextSlide);
    action.delay_ms = kSlideIntervalMs;
    return {action};
}

FlowActions InstallFlow::RunSetup() {
    setup_started_ = true;
    setup_running_ = true;
    FlowAction action = Action(FlowActionKind::kRunSetup);
    action.path = settings_.package_path;
    action.command_line = SetupCommandLine(settings_.package_path, SetupArguments(start_at_boot_, install_dir_));
    return {action};
}

FlowActions InstallFlow::StartMainAndEnd() const {
    FlowAction start = Action(FlowActionKind::kStartMainProgram);
    start.path = MainProgramPath(install_dir_);
    start.text = kStartProgramFailedText;
    return {start, Action(FlowActionKind::kEndDialog)};
}

int ScaleDownloadProgress(int percent) {
    return std::clamp(percent, 0, 100) * kDownloadShare / 100;
}

std::wstring DownloadFailureText(DownloadFailureCause cause, int64_t package_bytes) {
    switch (cause) {
        case DownloadFailureCause::kCannotWrite:
            return L"安装包无法保存：磁盘空间不足或文件夹不可写入。请确保系统盘至少有 " +
                   FormatByteSize(package_bytes) + L" 可用空间后重试。";
        case DownloadFailureCause::kDamaged:
            return kPackageDamagedText;
        case DownloadFailureCause::kCertificate:
            return kCertificateInvalidText;
        case DownloadFailureCause::kServerRefused:
            return kServerRefusedText;
        case DownloadFailureCause::kProxyLogin:
            return kProxyLoginText;
        case DownloadFailureCause::kNetwork:
            break;
    }
    return kDownloadFailedText;
}

std::wstring FormatByteSize(int64_t bytes) {
    constexpr int64_t kKiB = 1024;
    constexpr int64_t kMiB = 1024 * kKiB;
    constexpr int64_t kGiB = 1024 * kMiB;
    bytes = std::max<int64_t>(bytes, 0);
    if (bytes < kMiB) {
        return Int64ToWide((bytes + kKiB - 1) / kKiB) + L" KB";
    }
    const int64_t unit = bytes < kGiB ? kMiB : kGiB;
    const int64_t tenths = (bytes * 10 + unit - 1) / unit;  // rounded up: never less than needed
    return Int64ToWide(tenths / 10) + L"." + Int64ToWide(tenths % 10) + (unit == kMiB ? L" MB" : L" GB");
}

std::wstring ProgressText(int percent) {
    return L"已完成 " + Int64ToWide(percent) + L" %";
}

std::wstring BrowsedInstallDir(const std::wstring& folder, const std::wstring& sub_dir) {
    std::wstring dir = folder;
    if (!dir.empty() && dir.back() != L'\\') {
        dir += L"\\";
    }
    return dir + sub_dir;
}

std::optional<int> SetupWaitProgress::OnWaitTimeout() {
    std::optional<int> shown;
    if (wait_ticks_ < kWaitSteps) {
        shown = kDownloadShare + static_cast<int>(wait_ticks_);
    }
    if (tick_counter_ == kTimeoutsPerStep) {
        // Saturate: a setup that runs for days must not wrap the counter back to 85.
        if (wait_ticks_ < kWaitSteps) {
            ++wait_ticks_;
        }
        tick_counter_ = 0;
    }
    ++tick_counter_;
    return shown;
}

std::wstring SetupFailureText(const SetupOutcome& outcome) {
    switch (outcome.kind) {
        case SetupOutcome::Kind::kExited:
            if (outcome.code == 0) {
                return {};
            }
            return L"安装程序运行失败（错误码 " + Int64ToWide(outcome.code) + L"），请重试。";
        case SetupOutcome::Kind::kCouldNotStart:
            return L"无法启动安装程序（错误码 " + Int64ToWide(outcome.code) + L"），请重试。";
        case SetupOutcome::Kind::kPackageInvalid:
            return L"安装包已损坏或被改动，请重新运行安装程序。";
    }
    return L"安装程序运行失败，请重试。";
}

}  // namespace installer
