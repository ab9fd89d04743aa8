// The files of the skin: the skin folder beside the executable, and behind it the default
// skin built into the executable as resources. A file of the folder wins over the built-in
// one of the same name, file by file.
#pragma once

#include <windows.h>
// clang-format off
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <memory>
#include <string>
#include <string_view>

#include "base/profile_reader.h"
#include "skin/skin_files.h"

namespace installer {

// Releases a COM interface (here the memory streams behind decoded images).
struct ComRelease {
    void operator()(IUnknown* object) const {
        if (object != nullptr) {
            object->Release();
        }
    }
};
using ScopedStream = std::unique_ptr<IStream, ComRelease>;

class SkinFiles {
  public:
    // `folder` ends in a separator. `module` carries the built-in files; null: none.
    SkinFiles(std::wstring folder, HMODULE module) : folder_(std::move(folder)), module_(module) {}

    const std::wstring& folder() const { return folder_; }

    // Where `name` is found: a file (not a folder) of that name in the skin folder, else
    // the built-in copy, else nowhere.
    SkinFileOrigin Find(const std::wstring& name) const;

    // The bytes of the built-in file `name`; empty when there is none. They stay valid as
    // long as the module stays loaded (the executable: for the whole process).
    std::string_view Embedded(const std::wstring& name) const;

    // Decodes the image `name` from `origin` (a folder file by its path, as the platform
    // reads it; a built-in one from memory). Null when it is not there or cannot be
    // decoded. A bitmap decoded from memory reads its stream for as long as it lives:
    // `stream` receives it and must outlive the bitmap.
    std::unique_ptr<Gdiplus::Bitmap> DecodeImage(const std::wstring& name,
                                                 SkinFileOrigin origin,
                                                 ScopedStream* stream) const;

    // The INI file `name`: the folder's, read with the profile functions at every call
    // (as the platform reads any INI file), else the built-in copy parsed by the same
    // rules, else an empty file where every key takes its default. Never null.
    std::unique_ptr<IProfileReader> OpenIni(const std::wstring& name) const;

  private:
    std::wstring folder_;
    HMODULE module_;
};

}  // namespace installer
