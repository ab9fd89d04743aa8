// The install flow's stages, flags and actions, driven event by event.
#include "dialog/install_flow.h"

#include <gtest/gtest.h>

#include <vector>

namespace installer {
namespace {

using Kind = FlowActionKind;

std::vector<Kind> Kinds(const FlowActions& actions) {
    std::vector<Kind> kinds;
    for (const FlowAction& a : actions) {
        kinds.push_back(a.kind);
    }
    return kinds;
}

InstallFlow MakeFlow() {
    return InstallFlow({L"C:\\Users\\Public\\Documents\\Soft_1001_77.exe", L"C:\\Program Files\\Soft", L"Soft"});
}

const FlowAction& Find(const FlowActions& actions, Kind kind) {
    for (const FlowAction& a : actions) {
        if (a.kind == kind) {
            return a;
        }
    }
    ADD_FAILURE() << "action missing";
    static const FlowAction none{};
    return none;
}

TEST(InstallFlowTest, StartsOnWelcomeWithBothOptionsChecked) {
    InstallFlow flow = MakeFlow();
    EXPECT_EQ(flow.stage(), InstallStage::kWelcome);
    EXPECT_TRUE(flow.run_now());
    EXPECT_TRUE(flow.start_at_boot());
    EXPECT_FALSE(flow.install_requested());
    EXPECT_FALSE(flow.package_ready());
    EXPECT_EQ(flow.install_dir(), L"C:\\Program Files\\Soft");
}

TEST(InstallFlowTest, DownloadCompleteFirstThenPressRunsSetupInOneCommand) {
    InstallFlow flow = MakeFlow();
    EXPECT_TRUE(flow.OnDownloadComplete().empty());
    EXPECT_TRUE(flow.package_ready());
    EXPECT_EQ(flow.stage(), InstallStage::kWelcome);

    FlowActions press = flow.OnInstallPressed();
    ASSERT_EQ(Kinds(press), (std::vector<Kind>{Kind::kEnterInstallStage, Kind::kSendReport, Kind::kRunSetup}));
    EXPECT_EQ(press[1].report_type, 2);
    EXPECT_TRUE(press[1].report_on_thread);
    EXPECT_EQ(press[2].path, L"C:\\Users\\Public\\Documents\\Soft_1001_77.exe");
    EXPECT_EQ(press[2].command_line,
              L"\"C:\\Users\\Public\\Documents\\Soft_1001_77.exe\" /S /RUN /D=C:\\Program Files\\Soft");
    EXPECT_TRUE(flow.setup_running());

    FlowActions done = flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0});
    ASSERT_EQ(Kinds(done), (std::vector<Kind>{Kind::kSendReport, Kind::kEnterFinishStage}));
    EXPECT_EQ(done[0].report_type, 0);
    EXPECT_FALSE(done[0].report_on_thread);
    EXPECT_EQ(flow.stage(), InstallStage::kFinish);
}

TEST(InstallFlowTest, PressFirstThenDownloadCompleteRunsSetup) {
    InstallFlow flow = MakeFlow();
    FlowActions press = flow.OnInstallPressed();
    ASSERT_EQ(Kinds(press), (std::vector<Kind>{Kind::kEnterInstallStage, Kind::kSendReport}));
    EXPECT_EQ(flow.stage(), InstallStage::kInstall);
    EXPECT_TRUE(flow.install_requested());
    EXPECT_FALSE(flow.setup_running());

    FlowActions complete = flow.OnDownloadComplete();
    ASSERT_EQ(Kinds(complete), (std::vector<Kind>{Kind::kRunSetup}));
    // A second completion event (a late timer) must not run the setup again.
    EXPECT_TRUE(flow.OnDownloadComplete().empty());

    FlowActions done = flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0});
    ASSERT_EQ(Kinds(done), (std::vector<Kind>{Kind::kSendReport, Kind::kEnterFinishStage}));
    EXPECT_EQ(flow.stage(), InstallStage::kFinish);
    // The setup's end arrives once; a stray second one changes nothing.
    EXPECT_TRUE(flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0}).empty());
}

TEST(InstallFlowTest, StartAtBootUncheckedGivesTwoSpacesAndBrowsedDirectory) {
    InstallFlow flow = MakeFlow();
    flow.OnStartAtBootToggled(false);
    FlowActions shown = flow.OnFolderChosen(L"D:\\Games");
    ASSERT_EQ(Kinds(shown), (std::vector<Kind>{Kind::kShowInstallDir}));
    EXPECT_EQ(shown[0].text, L"D:\\Games\\Soft");
    flow.OnDownloadComplete();
    FlowActions press = flow.OnInstallPressed();
    EXPECT_EQ(Find(press, Kind::kRunSetup).command_line,
              L"\"C:\\Users\\Public\\Documents\\Soft_1001_77.exe\" /S  /D=D:\\Games\\Soft");
    // Options that change once the setup has started do not change what it got.
    flow.OnStartAtBootToggled(true);
    EXPECT_FALSE(flow.start_at_boot());
}

