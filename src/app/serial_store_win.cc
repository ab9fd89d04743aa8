// The record of the highest description serial accepted, in the installer's private
// folder of the user's local application data.
#include "app/serial_store_win.h"

#include <windows.h>

#include <string>

#include "build_settings.h"
#include "config/signed_description.h"
#include "win/private_folder_win.h"
#include "win/scoped_handle.h"

namespace installer {
namespace {

// The record is a number and a line break; anything longer is not ours.
constexpr DWORD kMaxRecordBytes = 64;

std::wstring RecordPath(bool home_mode) {
    const std::wstring folder = win::InstallerDataFolder(kProductName);
    return folder.empty() ? folder : folder + (home_mode ? L"\\home.serial" : L"\\info.serial");
}

}  // namespace

int64_t HighestAcceptedSerial(bool home_mode) {
    const std::wstring path = RecordPath(home_mode);
    if (path.empty()) {
        return 0;
    }
    win::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return 0;
    }
    char bytes[kMaxRecordBytes + 1] = {};
    DWORD n = 0;
    if (!::ReadFile(file.Get(), bytes, kMaxRecordBytes + 1, &n, nullptr) || n > kMaxRecordBytes) {
        return 0;
    }
    return ParseSerialRecord(std::string_view(bytes, n));
}

bool RecordAcceptedSerial(bool home_mode, int64_t serial) {
    if (serial <= HighestAcceptedSerial(home_mode)) {
        return true;
    }
    const std::wstring folder = win::InstallerDataFolder(kProductName);
    DWORD error = 0;
    if (folder.empty() || !win::EnsurePrivateFolder(folder, &error)) {
        return false;
    }
    const std::wstring path = RecordPath(home_mode);
    const std::wstring temp = path + L".new";
    const std::string text = FormatSerialRecord(serial);
    {
        win::ScopedFileHandle file(
            ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !::FlushFileBuffers(file.Get())) {
            file.Close();
            ::DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace installer
