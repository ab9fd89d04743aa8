// Package file on Windows: CreateFileW, shared with nobody, positioned reads and writes.
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

    int64_t ReadAt(int64_t offset, uint8_t* data, int32_t size) override {
        if (!file_ || offset < 0 || size < 0) {
            return -1;
        }
        LARGE_INTEGER position;
        position.QuadPart = offset;
        if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) {
            return -1;
        }
        int64_t done = 0;
        while (done < size) {
            DWORD read = 0;
            if (!::ReadFile(file_.Get(), data + done, static_cast<DWORD>(size - done), &read, nullptr)) {
                return -1;
            }
            if (read == 0) {
                break;
            }
            done += read;
        }
        return done;
    }

    bool SetLength(int64_t length) override {
        LARGE_INTEGER position;
        position.QuadPart = length;
        return file_ && length >= 0 && ::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN) &&
               ::SetEndOfFile(file_.Get());
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
    // OPEN_ALWAYS: the blocks an interrupted run left are read back and kept if they verify.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<WinPackageFile>(file);
}

}  // namespace installer
