// Fuzzes the INI reader and the package description read over it: any bytes from the
// configuration server must parse without a fault, and what is read back stays within
// the limits the installer relies on (value length, block and mirror counts).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/package_description.h"
#include "base/ini_file.h"
#include "base/text.h"
#include "fuzz_check.h"

namespace installer {
namespace {

void CheckValue(const IniFile& ini, std::wstring_view section, std::wstring_view key) {
    const std::wstring value = ini.GetString(section, key, L"\n");
    FUZZ_CHECK(value.size() <= kMaxProfileValue);
    // A value never holds a line break or a NUL: both end it in the file.
    if (value != L"\n") {
        FUZZ_CHECK(value.find(L'\n') == std::wstring::npos);
        FUZZ_CHECK(value.find(L'\0') == std::wstring::npos);
    }
    // The integer read takes its default only when there is no text to read.
    const int a = ini.GetInt(section, key, 12345);
    const int b = ini.GetInt(section, key, -7);
    if (value == L"\n" || value.empty()) {
        FUZZ_CHECK(a == 12345 && b == -7);
    } else {
        FUZZ_CHECK(a == b);
    }
}

void Run(std::string_view bytes) {
    const IniFile ini = IniFile::Parse(bytes);

    // Names the installer asks for, and one taken from the input itself.
    for (const wchar_t* key : {L"FileCount", L"Rate0", L"Rate1"}) {
        CheckValue(ini, L"Info", key);
    }
    for (const wchar_t* key : {L"FileTitle", L"BlockCount", L"Hash0", L"url0", L"FileSha256", L"FileSize"}) {
        CheckValue(ini, L"File0", key);
    }
    const std::wstring text = Utf8ToWide(bytes.substr(0, 64));
    const size_t eq = text.find(L'=');
    if (eq != std::wstring::npos) {
        CheckValue(ini, L"File0", text.substr(0, eq));
        CheckValue(ini, text.substr(0, eq), text.substr(eq + 1));
    }
    IniFile::ParseProfileInt(Utf8ToWide(bytes));

    const int draw = bytes.empty() ? 0 : static_cast<uint8_t>(bytes.back()) * 131 + static_cast<int>(bytes.size());
    const PackageDescription d = ReadPackageDescription(ini, [draw] { return draw; });
    FUZZ_CHECK(d.title.size() <= kMaxProfileValue);
    FUZZ_CHECK(d.blocks.size() <= static_cast<size_t>(kMaxBlocks) + 1);
    for (size_t i = 0; i < d.blocks.size(); ++i) {
        FUZZ_CHECK(d.blocks[i].index == static_cast<int32_t>(i));
        if (!d.blocks[i].digest_valid) {
            FUZZ_CHECK(d.blocks[i].digest == Md5Digest{});
        }
    }
    FUZZ_CHECK(d.mirrors.size() <= 1024);
    // Whole-file keys matter only with a digest; a malformed one is never ignored.
    if (!d.integrity.required) {
        FUZZ_CHECK(d.integrity.well_formed && !d.integrity.size);
    }
    if (d.integrity.size) {
        FUZZ_CHECK(*d.integrity.size >= 0);
    }
}

}  // namespace
}  // namespace installer

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    installer::Run(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
