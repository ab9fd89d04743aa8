// ini_dump: reads INI files both with the Windows profile functions and with the portable
// IniFile, and prints both answers as JSON, so that tests can hold IniFile to the rules of
// GetPrivateProfileStringW / GetPrivateProfileIntW.
//
// Usage: ini_dump LOOKUPS
//   LOOKUPS is a UTF-8 text file with one lookup a line, fields separated by tabs:
//   FILE<TAB>SECTION<TAB>KEY<TAB>STRING DEFAULT<TAB>INT DEFAULT
// Output: {"acp": N, "results": [{"file", "section", "key", "win_string", "win_length",
//   "win_int", "ini_string", "ini_int"}...]}. Exit code 0, or 1 when LOOKUPS is unreadable.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "base/ini_file.h"
#include "json_out.h"
#include "win/code_page_win.h"
#include "win/scoped_handle.h"

namespace installer::ini_dump {
namespace {

// The buffer the installer reads text values into.
constexpr DWORD kValueBuffer = 2048;

// Reads a whole file; false when it cannot be opened.
bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
    win::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    bytes->clear();
    char chunk[65536];
    DWORD got = 0;
    while (::ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        bytes->append(chunk, got);
    }
    return true;
}

std::vector<std::wstring> SplitTabs(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

int Run(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: ini_dump LOOKUPS\n", stderr);
        return 1;
    }
    std::string lookup_bytes;
    if (!ReadFileBytes(argv[1], &lookup_bytes)) {
        std::fputs("cannot read the lookups file\n", stderr);
        return 1;
    }
    const AnsiDecoder ansi = [](std::string_view bytes) { return win::FromCodePage(CP_ACP, bytes); };
    std::map<std::wstring, IniFile> parsed;

    test_driver::JsonOut json;
    json.BeginObject().Key("acp").UInt(::GetACP()).Key("results").BeginArray();
    const std::wstring lookups = win::FromCodePage(CP_UTF8, lookup_bytes);
    size_t pos = 0;
    while (pos < lookups.size()) {
        size_t end = lookups.find(L'\n', pos);
        if (end == std::wstring::npos) {
            end = lookups.size();
        }
        const std::wstring line = lookups.substr(pos, end - pos);
        pos = end + 1;
        std::vector<std::wstring> f = SplitTabs(line);
        if (f.size() != 5) {
            continue;
        }
        const std::wstring& file = f[0];
        const std::wstring& section = f[1];
        const std::wstring& key = f[2];
        const std::wstring& string_default = f[3];
        const int int_default = static_cast<int>(std::wcstol(f[4].c_str(), nullptr, 10));

        std::wstring value(kValueBuffer, L'\0');
        const DWORD length = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), string_default.c_str(),
                                                        value.data(), kValueBuffer, file.c_str());
        value.resize(std::wcslen(value.c_str()));
        const int win_int =
            static_cast<int>(::GetPrivateProfileIntW(section.c_str(), key.c_str(), int_default, file.c_str()));

        auto it = parsed.find(file);
        if (it == parsed.end()) {
            std::string bytes;
            ReadFileBytes(file, &bytes);  // a missing file reads as empty, as IniFile::Load does
            it = parsed.emplace(file, IniFile::Parse(bytes, ansi)).first;
        }
        const IniFile& ini = it->second;

        json.BeginObject();
        json.Key("file").String(file).Key("section").String(section).Key("key").String(key);
        json.Key("win_string").String(value).Key("win_length").UInt(length).Key("win_int").Int(win_int);
        json.Key("ini_string").String(ini.GetString(section, key, string_default));
        json.Key("ini_int").Int(ini.GetInt(section, key, int_default));
        json.EndObject();
    }
    json.EndArray().EndObject();
    const std::string& text = json.text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

}  // namespace
}  // namespace installer::ini_dump

int wmain(int argc, wchar_t** argv) {
    return installer::ini_dump::Run(argc, argv);
}
