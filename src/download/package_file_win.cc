// Package file on Windows: CreateFileW, shared with nobody, positioned writes.
#include <windows.h>

#include "download/package_file.h"
#include "win/scoped_handle.h"

namespace installer {
namespace {

class WinPackageFile final : public IPackageFile {
  public:
    explicit WinPackageFile(HANDLE file) : file_(file) {}

    bool WriteAt(int64_t offset, const uint8_t* data, int32_t size) override {
        if (!file_ || offset < 0 || size < 0) {
            return false;
        }
        LARGE_INTEGER position;
        position.QuadPart = offset;
        if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) {
            return false;
        }
        int32_t done = 0;
        while (done < size) {
            DWORD written = 0;
            if (!::WriteFile(file_.Get(), data + done, static_cast<DWORD>(size - done), &written, nullptr) ||
                written == 0) {
                return false;
            }
            done += static_cast<int32_t>(written);
        }
        return true;
    }

    bool Close() override {
        if (!file_) {
            return true;
        }
        return ::CloseHandle(file_.Take()) != FALSE;
    }

  private:
    win::ScopedFileHandle file_;
};

}  // namespace

std::unique_ptr<IPackageFile> OpenPackageFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<WinPackageFile>(file);
}

}  // namespace installer
