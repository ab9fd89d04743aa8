// The package file seam: opened (or created) for reading and writing, shared with nobody,
// read back to keep the blocks an earlier run left, written block by block at absolute
// offsets, cut to length, closed with its result checked.
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

    // Reads up to `size` bytes at `offset`; the number read (fewer at the end of the
    // file), or -1 when the read failed.
    virtual int64_t ReadAt(int64_t offset, uint8_t* data, int32_t size) = 0;

    // Sets the file's length (cutting off or extending with zeros); false on failure.
    virtual bool SetLength(int64_t length) = 0;

    // Closes the file; false when the system reported a failure (buffered data lost).
    // Further calls do nothing and return true.
    virtual bool Close() = 0;
};

// Opens a package file; returns null when it cannot be created.
using PackageFileOpener = std::function<std::unique_ptr<IPackageFile>(const std::wstring& path)>;

// The platform's package file: opens `path`, or creates it, for reading and writing, keeping
// its content, shared with nobody where the platform can say so. Returns null on failure.
std::unique_ptr<IPackageFile> OpenPackageFile(const std::wstring& path);

}  // namespace installer
