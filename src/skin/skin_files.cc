// Resource names of the built-in skin's files.
#include "skin/skin_files.h"

namespace installer {

SkinFileOrigin ChooseSkinFileOrigin(bool in_folder, bool embedded) {
    if (in_folder) {
        return SkinFileOrigin::kFolder;
    }
    return embedded ? SkinFileOrigin::kEmbedded : SkinFileOrigin::kNone;
}

std::optional<std::wstring> SkinResourceName(std::wstring_view file_name) {
    // A name that is only dots would name the folder itself or its parent.
    if (file_name.empty() || file_name.find_first_not_of(L'.') == std::wstring_view::npos) {
        return std::nullopt;
    }
    std::wstring name;
    name.reserve(file_name.size());
    for (wchar_t c : file_name) {
        if (c <= 0x20 || c >= 0x7F || c == L'\\' || c == L'/' || c == L':' || c == L'"') {
            return std::nullopt;
        }
        name.push_back(c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c);
    }
    return name;
}

}  // namespace installer
