// The download events the installer dialog receives: completion and progress of the
// whole package download.
#pragma once

#include <cstdint>

namespace installer {

// Implemented by the installer dialog. The two operations this system raises
// (OnDownloadComplete, OnDownloadProgress) run on a download worker thread while the
// block manager holds its lock: an implementation only records the event or hands it
// to its own thread, and never calls the manager.
class IDownloadEvent {
  public:
    // Codes of OnDownloadError.
    static constexpr int32_t kErrorFile = 0;     // reading or writing the local package file failed
    static constexpr int32_t kErrorOpenUrl = 1;  // opening the URL failed
    static constexpr int32_t kErrorNetwork = 2;  // network failure

    // Not raised by the download engine; kept for receivers that report errors themselves.
    virtual void OnDownloadError(int32_t code) = 0;
    // Not raised by the download engine.
    virtual void OnDownloadRetry() = 0;
    // Not raised by the download engine.
    virtual void OnDownloadNotify() = 0;
    // Every block is verified and written and the package file is closed.
    virtual void OnDownloadComplete() = 0;
    // A newly verified block that does not complete the download: share of blocks, 0 to 99.
    virtual void OnDownloadProgress(int32_t percent) = 0;

  protected:
    ~IDownloadEvent() = default;
};

}  // namespace installer
