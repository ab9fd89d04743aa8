// INI reading through the Windows profile functions.
#include "win/private_profile_win.h"

#include <windows.h>

namespace installer::win {

int PrivateProfileReader::GetInt(std::wstring_view section, std::wstring_view key, int default_value) const {
    return static_cast<int>(::GetPrivateProfileIntW(std::wstring(section).c_str(), std::wstring(key).c_str(),
                                                    default_value, path_.c_str()));
}

std::wstring PrivateProfileReader::GetString(std::wstring_view section,
                                             std::wstring_view key,
                                             std::wstring_view default_value) const {
    wchar_t buffer[kMaxProfileValue + 1] = {};
    const DWORD n =
        ::GetPrivateProfileStringW(std::wstring(section).c_str(), std::wstring(key).c_str(),
                                   std::wstring(default_value).c_str(), buffer, ARRAYSIZE(buffer), path_.c_str());
    return std::wstring(buffer, n);
}

}  // namespace installer::win
