// Finding and reading the skin's files in its folder or among the executable's resources.
#include "skin/skin_files_win.h"

#include <shlwapi.h>

#include "base/ini_file.h"
#include "win/code_page_win.h"
#include "win/private_profile_win.h"

namespace installer {

SkinFileOrigin SkinFiles::Find(const std::wstring& name) const {
    if (name.empty()) {
        return SkinFileOrigin::kNone;
    }
    const DWORD attributes = ::GetFileAttributesW((folder_ + name).c_str());
    const bool in_folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return ChooseSkinFileOrigin(in_folder, !in_folder && !Embedded(name).empty());
}

std::string_view SkinFiles::Embedded(const std::wstring& name) const {
    const std::optional<std::wstring> resource_name = SkinResourceName(name);
    if (module_ == nullptr || !resource_name) {
        return {};
    }
    HRSRC found = ::FindResourceW(module_, resource_name->c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (found == nullptr) {
        return {};
    }
    const DWORD size = ::SizeofResource(module_, found);
    HGLOBAL loaded = ::LoadResource(module_, found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) {
        return {};
    }
    return {static_cast<const char*>(bytes), size};
}

std::unique_ptr<Gdiplus::Bitmap> SkinFiles::DecodeImage(const std::wstring& name,
                                                        SkinFileOrigin origin,
                                                        ScopedStream* stream) const {
    std::unique_ptr<Gdiplus::Bitmap> bitmap;
    if (origin == SkinFileOrigin::kFolder) {
        bitmap.reset(Gdiplus::Bitmap::FromFile((folder_ + name).c_str(), FALSE));
    } else if (origin == SkinFileOrigin::kEmbedded) {
        const std::string_view bytes = Embedded(name);
        if (bytes.empty()) {
            return nullptr;
        }
        // A stream over a copy of the bytes; GDI+ may decode lazily from it.
        ScopedStream memory(
            ::SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
        if (!memory) {
            return nullptr;
        }
        bitmap.reset(Gdiplus::Bitmap::FromStream(memory.get(), FALSE));
        *stream = std::move(memory);
    }
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) {
        return nullptr;
    }
    return bitmap;
}

std::unique_ptr<IProfileReader> SkinFiles::OpenIni(const std::wstring& name) const {
    switch (Find(name)) {
        case SkinFileOrigin::kFolder:
            return std::make_unique<win::PrivateProfileReader>(folder_ + name);
        case SkinFileOrigin::kEmbedded:
            // Bytes without byte-order mark are in the ANSI code page, as the profile
            // functions take them.
            return std::make_unique<IniFile>(
                IniFile::Parse(Embedded(name), [](std::string_view bytes) { return win::AnsiToWide(bytes); }));
        case SkinFileOrigin::kNone:
            break;
    }
    return std::make_unique<IniFile>(IniFile::Parse(""));
}

}  // namespace installer
