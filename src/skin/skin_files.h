// Names of the skin's files as the executable carries them: the default skin is built into
// the installer as resources named after its files, so that a single .exe works without a
// skin folder beside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace installer {

// Where one file of the skin was found: the skin folder beside the executable wins over
// the copy built into it.
enum class SkinFileOrigin { kNone, kFolder, kEmbedded };

// The first place that has the file: the folder, else the embedded copy, else none.
SkinFileOrigin ChooseSkinFileOrigin(bool in_folder, bool embedded);

// The resource name under which the file `file_name` of the skin is built into the
// executable: the name in upper case (the platform looks resource names up that way, so
// "dlg_border.PNG" and "DLG_BORDER.png" are one file, as they are in a Windows folder).
// Empty for a name that cannot be a file directly in the skin folder or a resource name:
// empty, with a path separator, a drive colon, a quote, a control character or a
// character outside ASCII.
std::optional<std::wstring> SkinResourceName(std::wstring_view file_name);

}  // namespace installer
