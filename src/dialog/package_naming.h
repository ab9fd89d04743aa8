// Where the downloaded setup package is stored and how it is started: its file name
// from the partner argument, the setup arguments and the full command line.
#pragma once

#include <string>
#include <string_view>

namespace installer {

// File name of the package for sub-directory `sub_dir` and the installer's first
// argument: sub_dir + ".exe" without an underscore in the argument, otherwise
// sub_dir + "_%d_%I64d.exe" (or "_%d_%I64d_pure.exe" when the argument contains
// "_pure") with the partner numbers read as start-up reads them. Characters that a
// Windows file name cannot hold (\ / : * ? " < > | and control characters) in
// `sub_dir` become "_", so the package always lands in the folder it is meant for.
std::wstring PackageFileName(std::wstring_view sub_dir, std::wstring_view argument);

// `folder` + "\" + PackageFileName(sub_dir, argument).
std::wstring PackagePath(std::wstring_view folder, std::wstring_view sub_dir, std::wstring_view argument);

// The setup's arguments " /S %s /D=%s": "/RUN" when `start_at_boot`, empty otherwise
// (two spaces then), and the installation directory last and unquoted, as setup
// programs read everything after "/D=" as the directory.
std::wstring SetupArguments(bool start_at_boot, std::wstring_view install_dir);

// The full command line: the package path in double quotes (a path with a space would
// otherwise start another program), immediately followed by `arguments`.
std::wstring SetupCommandLine(std::wstring_view package_path, std::wstring_view arguments);

// The installed program: install_dir + "\Main.exe".
std::wstring MainProgramPath(std::wstring_view install_dir);

}  // namespace installer
