// Paths relative to the running executable.
#pragma once

#include <string>

namespace installer::win {

// Full path of the running executable; empty when the platform cannot tell.
std::wstring ExecutablePath();

// Folder of the running executable without the trailing backslash.
std::wstring ExecutableFolder();

// `file_name` placed in the executable's folder.
std::wstring BesideExecutable(const std::wstring& file_name);

}  // namespace installer::win
