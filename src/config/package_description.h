// The package description: which setup file to install, where its blocks come from
// and how they are checked. Read from the INI file fetched at start-up.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/profile_reader.h"
#include "download/block_info.h"
#include "download/package_integrity.h"

namespace installer {

// The longest description the installer accepts: the largest block table the download
// takes (kMaxBlocks, about 2 GiB of package) needs some 700 KB. Longer replies are refused
// whole, never cut.
inline constexpr size_t kMaxDescriptionBytes = 1024 * 1024;

struct PackageDescription {
    std::wstring title;        // "FileTitle"
    std::wstring licence_url;  // "DocUrl"
    std::wstring sub_dir;      // "FileDir"
    std::vector<BlockInfo> blocks;
    std::vector<std::wstring> mirrors;  // "url%d", in order
    PackageIntegrity integrity;         // "FileSha256" and "FileSize"; not required when absent
};

// Next value of the C library's pseudo-random generator (rand()); injectable for tests.
using RandomDraw = std::function<int()>;

// True when [Info] FileCount is greater than 0.
bool HasPackageFiles(const IProfileReader& ini);

// Picks a setup file by weight from the draw `draw` (taken modulo 32,767). A draw on a
// boundary, a draw of 0, a zero total and an empty list give file 0.
int ChooseWeightedFile(std::vector<double> weights, int draw);

// Reads the whole-file keys from their text values (nullopt = the key is missing).
// "FileSha256" must be 64 hexadecimal digits; "FileSize" 1 to 19 decimal digits. Without
// "FileSha256" nothing is required and "FileSize" is not looked at. Never fails.
PackageIntegrity ParsePackageIntegrity(const std::optional<std::string>& sha256_text,
                                       const std::optional<std::string>& size_text);

// Reads "FileSha256" and "FileSize" of `section` (see ParsePackageIntegrity). Never fails.
PackageIntegrity ReadPackageIntegrity(const IProfileReader& ini, const std::wstring& section);

// Reads the whole description; missing keys take their defaults, never an error. A
// malformed "FileSha256" or "FileSize" is kept as such in `integrity`: that package
// can never pass its check.
// `next_random` is called once, for the weighted choice.
PackageDescription ReadPackageDescription(const IProfileReader& ini, const RandomDraw& next_random);

}  // namespace installer
