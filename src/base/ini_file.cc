// Portable INI reading with the rules of the Windows profile functions.
#include "base/ini_file.h"

#include <cwctype>
#include <fstream>
#include <iterator>

#include "base/text.h"

namespace installer {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::wstring DecodeUtf16(std::string_view bytes, bool big_endian) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(big_endian ? (b0 << 8) | b1 : (b1 << 8) | b0));
    }
    return Utf16ToWide(units);
}

std::wstring DecodeFile(std::string_view bytes, const AnsiDecoder& decode_ansi) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return DecodeUtf16(bytes.substr(2), false);
    }
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
        static_cast<unsigned char>(bytes[1]) == 0xFF) {
        return DecodeUtf16(bytes.substr(2), true);
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return Utf8ToWide(bytes.substr(3));
    }
    return decode_ansi ? decode_ansi(bytes) : Utf8ToWide(bytes);
}

}  // namespace

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::wstring DecodeUtf8Lenient(std::string_view bytes) {
    return Utf8ToWide(bytes);
}

IniFile IniFile::Parse(std::string_view bytes, const AnsiDecoder& decode_ansi) {
    IniFile ini;
    const std::wstring text = DecodeFile(bytes, decode_ansi);
    Section* current = nullptr;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of(L"\r\n", pos);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring_view line = Trim(std::wstring_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) {
            continue;
        }
        if (line.front() == L'[') {
            const size_t close = line.find(L']');
            if (close == std::wstring_view::npos) {
                continue;  // not a section header: the profile functions skip it
            }
            ini.sections_.push_back(Section{std::wstring(line.substr(1, close - 1)), {}});
            current = &ini.sections_.back();
            continue;
        }
        if (current == nullptr) {
            continue;  // keys before the first section belong to no section
        }
        const size_t eq = line.find(L'=');
        Entry entry;
        if (eq == std::wstring_view::npos) {
            entry.key = std::wstring(line);
        } else {
            entry.key = std::wstring(Trim(line.substr(0, eq)));
            entry.value = std::wstring(Trim(line.substr(eq + 1)));
            entry.has_value = true;
        }
        current->entries.push_back(std::move(entry));
    }
    return ini;
}

IniFile IniFile::Load(const std::string& path, const AnsiDecoder& decode_ansi) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return IniFile{};
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return Parse(bytes, decode_ansi);
}

const IniFile::Entry* IniFile::Find(std::wstring_view section, std::wstring_view key) const {
    // Only the first section of a name is searched, and in it the first key of a name.
    for (const Section& s : sections_) {
        if (!EqualsIgnoreCase(s.name, section)) {
            continue;
        }
        for (const Entry& e : s.entries) {
            if (EqualsIgnoreCase(e.key, key)) {
                return &e;
            }
        }
        return nullptr;
    }
    return nullptr;
}

std::wstring IniFile::GetString(std::wstring_view section,
                                std::wstring_view key,
                                std::wstring_view default_value) const {
    const Entry* e = Find(section, key);
    std::wstring_view value = default_value;
    if (e != nullptr) {
        value = e->value;
        // A value enclosed in matching quotes is returned without them.
        if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
    }
    return std::wstring(value.substr(0, kMaxProfileValue));
}

int IniFile::ParseProfileInt(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    uint32_t value = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        value = value * 10u + static_cast<uint32_t>(text[i] - L'0');
        ++i;
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<int>(value);
}

int IniFile::GetInt(std::wstring_view section, std::wstring_view key, int default_value) const {
    const std::wstring value = GetString(section, key, L"");
    if (value.empty()) {
        return default_value;
    }
    return ParseProfileInt(value);
}

}  // namespace installer
