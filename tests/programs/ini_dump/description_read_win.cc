// description_read: reads one package description both ways the installer could, through
// the Windows profile functions (one file search per key) and through the portable IniFile
// (one pass over the bytes), checks that both give the same description and prints how
// long each took. Used by the tests (large descriptions) and the benchmark.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

#include "base/ini_file.h"
#include "config/package_description.h"
#include "json_out.h"
#include "win/code_page_win.h"
#include "win/private_profile_win.h"
#include "win/scoped_handle.h"

namespace installer::description_read {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
    win::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    char buffer[64 * 1024];
    DWORD n = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        bytes->append(buffer, n);
    }
    return true;
}

bool SameBlocks(const std::vector<BlockInfo>& a, const std::vector<BlockInfo>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].index != b[i].index || a[i].size != b[i].size || a[i].digest != b[i].digest ||
            a[i].digest_valid != b[i].digest_valid) {
            return false;
        }
    }
    return true;
}

bool SameIntegrity(const PackageIntegrity& a, const PackageIntegrity& b) {
    return a.required == b.required && a.well_formed == b.well_formed && a.sha256 == b.sha256 && a.size == b.size;
}

// Names the first field in which the two descriptions differ, or returns empty.
std::string FirstDifference(const PackageDescription& a, const PackageDescription& b) {
    if (a.title != b.title) {
        return "FileTitle";
    }
    if (a.licence_url != b.licence_url) {
        return "DocUrl";
    }
    if (a.sub_dir != b.sub_dir) {
        return "FileDir";
    }
    if (!SameBlocks(a.blocks, b.blocks)) {
        return "blocks";
    }
    if (a.mirrors != b.mirrors) {
        return "mirrors";
    }
    if (!SameIntegrity(a.integrity, b.integrity)) {
        return "FileSha256/FileSize";
    }
    return {};
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: description_read FILE [DRAW]\n", stderr);
        return 1;
    }
    const std::wstring path = argv[1];
    const int draw = argc == 3 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 0;
    const RandomDraw fixed = [draw] { return draw; };

    Clock::time_point start = Clock::now();
    std::string bytes;
    if (!ReadFileBytes(path, &bytes)) {
        std::fputs("cannot read the description\n", stderr);
        return 1;
    }
    const IniFile ini = IniFile::Parse(bytes, win::AnsiToWide);
    const PackageDescription own = ReadPackageDescription(ini, fixed);
    const double own_ms = MillisecondsSince(start);

    start = Clock::now();
    const PackageDescription profile = ReadPackageDescription(win::PrivateProfileReader(path), fixed);
    const double profile_ms = MillisecondsSince(start);

    const std::string difference = FirstDifference(own, profile);
    test_driver::JsonOut json;
    json.BeginObject();
    json.Key("bytes").UInt(bytes.size()).Key("blocks").UInt(own.blocks.size()).Key("mirrors").UInt(own.mirrors.size());
    const auto valid =
        std::count_if(own.blocks.begin(), own.blocks.end(), [](const BlockInfo& b) { return b.digest_valid; });
    json.Key("valid_digests").UInt(static_cast<uint64_t>(valid));
    json.Key("own_ms").Int(static_cast<int64_t>(own_ms + 0.5));
    json.Key("profile_ms").Int(static_cast<int64_t>(profile_ms + 0.5));
    json.Key("same").Bool(difference.empty()).Key("difference").String(difference);
    json.EndObject();
    const std::string& text = json.text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

}  // namespace
}  // namespace installer::description_read

int wmain(int argc, wchar_t** argv) {
    return installer::description_read::Run(argc, argv);
}
