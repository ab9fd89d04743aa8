// Fetch driver shared by the WinINet and the libcurl builds.
#include "fetch_tool.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "config/package_description.h"
#include "base/ini_file.h"
#include "base/text.h"
#include "download/block_download_mgr.h"
#include "download/package_verify.h"

namespace installer {
namespace {

class PrintingSink final : public IBlockDownloadMgrEvent {
  public:
    void OnAllBlocksDone(CBlockDownloadMgr*) override { Finish(true, 0); }
    void OnBlockError(CBlockDownloadMgr*, CBlockDownloadThread* worker, int32_t code) override {
        std::printf("block_error %d %d %s\n", worker->block_index(), code, WideToUtf8(worker->GetUrl()).c_str());
    }
    void OnBlockProgress(CBlockDownloadMgr*, int32_t percent) override {
        if (percent != last_percent_) {
            std::printf("progress %d\n", percent);
            last_percent_ = percent;
        }
    }
    void OnDownloadFailed(CBlockDownloadMgr*, DownloadFailure reason) override {
        Finish(false, static_cast<int>(reason));
    }
    // Returns the failure code, 0 on completion.
    int Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return ended_; });
        return failure_;
    }

  private:
    void Finish(bool done, int failure) {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        failure_ = done ? 0 : failure;
        cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ended_ = false;
    int failure_ = 0;
    int last_percent_ = -1;
};

// One line per mirror: what the engine measured and counted there.
void PrintReport(const DownloadReport& report) {
    for (size_t i = 0; i < report.mirrors.size(); ++i) {
        const MirrorReport& m = report.mirrors[i];
        std::printf(
            "mirror %zu requests %d bytes %lld verified %d round_trip_ms %d bytes_per_s %lld failures %d/%d/%d %s\n", i,
            m.requests, static_cast<long long>(m.bytes_received), m.blocks_verified, m.round_trip_ms,
            static_cast<long long>(m.bytes_per_s), m.network_failures, m.http_failures, m.check_failures,
            WideToUtf8(m.url).c_str());
    }
}

}  // namespace

int RunFetch(const std::vector<std::wstring>& args, IRangeTransport& transport) {
    std::wstring ini_path;
    std::wstring out_path;
    std::vector<std::wstring> urls;
    int workers = 2;
    int max_run = DownloadPolicy{}.max_run_blocks;
    int outage_budget_ms = DownloadPolicy{}.outage_budget_ms;
    bool recheck = true;
    bool report = false;
    std::vector<std::wstring> pairs;
    for (const std::wstring& a : args) {
        if (a == L"--no-recheck") {
            recheck = false;
        } else if (a == L"--report") {
            report = true;
        } else {
            pairs.push_back(a);
        }
    }
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs[i] == L"--ini") {
            ini_path = pairs[i + 1];
        } else if (pairs[i] == L"--out") {
            out_path = pairs[i + 1];
        } else if (pairs[i] == L"--url") {
            urls.push_back(pairs[i + 1]);
        } else if (pairs[i] == L"--workers") {
            workers = static_cast<int>(std::wcstol(pairs[i + 1].c_str(), nullptr, 10));
        } else if (pairs[i] == L"--outage-budget-ms") {
            outage_budget_ms = static_cast<int>(std::wcstol(pairs[i + 1].c_str(), nullptr, 10));
        } else if (pairs[i] == L"--max-run") {
            max_run = static_cast<int>(std::wcstol(pairs[i + 1].c_str(), nullptr, 10));
        } else {
            std::fprintf(stderr, "unknown option %s\n", WideToUtf8(pairs[i]).c_str());
            return 2;
        }
    }
    if (ini_path.empty() || out_path.empty() || pairs.size() % 2 != 0) {
        std::fprintf(stderr,
                     "usage: --ini DESCRIPTION --out PACKAGE [--url MIRROR]... [--workers N] [--max-run N] "
                     "[--outage-budget-ms N] [--no-recheck] [--report]\n");
        return 2;
    }
    std::ifstream ini_in(std::filesystem::path(ini_path), std::ios::binary);
    const std::string ini_bytes{std::istreambuf_iterator<char>(ini_in), std::istreambuf_iterator<char>()};
    const IniFile ini = IniFile::Parse(ini_bytes);
    PackageDescription description = ReadPackageDescription(ini, [] { return 0; });
    if (urls.empty()) {
        urls = description.mirrors;
    }
    std::printf("blocks %zu mirrors %zu\n", description.blocks.size(), urls.size());

    const auto start = std::chrono::steady_clock::now();
    int failure = 0;
    double seconds = 0;
    {
        PrintingSink sink;
        CBlockDownloadMgr mgr(
            transport, OpenPackageFile,
            DownloadPolicy{
                .workers_per_mirror = workers, .outage_budget_ms = outage_budget_ms, .max_run_blocks = max_run});
        mgr.SetSink(&sink);
        if (!mgr.Start(urls, description.blocks, out_path)) {
            std::printf("failed cannot-create-package\n");
            return 1;
        }
        failure = sink.Wait();
        // Up to the last block, before the manager ends its remaining transfers.
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (report) {
            PrintReport(mgr.Report());
        }
    }
    if (failure != 0) {
        std::printf("failed %d\n", failure);
        return 1;
    }
    if (!recheck) {
        std::printf("done seconds %.3f\n", seconds);
        return 0;
    }
    std::ifstream in(std::filesystem::path(out_path), std::ios::binary);
    const bool verified = VerifyPackageBlocks(
        [&in](int64_t offset, uint8_t* buffer, int32_t size) -> int64_t {
            in.clear();
            in.seekg(offset);
            in.read(reinterpret_cast<char*>(buffer), size);
            return in.gcount();
        },
        description.blocks);
    std::printf("done seconds %.3f verified %s\n", seconds, verified ? "yes" : "no");
    return verified ? 0 : 1;
}

}  // namespace installer