TEST(InstallFlowTest, BrowseIsIgnoredForEmptyPathAndAfterWelcome) {
    InstallFlow flow = MakeFlow();
    EXPECT_TRUE(flow.OnFolderChosen(L"").empty());
    EXPECT_EQ(flow.install_dir(), L"C:\\Program Files\\Soft");
    flow.OnInstallPressed();
    EXPECT_TRUE(flow.OnFolderChosen(L"E:\\").empty());
    EXPECT_EQ(flow.install_dir(), L"C:\\Program Files\\Soft");
}

TEST(InstallFlowTest, ProgressIgnoredBeforePressAndScaledAfter) {
    InstallFlow flow = MakeFlow();
    EXPECT_TRUE(flow.OnDownloadProgress(50).empty());
    flow.OnInstallPressed();
    FlowActions shown = flow.OnDownloadProgress(50);
    ASSERT_EQ(Kinds(shown), (std::vector<Kind>{Kind::kShowProgress}));
    EXPECT_EQ(shown[0].percent, 42);
    EXPECT_TRUE(flow.OnDownloadProgress(-1).empty());
    EXPECT_EQ(flow.OnDownloadProgress(99)[0].percent, 84);
    // After completion the bar belongs to the setup run; late download events are dropped.
    flow.OnDownloadComplete();
    EXPECT_TRUE(flow.OnDownloadProgress(99).empty());
}

TEST(InstallFlowTest, LicenceBoxDisablesAndEnablesInstall) {
    InstallFlow flow = MakeFlow();
    FlowActions off = flow.OnLicenceToggled(false);
    ASSERT_EQ(Kinds(off), (std::vector<Kind>{Kind::kEnableInstallButton}));
    EXPECT_FALSE(off[0].enabled);
    // A press that slips through while unchecked does nothing.
    EXPECT_TRUE(flow.OnInstallPressed().empty());
    EXPECT_EQ(flow.stage(), InstallStage::kWelcome);
    FlowActions on = flow.OnLicenceToggled(true);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_TRUE(on[0].enabled);
    EXPECT_EQ(Kinds(flow.OnInstallPressed()), (std::vector<Kind>{Kind::kEnterInstallStage, Kind::kSendReport}));
}

TEST(InstallFlowTest, FailedSetupShowsMessageSendsNoReportAndNeverStartsMain) {
    struct Case {
        SetupOutcome outcome;
        std::wstring message;
    };
    const Case cases[] = {
        {{SetupOutcome::Kind::kExited, 2}, L"安装程序运行失败（错误码 2），请重试。"},
        {{SetupOutcome::Kind::kExited, 0xC0000005u}, L"安装程序运行失败（错误码 3221225477），请重试。"},
        {{SetupOutcome::Kind::kCouldNotStart, 193}, L"无法启动安装程序（错误码 193），请重试。"},
        {{SetupOutcome::Kind::kPackageInvalid, 0}, L"安装包已损坏或被改动，请重新运行安装程序。"},
    };
    for (const Case& c : cases) {
        InstallFlow flow = MakeFlow();
        flow.OnDownloadComplete();
        flow.OnInstallPressed();
        // The close button is disabled while the setup runs.
        EXPECT_TRUE(flow.OnClosePressed().empty());
        FlowActions done = flow.OnSetupFinished(c.outcome);
        ASSERT_EQ(Kinds(done), (std::vector<Kind>{Kind::kStopInstallStage, Kind::kShowMessage}));
        EXPECT_EQ(done[1].text, c.message);
        EXPECT_EQ(flow.stage(), InstallStage::kInstall);
        EXPECT_TRUE(flow.OnStartNowPressed().empty());
        EXPECT_TRUE(flow.OnSlideTimer().empty());
        // run-now is still checked, yet closing only ends the dialog.
        EXPECT_EQ(Kinds(flow.OnClosePressed()), (std::vector<Kind>{Kind::kEndDialog}));
    }
}

TEST(InstallFlowTest, DownloadFailureInInstallStageLetsTheUserClose) {
    InstallFlow flow = MakeFlow();
    flow.OnInstallPressed();
    EXPECT_TRUE(flow.OnClosePressed().empty());
    FlowActions failed = flow.OnDownloadFailed(DownloadFailureCause::kNetwork);
    ASSERT_EQ(Kinds(failed), (std::vector<Kind>{Kind::kStopInstallStage, Kind::kShowMessage}));
    EXPECT_EQ(failed[1].text, L"下载安装包失败，请检查网络后重试。");
    EXPECT_TRUE(flow.OnDownloadProgress(60).empty());
    EXPECT_TRUE(flow.OnDownloadComplete().empty());
    EXPECT_FALSE(flow.setup_running());
    EXPECT_EQ(Kinds(flow.OnClosePressed()), (std::vector<Kind>{Kind::kEndDialog}));
}

