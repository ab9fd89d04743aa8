// The seam through which INI files are read: the Windows profile functions in the
// installer, the portable IniFile in tests and in the publisher tool.
#pragma once

#include <string>
#include <string_view>

namespace installer {

// Longest text value a reader returns: values are read into a 2,048-character
// buffer (2,047 and the terminator), so a longer value is cut.
inline constexpr size_t kMaxProfileValue = 2047;

class IProfileReader {
  public:
    virtual ~IProfileReader() = default;

    // Integer value of `key` in `section` (names matched without regard to case),
    // or `default_value` when the key is missing or empty. Never fails.
    virtual int GetInt(std::wstring_view section, std::wstring_view key, int default_value) const = 0;

    // Text value of `key` in `section`, at most kMaxProfileValue characters, or
    // `default_value` when the key is missing. Never fails.
    virtual std::wstring GetString(std::wstring_view section,
                                   std::wstring_view key,
                                   std::wstring_view default_value) const = 0;
};

}  // namespace installer
