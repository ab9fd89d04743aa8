// The package file seam: created (or truncated) for writing, shared with nobody, written
// block by block at absolute offsets, closed with its result checked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace installer {

class IPackageFile {
  public:
    virtual ~IPackageFile() = default;  // closes the file if Close() was not called

    // Writes all `size` bytes at `offset`; false when the seek or the write failed or
    // wrote less (a full disk), in which case the file content is undefined.
    virtual bool WriteAt(int64_t offset, const uint8_t* data, int32_t size) = 0;

    // Closes the file; false when the system reported a failure (buffered data lost).
    // Further calls do nothing and return true.
    virtual bool Close() = 0;
};

// Opens a package file; returns null when it cannot be created.
using PackageFileOpener = std::function<std::unique_ptr<IPackageFile>(const std::wstring& path)>;

// The platform's package file: creates `path` or truncates it, for writing only, shared
// with nobody where the platform can say so. Returns null on failure.
std::unique_ptr<IPackageFile> OpenPackageFile(const std::wstring& path);

}  // namespace installer
