// A portable INI reader that follows the rules of the Windows profile functions
// (GetPrivateProfileStringW / GetPrivateProfileIntW), checked against them under Wine.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/profile_reader.h"

namespace installer {

// Decodes bytes of a file without byte-order mark (the "ANSI" case on Windows).
using AnsiDecoder = std::function<std::wstring(std::string_view)>;

// Treats bytes without byte-order mark as UTF-8 (invalid bytes become U+FFFD).
std::wstring DecodeUtf8Lenient(std::string_view bytes);

class IniFile final : public IProfileReader {
  public:
    // Parses `bytes`: UTF-16 (either order) or UTF-8 when a byte-order mark says so,
    // otherwise `decode_ansi` decides. Parsing never fails: unreadable lines are skipped.
    static IniFile Parse(std::string_view bytes, const AnsiDecoder& decode_ansi = DecodeUtf8Lenient);

    // Reads and parses a file; a missing or unreadable file gives an empty IniFile.
    static IniFile Load(const std::string& path, const AnsiDecoder& decode_ansi = DecodeUtf8Lenient);

    int GetInt(std::wstring_view section, std::wstring_view key, int default_value) const override;
    std::wstring GetString(std::wstring_view section,
                           std::wstring_view key,
                           std::wstring_view default_value) const override;

    // The integer rule of GetPrivateProfileIntW on a value text: leading blanks (any
    // character up to U+0020), an optional sign, then "0x" (hexadecimal), "0o" (octal),
    // "0b" (binary) or decimal digits up to the first other character, 32-bit wrap-around.
    static int ParseProfileInt(std::wstring_view text);

  private:
    // Names and values are views into the decoded text, which every copy of the IniFile
    // shares: a description of tens of thousands of keys is parsed without one allocation
    // per key.
    struct Entry {
        std::wstring_view key;
        std::wstring_view value;
        bool has_value = false;  // a line without '=' names a key that has no value
    };
    // Hash and equality of names as the profile functions compare them (ASCII letters in
    // either case).
    struct FoldedHash {
        size_t operator()(std::wstring_view name) const;
    };
    struct FoldedEqual {
        bool operator()(std::wstring_view a, std::wstring_view b) const;
    };
    struct Section {
        std::wstring_view name;
        std::vector<Entry> entries;
        // Key -> its first entry: every lookup would otherwise scan the whole section.
        std::unordered_map<std::wstring_view, size_t, FoldedHash, FoldedEqual> first_entry;
    };

    const Entry* Find(std::wstring_view section, std::wstring_view key) const;

    std::shared_ptr<const std::wstring> text_;
    std::vector<Section> sections_;
};

// `s` without the blanks the profile functions skip around names, values and lines (space,
// tab, line breaks, vertical tab, form feed, ^Z; wider spaces are kept, as Windows keeps them).
std::wstring_view TrimProfileBlanks(std::wstring_view s);

// Case-insensitive comparison as the profile functions make it: ASCII letters match their
// other case; every other character only itself.
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

}  // namespace installer
