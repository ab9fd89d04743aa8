// Package file on POSIX systems (host builds: tests, benchmark, publisher tool).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/text.h"
#include "download/package_file.h"

namespace installer {
namespace {

class PosixPackageFile final : public IPackageFile {
  public:
    explicit PosixPackageFile(int fd) : fd_(fd) {}
    ~PosixPackageFile() override { Close(); }

    bool WriteAt(int64_t offset, const uint8_t* data, int32_t size) override {
        if (fd_ < 0 || offset < 0 || size < 0) {
            return false;
        }
        int32_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, static_cast<size_t>(size - done), offset + done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<int32_t>(n);
        }
        return true;
    }

    int64_t ReadAt(int64_t offset, uint8_t* data, int32_t size) override {
        if (fd_ < 0 || offset < 0 || size < 0) {
            return -1;
        }
        int64_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd_, data + done, static_cast<size_t>(size - done), offset + done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return -1;
            }
            if (n == 0) {
                break;
            }
            done += n;
        }
        return done;
    }

    bool SetLength(int64_t length) override { return fd_ >= 0 && length >= 0 && ::ftruncate(fd_, length) == 0; }

    bool Close() override {
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<IPackageFile> OpenPackageFile(const std::wstring& path) {
    const int fd = ::open(WideToUtf8(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<PosixPackageFile>(fd);
}

}  // namespace installer