TEST(InstallFlowTest, DownloadFailureOnWelcomeDisablesInstallForGood) {
    InstallFlow flow = MakeFlow();
    FlowActions failed = flow.OnDownloadFailed(DownloadFailureCause::kDamaged);
    ASSERT_EQ(Kinds(failed), (std::vector<Kind>{Kind::kEnableInstallButton, Kind::kShowMessage}));
    EXPECT_EQ(failed[1].text, kPackageDamagedText);
    EXPECT_FALSE(failed[0].enabled);
    EXPECT_FALSE(flow.OnLicenceToggled(true)[0].enabled);
    EXPECT_TRUE(flow.OnInstallPressed().empty());
    EXPECT_TRUE(flow.OnDownloadFailed(DownloadFailureCause::kNetwork).empty());  // told once
    EXPECT_EQ(Kinds(flow.OnClosePressed()), (std::vector<Kind>{Kind::kEndDialog}));
}

TEST(InstallFlowTest, FinishStageStartsMainByCloseOnlyWhenRunNowChecked) {
    for (bool run_now : {true, false}) {
        InstallFlow flow = MakeFlow();
        flow.OnRunNowToggled(run_now);
        flow.OnInstallPressed();
        flow.OnDownloadComplete();
        flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0});
        FlowActions close = flow.OnClosePressed();
        if (run_now) {
            ASSERT_EQ(Kinds(close), (std::vector<Kind>{Kind::kStartMainProgram, Kind::kEndDialog}));
            EXPECT_EQ(close[0].path, L"C:\\Program Files\\Soft\\Main.exe");
            EXPECT_EQ(close[0].text, L"执行安装包出错！");
        } else {
            EXPECT_EQ(Kinds(close), (std::vector<Kind>{Kind::kEndDialog}));
        }
    }
}

TEST(InstallFlowTest, StartNowStartsMainFromTheBrowsedDirectoryEvenWithRunNowUnchecked) {
    InstallFlow flow = MakeFlow();
    EXPECT_TRUE(flow.OnStartNowPressed().empty());  // only in the Finish stage
    flow.OnRunNowToggled(false);
    flow.OnFolderChosen(L"D:\\");
    flow.OnInstallPressed();
    EXPECT_TRUE(flow.OnStartNowPressed().empty());
    flow.OnDownloadComplete();
    flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0});
    FlowActions start = flow.OnStartNowPressed();
    ASSERT_EQ(Kinds(start), (std::vector<Kind>{Kind::kStartMainProgram, Kind::kEndDialog}));
    EXPECT_EQ(start[0].path, L"D:\\Soft\\Main.exe");
}

TEST(InstallFlowTest, SlideShowCyclesOnlyDuringInstallStage) {
    InstallFlow flow = MakeFlow();
    EXPECT_TRUE(flow.OnSlideTimer().empty());
    flow.OnInstallPressed();
    std::vector<int> slides;
    for (int i = 0; i < 4; ++i) {
        FlowActions next = flow.OnSlideTimer();
        ASSERT_EQ(next.size(), 1u);
        EXPECT_EQ(next[0].delay_ms, 3000u);
        slides.push_back(flow.slide());
    }
    EXPECT_EQ(slides, (std::vector<int>{1, 2, 0, 1}));
    flow.OnDownloadComplete();
    flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0});
    EXPECT_TRUE(flow.OnSlideTimer().empty());
}

TEST(InstallFlowTest, CloseOnWelcomeEndsWithoutStartingAnything) {
    InstallFlow flow = MakeFlow();
    EXPECT_EQ(Kinds(flow.OnClosePressed()), (std::vector<Kind>{Kind::kEndDialog}));
}

TEST(InstallFlowTest, CancelKeysCloseWhereTheCloseButtonDoesAndNowhereElse) {
    // Welcome: both end.
    InstallFlow welcome = MakeFlow();
    EXPECT_EQ(Kinds(welcome.OnCancelRequested()), (std::vector<Kind>{Kind::kEndDialog}));

    InstallFlow flow = MakeFlow();
    flow.OnInstallPressed();
    // The Install stage while the download runs and while the setup runs: no way out.
    EXPECT_TRUE(flow.OnCancelRequested().empty());
    flow.OnDownloadComplete();
    EXPECT_TRUE(flow.OnCancelRequested().empty());
    flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0});
    // Finish with run-now checked: as the close button, the installed program starts.
    EXPECT_EQ(Kinds(flow.OnCancelRequested()), Kinds(flow.OnClosePressed()));
    EXPECT_EQ(Kinds(flow.OnCancelRequested()).front(), Kind::kStartMainProgram);

    // A failed download ends the Install stage: closing is allowed again.
    InstallFlow failed = MakeFlow();
    failed.OnInstallPressed();
    failed.OnDownloadFailed(DownloadFailureCause::kNetwork);
    EXPECT_EQ(Kinds(failed.OnCancelRequested()), (std::vector<Kind>{Kind::kEndDialog}));
}

