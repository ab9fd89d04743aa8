// Portable INI reading with the rules of the Windows profile functions.
#include "base/ini_file.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <iterator>

#include "base/text.h"

namespace installer {
namespace {

// Blanks around names and values. Wider spaces (U+00A0, U+3000) are kept, as Windows keeps them;
// ^Z is an old end-of-file mark that the profile functions skip as a blank.
bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' || c == 0x1A;
}

// The buffer GetPrivateProfileIntW reads a value into before it converts it: 29 characters.
constexpr size_t kIntBuffer = 30;

// A value as the profile functions copy it into a buffer of `buffer_size` characters: a value
// enclosed in the same quote (' or ") loses the quotes, then it is cut to buffer_size - 1.
// The closing quote is dropped only when the text after the opening quote fits the buffer
// with its terminator; so an enclosed text of exactly buffer_size - 1 characters loses its last
// character too, and a longer one keeps the closing quote's place for text.
std::wstring_view CopyValue(std::wstring_view value, size_t buffer_size) {
    bool quoted = false;
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
        quoted = true;
        value.remove_prefix(1);
    }
    const size_t full_length = value.size();
    std::wstring_view copy = value.substr(0, buffer_size - 1);
    if (quoted && buffer_size >= full_length && !copy.empty()) {
        copy.remove_suffix(1);
    }
    return copy;
}

// Only ASCII letters have a case for the profile functions here: "été" and "ÉTÉ" differ.
wchar_t AsciiUpper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 0x20) : c;
}

// Digit value of `c` in bases up to 36, or 36 for any other character.
uint32_t DigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return static_cast<uint32_t>(c - L'0');
    }
    if (c >= L'a' && c <= L'z') {
        return static_cast<uint32_t>(c - L'a' + 10);
    }
    if (c >= L'A' && c <= L'Z') {
        return static_cast<uint32_t>(c - L'A' + 10);
    }
    return 36;
}

// Names and values are C strings to the profile functions: they end at a NUL character.
std::wstring_view UpToNul(std::wstring_view s) {
    return s.substr(0, s.find(L'\0'));
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

std::wstring_view TrimProfileBlanks(std::wstring_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

std::wstring DecodeUtf8Lenient(std::string_view bytes) {
    return Utf8ToWide(bytes);
}

size_t IniFile::FoldedHash::operator()(std::wstring_view name) const {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (wchar_t c : name) {
        hash = (hash ^ static_cast<uint64_t>(AsciiUpper(c))) * 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

bool IniFile::FoldedEqual::operator()(std::wstring_view a, std::wstring_view b) const {
    return EqualsIgnoreCase(a, b);
}

IniFile IniFile::Parse(std::string_view bytes, const AnsiDecoder& decode_ansi) {
    IniFile ini;
    ini.text_ = std::make_shared<const std::wstring>(DecodeFile(bytes, decode_ansi));
    const std::wstring_view text = *ini.text_;
    Section* current = nullptr;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of(L"\r\n", pos);
        if (end == std::wstring_view::npos) {
            end = text.size();
        }
        const std::wstring_view line = TrimProfileBlanks(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) {
            continue;
        }
        if (line.front() == L'[') {
            // The name ends at the last ']'; a line without one is read as a key line.
            const size_t close = line.rfind(L']');
            if (close != std::wstring_view::npos) {
                ini.sections_.push_back(Section{UpToNul(TrimProfileBlanks(line.substr(1, close - 1))), {}, {}});
                current = &ini.sections_.back();
                continue;
            }
        }
        if (current == nullptr) {
            // Keys before the first section belong to no section on Windows (Wine files them
            // under a section without name, which a lookup of "" then finds).
            continue;
        }
        const size_t eq = line.find(L'=');
        Entry entry;
        if (eq == std::wstring_view::npos) {
            entry.key = UpToNul(line);
        } else {
            entry.key = UpToNul(TrimProfileBlanks(line.substr(0, eq)));
            entry.value = UpToNul(TrimProfileBlanks(line.substr(eq + 1)));
            entry.has_value = true;
        }
        current->first_entry.emplace(entry.key, current->entries.size());
        current->entries.push_back(entry);
    }
    return ini;
}

IniFile IniFile::Load(const std::string& path, const AnsiDecoder& decode_ansi) {
    // C stdio rather than a file stream: a stream would link the whole locale machinery of
    // the static C++ runtime (some 300 KB) into the shipped installer.
    struct CloseFile {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, CloseFile> in(std::fopen(path.c_str(), "rb"));
    if (!in) {
        return IniFile{};
    }
    std::string bytes;
    char buffer[16384];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), in.get())) > 0) {
        bytes.append(buffer, n);
    }
    if (std::ferror(in.get()) != 0) {
        return IniFile{};
    }
    return Parse(bytes, decode_ansi);
}

const IniFile::Entry* IniFile::Find(std::wstring_view section, std::wstring_view key) const {
    // Blanks around the names asked for do not count. Only the first section of a name is
    // searched, and in it the first key of a name.
    section = TrimProfileBlanks(UpToNul(section));
    key = TrimProfileBlanks(UpToNul(key));
    for (const Section& s : sections_) {
        if (!EqualsIgnoreCase(s.name, section)) {
            continue;
        }
        const auto it = s.first_entry.find(key);
        return it == s.first_entry.end() ? nullptr : &s.entries[it->second];
    }
    return nullptr;
}

std::wstring IniFile::GetString(std::wstring_view section,
                                std::wstring_view key,
                                std::wstring_view default_value) const {
    const Entry* e = Find(section, key);
    if (e != nullptr && e->has_value) {
        return std::wstring(CopyValue(e->value, kMaxProfileValue + 1));
    }
    // The default loses its trailing spaces (all but a first character), as on Windows.
    while (default_value.size() > 1 && default_value.back() == L' ') {
        default_value.remove_suffix(1);
    }
    return std::wstring(default_value.substr(0, kMaxProfileValue));
}

int IniFile::ParseProfileInt(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && static_cast<uint32_t>(text[i]) <= 0x20) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    uint32_t base = 10;
    if (i + 1 < text.size() && text[i] == L'0') {
        // Only lower-case prefixes count: "0X10" is 0 followed by other text.
        switch (text[i + 1]) {
            case L'x':
                base = 16;
                break;
            case L'o':
                base = 8;
                break;
            case L'b':
                base = 2;
                break;
            default:
                break;
        }
        if (base != 10) {
            i += 2;
        }
    }
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const uint32_t digit = DigitValue(text[i]);
        if (digit >= base) {
            break;
        }
        value = value * base + digit;
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<int>(value);
}

int IniFile::GetInt(std::wstring_view section, std::wstring_view key, int default_value) const {
    const Entry* e = Find(section, key);
    if (e == nullptr || !e->has_value) {
        return default_value;
    }
    // The value is read into a small buffer first: only its first 29 characters count.
    const std::wstring_view value = CopyValue(e->value, kIntBuffer);
    if (value.empty()) {
        return default_value;
    }
    return ParseProfileInt(value);
}

}  // namespace installer
