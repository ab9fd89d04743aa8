// INI reading through the Windows profile functions, behind the portable interface.
#pragma once

#include <string>

#include "base/profile_reader.h"

namespace installer::win {

// Reads `path` with GetPrivateProfileStringW / GetPrivateProfileIntW at every call, so
// the file's encoding and the matching rules are the platform's own. A missing file
// gives the defaults.
class PrivateProfileReader final : public IProfileReader {
  public:
    explicit PrivateProfileReader(std::wstring path) : path_(std::move(path)) {}

    int GetInt(std::wstring_view section, std::wstring_view key, int default_value) const override;
    std::wstring GetString(std::wstring_view section,
                           std::wstring_view key,
                           std::wstring_view default_value) const override;

  private:
    std::wstring path_;
};

}  // namespace installer::win
