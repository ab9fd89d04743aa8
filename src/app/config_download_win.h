// Fetching the package description from the configuration server at start-up.
#pragma once

#include <string>

namespace installer {

// Path of the local package description beside the executable: "info.ini", or
// "home.ini" in home mode.
std::wstring PackageDescriptionPath(bool home_mode);

// Address of the package description: the configuration server's base, the mode's
// path and "?id=" with `random_id`.
std::wstring PackageDescriptionUrl(bool home_mode, int random_id);

// Downloads the package description into PackageDescriptionPath(home_mode): at most
// 10,240 bytes, the body as the server sends it. Shows a message box for every
// failure. Returns false when start-up must stop at once; true otherwise (after a
// network failure the local file is empty, and the FileCount check then stops).
bool DownloadPackageDescription(bool home_mode);

}  // namespace installer
