// Running the downloaded setup package. The finished package is held open for reading
// only, shared for reading only, from the moment it is complete until its process exists,
// so nobody can replace the verified bytes in between; it is checked again (every block,
// then the whole file) through that same handle, started hidden (or through the shell's
// consent prompt when its manifest asks for administrator rights), and waited for while
// the window's messages keep flowing.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "dialog/install_flow.h"
#include "download/block_info.h"
#include "download/package_integrity.h"
#include "win/scoped_handle.h"

namespace installer {

class SetupLaunch {
  public:
    // Shows the pseudo-progress while the setup runs (on the window thread).
    using ShowProgress = std::function<void(int percent)>;

    // Takes the hold on the finished package at `path`. False when it cannot be opened
    // (the later run then opens it once more, and fails its check if that fails too).
    bool Lock(const std::wstring& path);
    // True while the package is held.
    bool locked() const { return static_cast<bool>(lock_); }

    // Checks the package at `path` against `blocks` and `integrity` through the hold
    // (taken now if Lock was not called or failed), then starts `command_line` (the quoted
    // package path and its arguments) hidden, elevated through the shell when the system
    // says the program needs it (`owner` owns the consent prompt), and waits for it while
    // dispatching the thread's messages and calling `show_progress`. The hold is released
    // once the process exists or the check failed. A WM_QUIT seen while waiting is posted
    // again afterwards. Returns kPackageInvalid (nothing started), kCouldNotStart with the
    // system error, or kExited with the setup's exit code.
    SetupOutcome Run(HWND owner,
                     const std::wstring& path,
                     const std::wstring& command_line,
                     const std::vector<BlockInfo>& blocks,
                     const PackageIntegrity& integrity,
                     const ShowProgress& show_progress);

  private:
    SetupOutcome Start(HWND owner, const std::wstring& command_line, const ShowProgress& show_progress);

    win::ScopedFileHandle lock_;
};

}  // namespace installer
