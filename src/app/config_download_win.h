// Fetching the package description from the configuration server at start-up.
#pragma once

#include <string>

#include "base/ini_file.h"

namespace installer {

// Path of the local package description beside the executable: "info.ini", or
// "home.ini" in home mode.
std::wstring PackageDescriptionPath(bool home_mode);

// Address of the package description: the configuration server's base, the mode's
// path and "?id=" with `random_id`.
std::wstring PackageDescriptionUrl(bool home_mode, int random_id);

// Downloads the package description into PackageDescriptionPath(home_mode): the whole
// body as the server sends it, at most 1 MiB; `stored` receives exactly the bytes
// written, which are what the installer then reads (the file is a record of them), and
// `description` their reading, made once (with the profile functions' rules): the signed
// rules are applied to that same reading.
// With the publisher's key built in (kPublisherKeyPem), the detached signature beside the
// description ("info.ini.sig" / "home.ini.sig", at most 256 bytes) is fetched and checked
// over the received bytes, and the signed-description rules (whole-file keys, expiry)
// are applied, before anything is stored: any failure there shows its message and
// returns false with nothing stored. Without a key no signature is asked for.
// Shows a message box for every failure. Returns false when start-up must stop at
// once (including a reply over 1 MiB: nothing is stored); true otherwise (after a
// network failure nothing is stored, and the FileCount check then stops).
bool DownloadPackageDescription(bool home_mode, std::string& stored, IniFile& description);

}  // namespace installer