TEST(InstallFlowTest, LaterPressesAreReportedButNeverRunTheSetupTwice) {
    InstallFlow flow = MakeFlow();
    flow.OnDownloadComplete();
    flow.OnInstallPressed();
    flow.OnSetupFinished({SetupOutcome::Kind::kExited, 0});
    EXPECT_EQ(Kinds(flow.OnInstallPressed()), (std::vector<Kind>{Kind::kSendReport}));
    EXPECT_EQ(flow.stage(), InstallStage::kFinish);
}

TEST(InstallFlowRulesTest, ProgressScalingAndText) {
    EXPECT_EQ(ScaleDownloadProgress(0), 0);
    EXPECT_EQ(ScaleDownloadProgress(50), 42);
    EXPECT_EQ(ScaleDownloadProgress(99), 84);
    EXPECT_EQ(ScaleDownloadProgress(100), 85);
    // Out-of-range input stays on the bar instead of overflowing past it.
    EXPECT_EQ(ScaleDownloadProgress(2000000000), 85);
    EXPECT_EQ(ScaleDownloadProgress(-5), 0);
    EXPECT_EQ(ProgressText(42), L"已完成 42 %");
}

TEST(InstallFlowRulesTest, BrowsedDirectoryRule) {
    EXPECT_EQ(BrowsedInstallDir(L"D:\\", L"Soft"), L"D:\\Soft");
    EXPECT_EQ(BrowsedInstallDir(L"D:\\Games", L"Soft"), L"D:\\Games\\Soft");
    EXPECT_EQ(BrowsedInstallDir(L"D:\\Games", L""), L"D:\\Games\\");
}

TEST(InstallFlowRulesTest, WaitProgressStepsFrom85To99AndStops) {
    SetupWaitProgress progress;
    std::vector<int> shown;
    int timeouts = 0;
    int first_99 = -1;
    while (true) {
        std::optional<int> p = progress.OnWaitTimeout();
        ++timeouts;
        if (!p) {
            break;
        }
        if (shown.empty() || shown.back() != *p) {
            shown.push_back(*p);
        }
        if (*p == 99 && first_99 < 0) {
            first_99 = timeouts;
        }
        ASSERT_LT(timeouts, 5000);
    }
    std::vector<int> expected;
    for (int v = 85; v <= 99; ++v) {
        expected.push_back(v);
    }
    EXPECT_EQ(shown, expected);
    // 85 is shown for the first 101 time-outs, each later value for 100.
    EXPECT_EQ(first_99, 101 + 13 * 100 + 1);
    EXPECT_EQ(timeouts, 101 + 14 * 100 + 1);
    // Stays silent however long the setup runs.
    for (int i = 0; i < 100000; ++i) {
        ASSERT_FALSE(progress.OnWaitTimeout().has_value());
    }
}

TEST(InstallFlowTest, PackageThatCannotBeWrittenNamesTheSpaceItNeeds) {
    InstallFlowSettings settings;
    settings.package_bytes = 48 * 1024 * 1024 + 1;  // a byte over 48 MB: ask for 48.1
    InstallFlow flow(settings);
    flow.OnInstallPressed();
    FlowActions failed = flow.OnDownloadFailed(DownloadFailureCause::kCannotWrite);
    ASSERT_EQ(Kinds(failed), (std::vector<Kind>{Kind::kStopInstallStage, Kind::kShowMessage}));
    EXPECT_EQ(failed[1].text,
              L"安装包无法保存：磁盘空间不足或文件夹不可写入。请确保系统盘至少有 48.1 MB 可用空间后重试。");
}

TEST(InstallFlowTest, ByteSizesAreRoundedUpSoTheSpaceAskedForIsEnough) {
    EXPECT_EQ(FormatByteSize(0), L"0 KB");
    EXPECT_EQ(FormatByteSize(1), L"1 KB");
    EXPECT_EQ(FormatByteSize(204800), L"200 KB");
    EXPECT_EQ(FormatByteSize(1024 * 1024), L"1.0 MB");
    EXPECT_EQ(FormatByteSize(1024 * 1024 + 1), L"1.1 MB");
    EXPECT_EQ(FormatByteSize(1536LL * 1024 * 1024), L"1.5 GB");
    EXPECT_EQ(FormatByteSize(10486LL * 204800), L"2.1 GB");  // 2.00005 GiB
    EXPECT_EQ(FormatByteSize(-5), L"0 KB");
}

}  // namespace
}  // namespace installer
