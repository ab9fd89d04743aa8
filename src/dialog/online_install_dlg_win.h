// The installer's only window: a borderless, skinned wizard with three stages
// (Welcome, Install, Finish). It owns the install flow and applies its actions, starts
// the download, runs the setup and starts the installed program.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/profile_reader.h"
#include "config/package_description.h"
#include "dialog/install_flow.h"
#include "dialog/setup_launch_win.h"
#include "dialog/support_recorder_win.h"
#include "dialog/window_scale_win.h"
#include "download/block_download_mgr.h"
#include "download/download_event.h"
#include "skin/lr_button_win.h"
#include "skin/lr_check_box_win.h"
#include "skin/my_label_win.h"
#include "skin/skin_scale.h"
#include "win/dialog_window_win.h"
#include "win/scoped_handle.h"

namespace installer {

class COnlineInstallDlg final : public win::DialogWindow, public IDownloadEvent, public IBlockDownloadMgrEvent {
  public:
    // Seeds the C library's generator and registers as the receiver of `manager`,
    // which must outlive the dialog. `description` is the package description start-up
    // fetched, read when the window initialises; it must outlive the dialog.
    // `argument` is the installer's first argument.
    COnlineInstallDlg(CBlockDownloadMgr& manager, const IProfileReader& description, std::wstring argument);
    // Clears the manager's receiver: no callback reaches a destroyed dialog.
    ~COnlineInstallDlg() override;

    // IDownloadEvent: completion and progress arrive on worker threads and are handed
    // to the window thread by posted messages. The other three are raised by nobody.
    void OnDownloadError(int32_t) override {}
    void OnDownloadRetry() override {}
    void OnDownloadNotify() override {}
    void OnDownloadComplete() override;
    void OnDownloadProgress(int32_t percent) override;

    // IBlockDownloadMgrEvent, called on worker threads with the manager's lock held.
    void OnAllBlocksDone(CBlockDownloadMgr* manager) override;
    void OnBlockError(CBlockDownloadMgr* manager, CBlockDownloadThread* worker, int code) override;
    void OnBlockProgress(CBlockDownloadMgr* manager, int percent) override;
    void OnDownloadFailed(CBlockDownloadMgr* manager, DownloadFailure reason) override;

  protected:
    bool OnInitDialog() override;
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
    void OnCancel() override;

  private:
    void BindControls();
    // Lays the window and its controls out at `dpi`, skins the buttons for it and redraws;
    // the window's top-left corner goes to `position` when given.
    void ApplyDpi(int dpi, const POINT* position);
    void SkinButtons();
    void Paint();
    void PaintStage(HDC dc);
    void PaintTitle(HDC dc);
    void OnTimer(UINT_PTR id);
    void OnCommand(int id, int code);
    void OnBrowse();
    void StartDownload();
    LRESULT OnNcHitTest(LPARAM lparam);

    // Applies the flow's actions in order.
    void Apply(const FlowActions& actions);
    void ApplyOne(const FlowAction& action);
    void SetVisible(std::initializer_list<int> ids, bool visible);
    void ShowProgress(int percent);
    // Runs the setup hidden and waits for it while the window stays alive; feeds the
    // outcome back into the flow.
    void RunSetup(const FlowAction& action);
    void StartMainProgram(const FlowAction& action);
    void EndDialog();

    CBlockDownloadMgr& manager_;
    SupportRecorder recorder_{manager_};  // the support log and the failure reports
    const IProfileReader& description_;
    std::wstring argument_;
    win::ScopedIcon icon_;

    // The display scale the window is laid out and painted at, and how it gets there.
    int dpi_ = kBaseDpi;
    WindowScale scale_;

    PackageDescription package_;
    std::unique_ptr<InstallFlow> flow_;
    // Holds the package from the moment it is complete until its setup has started.
    SetupLaunch setup_launch_;

    CMyLabel m_progressText;
    CMyLabel m_label1004;
    CLrButton m_browseButton;
    CLrButton m_installButton;
    CLrButton m_startButton;
    CLrCheckBox m_bootCheck;
    CLrCheckBox m_runCheck;
    CLrCheckBox m_acceptCheck;
    CLrButton m_closeButton;
    CLrButton m_minButton;
    CMyUrlLabel m_licenceLink;
    CMyUrlLabel m_customLink;
    CMyLabel m_progressLabel;
};

}  // namespace installer
