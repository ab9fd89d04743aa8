// The block manager against real mirrors: nginx on loopback, and the fault server where
// nginx cannot make the fault. Every test ends in a complete, correct file or in the one
// final failure event; a wait that runs out means a hang and fails the test.
#include "download/block_download_mgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "base/text.h"
#include "download/block_scheduler.h"
#include "download/curl_transport.h"
#include "test_servers.h"

namespace installer {
namespace {

using testing::BlocksOf;
using testing::FaultServer;
using testing::MakeData;
using testing::NginxServer;
using testing::RangeOf;
using testing::ReadFile;
using testing::RunOf;
using testing::TempDir;
using testing::WriteFile;

// Long enough for any sound run on a loaded machine; only a hang gets near it.
constexpr auto kHangLimit = std::chrono::seconds(90);

class RecordingSink final : public IBlockDownloadMgrEvent {
  public:
    void OnAllBlocksDone(CBlockDownloadMgr*) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++done_;
        cv_.notify_all();
    }
    void OnBlockError(CBlockDownloadMgr*, CBlockDownloadThread* worker, int32_t code) override {
        std::lock_guard<std::mutex> lock(mutex_);
        after_end_ += done_ > 0 || !failures_.empty();
        errors_.push_back(code);
        error_urls_.push_back(worker->GetUrl());
    }
    void OnBlockProgress(CBlockDownloadMgr*, int32_t percent) override {
        std::lock_guard<std::mutex> lock(mutex_);
        progress_.push_back(percent);
        after_end_ += done_ > 0 || !failures_.empty();
        cv_.notify_all();
    }
    void OnDownloadFailed(CBlockDownloadMgr*, DownloadFailure reason) override {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_.push_back(reason);
        cv_.notify_all();
    }

    // Waits for the final event; false when none came in time.
    bool WaitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, kHangLimit, [this] { return done_ > 0 || !failures_.empty(); });
    }
    // Waits until `count` progress events have come; false when they did not in time.
    bool WaitForProgress(size_t count, std::chrono::milliseconds limit = kHangLimit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return progress_.size() >= count; });
    }
    int done() {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_;
    }
    // Events that came after the final one (there must be none).
    int after_end() {
        std::lock_guard<std::mutex> lock(mutex_);
        return after_end_;
    }
    std::vector<int32_t> progress() {
        std::lock_guard<std::mutex> lock(mutex_);
        return progress_;
    }
    std::vector<int32_t> errors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }
    std::vector<DownloadFailure> failures() {
        std::lock_guard<std::mutex> lock(mutex_);
        return failures_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int done_ = 0;
    int after_end_ = 0;
    std::vector<int32_t> progress_;
    std::vector<int32_t> errors_;
    std::vector<std::wstring> error_urls_;
    std::vector<DownloadFailure> failures_;
};

// Counts the writes per offset of the real package file; with `fail_from` > 0 the write
// of that number and every later one fail, as on a disk that fills up.
class CountingFile final : public IPackageFile {
  public:
    CountingFile(std::unique_ptr<IPackageFile> inner,
                 std::map<int64_t, int>* writes,
                 std::mutex* mutex,
                 int fail_from = 0)
        : inner_(std::move(inner)), writes_(writes), mutex_(mutex), fail_from_(fail_from) {}
    bool WriteAt(int64_t offset, const uint8_t* data, int32_t size) override {
        {
            std::lock_guard<std::mutex> lock(*mutex_);
            ++(*writes_)[offset];
            if (fail_from_ > 0 && ++written_ >= fail_from_) {
                return false;
            }
        }
        return inner_->WriteAt(offset, data, size);
    }
    int64_t ReadAt(int64_t offset, uint8_t* data, int32_t size) override { return inner_->ReadAt(offset, data, size); }
    bool SetLength(int64_t length) override { return inner_->SetLength(length); }
    bool Close() override { return inner_->Close(); }

  private:
    std::unique_ptr<IPackageFile> inner_;
    std::map<int64_t, int>* writes_;
    std::mutex* mutex_;
    int fail_from_ = 0;
    int written_ = 0;
};

// A package file whose reads wait until the test opens the gate: a slow old package.
class GatedFile final : public IPackageFile {
  public:
    GatedFile(std::unique_ptr<IPackageFile> inner, std::mutex* mutex, std::condition_variable* cv, bool* open)
        : inner_(std::move(inner)), mutex_(mutex), cv_(cv), open_(open) {}
    bool WriteAt(int64_t offset, const uint8_t* data, int32_t size) override {
        return inner_->WriteAt(offset, data, size);
    }
    int64_t ReadAt(int64_t offset, uint8_t* data, int32_t size) override {
        std::unique_lock<std::mutex> lock(*mutex_);
        cv_->wait(lock, [this] { return *open_; });
        return inner_->ReadAt(offset, data, size);
    }
    bool SetLength(int64_t length) override { return inner_->SetLength(length); }
    bool Close() override { return inner_->Close(); }

  private:
    std::unique_ptr<IPackageFile> inner_;
    std::mutex* mutex_;
    std::condition_variable* cv_;
    bool* open_;
};

// Number of logged requests whose path starts with `prefix`, per Range value.
std::map<std::string, int> RangesOn(const NginxServer& web, const std::string& prefix) {
    std::map<std::string, int> out;
    for (const auto& r : web.Requests()) {
        if (r.request.rfind("GET " + prefix, 0) == 0) {
            ++out[r.range];
        }
    }
    return out;
}

// Three mirrors as three paths of one nginx: /m0/, /m1/, /m2/ (each its own copy), and
// a slow one, /slow/, limited per request.
std::string MirrorLocations() {
    return "location /slow/ { limit_rate 40k; }";
}

class DownloadTest : public ::testing::Test {
  protected:
    std::wstring PackagePath() const { return Utf8ToWide(dir_.File("package.exe")); }
    std::vector<uint8_t> Package() const { return ReadFile(dir_.File("package.exe")); }

    TempDir dir_;
    CurlTransportOptions options_{.connect_timeout_ms = 5000,
                                  .stall = {.min_bytes = 1, .window = std::chrono::milliseconds(1500)}};
    CurlRangeTransport transport_{options_};
    RecordingSink sink_;
};

TEST_F(DownloadTest, AssignsBlocksToMirrorsAtStart) {
    // 3 URLs and 4 blocks: blocks 0..3 on URLs 0, 0, 1, 1; URL 2 is never used.
    // 5 URLs and 3 blocks: one URL per block; URLs 3 and 4 are never used.
    // 2 URLs and 10 blocks: each mirror's first request is one block, its second at once a
    // run of one transfer's share: URL 0 blocks 0 and 1-2, URL 1 blocks 3 and 4-5.
    struct Case {
        int urls;
        size_t blocks;
        std::map<int, std::set<int32_t>> first;  // mirror -> blocks it must have been given at start
        std::set<int> unused;
    };
    const Case cases[] = {
        {3, 4, {{0, {0, 1}}, {1, {2, 3}}}, {2}},
        {5, 3, {{0, {0}}, {1, {1}}, {2, {2}}}, {3, 4}},
        {2, 10, {{0, {0}}, {1, {3}}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.urls);
        NginxServer web;
        ASSERT_TRUE(web.running());
        const auto data = MakeData(c.blocks * kBlockStride - 1000, static_cast<uint32_t>(c.urls));
        std::vector<std::wstring> urls;
        for (int m = 0; m < c.urls; ++m) {
            web.Put("m" + std::to_string(m) + "/p.bin", data);
            urls.push_back(web.Url("/m" + std::to_string(m) + "/p.bin"));
        }
        RecordingSink sink;
        {
            CBlockDownloadMgr mgr(transport_);
            mgr.SetSink(&sink);
            ASSERT_TRUE(mgr.Start(urls, BlocksOf(data), PackagePath()));
            ASSERT_TRUE(sink.WaitForEnd());
        }
        EXPECT_EQ(sink.done(), 1);
        EXPECT_EQ(Package(), data);
        for (const auto& [mirror, blocks] : c.first) {
            const auto seen = RangesOn(web, "/m" + std::to_string(mirror) + "/");
            for (int32_t b : blocks) {
                EXPECT_TRUE(seen.count(RangeOf(b))) << "mirror " << mirror << " block " << b;
            }
        }
        for (int mirror : c.unused) {
            EXPECT_TRUE(RangesOn(web, "/m" + std::to_string(mirror) + "/").empty()) << mirror;
        }
        // Every block was asked for, alone or in a run of whole blocks; the last one too.
        std::set<int32_t> asked;
        for (const auto& r : web.Requests()) {
            const auto [first, length] = RunOf(r.range);
            ASSERT_GE(first, 0) << r.range;
            for (int32_t b = first; b < first + length; ++b) {
                asked.insert(b);
            }
        }
        for (size_t b = 0; b < c.blocks; ++b) {
            EXPECT_TRUE(asked.count(static_cast<int32_t>(b))) << "block " << b;
        }
    }
}

TEST_F(DownloadTest, ReportsProgressThenCompletionWithoutHundred) {
    NginxServer web;
    const auto data = MakeData(4 * kBlockStride, 7);
    web.Put("p.bin", data);
    // One mirror, one worker: blocks are verified one after the other.
    CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.workers_per_mirror = 1});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.progress(), (std::vector<int32_t>{25, 50, 75}));
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_TRUE(sink_.failures().empty());
    EXPECT_EQ(Package(), data);
    EXPECT_EQ(mgr.SuccessCount(web.Url("/p.bin")), 4);
}

TEST_F(DownloadTest, ShortLastBlockVerifies) {
    NginxServer web;
    const auto data = MakeData(2 * kBlockStride + 1000, 3);
    web.Put("p.bin", data);
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_TRUE(sink_.errors().empty());
    EXPECT_EQ(Package(), data);
}

TEST_F(DownloadTest, EmptyTableOrNoMirrorFailsAtOnceAndCreatesTheFile) {
    NginxServer web;
    const auto data = MakeData(1000, 1);
    web.Put("p.bin", data);
    WriteFile(dir_.File("package.exe"), MakeData(5000, 9));  // an old package is truncated
    {
        CBlockDownloadMgr mgr(transport_);
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, {}, PackagePath()));
        EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kEmptyBlockTable});
        EXPECT_EQ(mgr.WorkerCount(), 0u);
    }
    EXPECT_TRUE(Package().empty());
    RecordingSink no_mirror;
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&no_mirror);
    ASSERT_TRUE(mgr.Start({}, BlocksOf(data), PackagePath()));
    EXPECT_EQ(no_mirror.failures(), std::vector<DownloadFailure>{DownloadFailure::kNoMirrors});
    EXPECT_EQ(no_mirror.done(), 0);
    EXPECT_TRUE(web.Requests().empty());
}

TEST_F(DownloadTest, StartFailsWhenThePackageCannotBeCreated) {
    NginxServer web;
    const auto data = MakeData(1000, 1);
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    EXPECT_FALSE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), Utf8ToWide(dir_.File("missing/dir/p.exe"))));
    EXPECT_EQ(mgr.WorkerCount(), 0u);
    EXPECT_TRUE(sink_.failures().empty());
    EXPECT_TRUE(web.Requests().empty());
}

TEST_F(DownloadTest, FastMirrorDuplicatesBlocksOfTheSlowOneAndEachBlockIsWrittenOnce) {
    // URL 1 is slow (40 KiB/s: 5 s per block) and verifies nothing; URL 0 takes every
    // idle block, then downloads a second time the blocks that URL 1 is fetching.
    NginxServer web(MirrorLocations());
    const auto data = MakeData(12 * kBlockStride, 5);
    web.Put("fast/p.bin", data);
    web.Put("slow/p.bin", data);
    std::map<int64_t, int> writes;
    std::mutex writes_mutex;
    auto counting = [&](const std::wstring& path) -> std::unique_ptr<IPackageFile> {
        auto inner = OpenPackageFile(path);
        return inner ? std::make_unique<CountingFile>(std::move(inner), &writes, &writes_mutex) : nullptr;
    };
    const std::wstring fast = web.Url("/fast/p.bin");
    const std::wstring slow = web.Url("/slow/p.bin");
    {
        CBlockDownloadMgr mgr(transport_, counting);
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({fast, slow}, BlocksOf(data), PackagePath()));
        ASSERT_TRUE(sink_.WaitForEnd());
        EXPECT_EQ(mgr.SuccessCount(fast), 12);
        EXPECT_EQ(mgr.SuccessCount(slow), 0);
    }
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    // Blocks 3-5 started on the slow mirror (its first block and its opening run): the fast
    // one asked for each of them too.
    std::set<int32_t> fast_blocks;
    for (const auto& [range, count] : RangesOn(web, "/fast/")) {
        const auto [first, length] = RunOf(range);
        for (int32_t b = first; b < first + length; ++b) {
            fast_blocks.insert(b);
        }
    }
    for (int32_t b = 3; b < 6; ++b) {
        EXPECT_TRUE(fast_blocks.count(b)) << "block " << b;
    }
    EXPECT_EQ(writes.size(), 12u);
    for (const auto& [offset, count] : writes) {
        EXPECT_EQ(count, 1) << offset;
    }
}

TEST_F(DownloadTest, TwoEqualMirrorsRaceTheTailAndCountEachBlockOnce) {
    NginxServer web;
    const auto data = MakeData(30 * kBlockStride + 17, 11);
    web.Put("a/p.bin", data);
    web.Put("b/p.bin", data);
    std::map<int64_t, int> writes;
    std::mutex writes_mutex;
    auto counting = [&](const std::wstring& path) -> std::unique_ptr<IPackageFile> {
        return std::make_unique<CountingFile>(OpenPackageFile(path), &writes, &writes_mutex);
    };
    CBlockDownloadMgr mgr(transport_, counting);
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/a/p.bin"), web.Url("/b/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    EXPECT_EQ(mgr.SuccessCount(web.Url("/a/p.bin")) + mgr.SuccessCount(web.Url("/b/p.bin")), 31);
    EXPECT_EQ(writes.size(), 31u);
    for (const auto& [offset, count] : writes) {
        EXPECT_EQ(count, 1) << offset;
    }
    const auto progress = sink_.progress();
    EXPECT_EQ(progress.size(), 30u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

// --- Faults -------------------------------------------------------------------------

TEST_F(DownloadTest, ErrorPagesAreFailedAttemptsAndThoseMirrorsAreDropped) {
    NginxServer web("location /e500/ { return 500; }");
    const auto data = MakeData(8 * kBlockStride, 21);
    web.Put("ok/p.bin", data);  // /missing/p.bin answers 404
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/missing/p.bin"), web.Url("/e500/p.bin"), web.Url("/ok/p.bin")}, BlocksOf(data),
                          PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    const auto errors = sink_.errors();
    // Both bad mirrors are asked at the start; how often the resting 500 mirror is asked
    // again depends on how long the good one takes, so only the first answers are counted.
    EXPECT_GE(std::count(errors.begin(), errors.end(), kBlockErrorHttpStatus), 2);
    // A 404 refuses that mirror for good: no request after the ones sent before the first
    // answer came back (at most one per connection).
    int missing_requests = 0;
    for (const auto& r : web.Requests()) {
        if (r.request.rfind("GET /missing/", 0) == 0) {
            ++missing_requests;
        }
    }
    EXPECT_LE(missing_requests, kMaxConnectionsPerMirror);
    // The report tells the three mirrors apart: two that only refused, one that delivered.
    const DownloadReport report = mgr.Report();
    ASSERT_EQ(report.mirrors.size(), 3u);
    EXPECT_EQ(report.mirrors[0].blocks_verified + report.mirrors[1].blocks_verified, 0);
    EXPECT_GE(report.mirrors[0].http_failures, 1);
    EXPECT_GE(report.mirrors[1].http_failures, 1);
    EXPECT_EQ(report.mirrors[2].blocks_verified, 8);
    EXPECT_GE(report.mirrors[2].bytes_received, static_cast<int64_t>(data.size()));
    EXPECT_EQ(report.mirrors[2].http_failures + report.mirrors[2].check_failures, 0);
    EXPECT_EQ(report.blocks_done, 8);
    EXPECT_EQ(report.blocks_kept, 0);
}

TEST_F(DownloadTest, EveryMirrorFailingEndsInOneFailureEvent) {
    NginxServer web;
    const auto data = MakeData(5 * kBlockStride, 2);
    {
        CBlockDownloadMgr mgr(transport_);
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({web.Url("/a.bin"), web.Url("/b.bin")}, BlocksOf(data), PackagePath()));
        ASSERT_TRUE(sink_.WaitForEnd());
    }
    // Both answer 404: the mirrors do not offer the package, which is no network failure.
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kServerRefused});
    EXPECT_EQ(sink_.done(), 0);
    EXPECT_TRUE(sink_.progress().empty());
}

TEST_F(DownloadTest, MirrorThatIgnoresRangesIsDroppedAndTheOtherCompletes) {
    NginxServer web("location /norange/ { max_ranges 0; }");
    const auto data = MakeData(6 * kBlockStride, 8);
    web.Put("norange/p.bin", data);
    web.Put("ok/p.bin", data);
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/norange/p.bin"), web.Url("/ok/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    const auto errors = sink_.errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), kBlockErrorRangeIgnored), 1);  // block 1; block 0 verifies
    EXPECT_LE(RangesOn(web, "/norange/").size(), 2u);
}

TEST_F(DownloadTest, ResetInMidBodyIsRetriedElsewhere) {
    // Two blocks and two mirrors: both first transfers go to the mirror that resets every
    // answer in mid-body, so the other mirror gets work only from a failure handed on. How
    // many of the resets are seen depends on timing (a second one may come after the block
    // arrived from the other mirror and is then no error); the first one cannot.
    const auto data = MakeData(2 * kBlockStride - 5, 13);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer reset(dir_.File("src.bin"), "reset");
    ASSERT_TRUE(reset.running());
    NginxServer web;
    web.Put("p.bin", data);
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({reset.Url("/p.bin"), web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    const auto errors = sink_.errors();
    EXPECT_GE(errors.size(), 1u);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), kBlockErrorTransfer), static_cast<long>(errors.size()));
    const auto first = reset.Ranges();
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(std::set<std::string>(first.begin(), first.begin() + 2), (std::set<std::string>{RangeOf(0), RangeOf(1)}));
    const DownloadReport report = mgr.Report();
    EXPECT_EQ(report.mirrors[0].blocks_verified, 0);
    EXPECT_GE(report.mirrors[0].network_failures, 1);
    EXPECT_EQ(report.mirrors[1].blocks_verified, 2);
}

TEST_F(DownloadTest, OneMirrorThatResetsTwiceStillCompletes) {
    const auto data = MakeData(3 * kBlockStride, 14);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer flaky(dir_.File("src.bin"), "flaky", 2);
    ASSERT_TRUE(flaky.running());
    CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.workers_per_mirror = 1});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({flaky.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    EXPECT_EQ(sink_.errors(), (std::vector<int32_t>{kBlockErrorTransfer, kBlockErrorTransfer}));
}

TEST_F(DownloadTest, StalledMirrorTimesOutAndTheOtherCompletes) {
    const auto data = MakeData(4 * kBlockStride, 15);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer stall(dir_.File("src.bin"), "stall");
    ASSERT_TRUE(stall.running());
    NginxServer web;
    web.Put("p.bin", data);
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({stall.Url("/p.bin"), web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
}

TEST_F(DownloadTest, UnresolvableHostIsDroppedAndTheOtherCompletes) {
    // A 70-character label cannot be put into a DNS query, so the resolver fails without
    // sending anything off this machine.
    const std::wstring bad = L"http://" + std::wstring(70, L'x') + L".invalid/p.bin";
    NginxServer web;
    const auto data = MakeData(3 * kBlockStride, 16);
    web.Put("p.bin", data);
    {
        CBlockDownloadMgr mgr(transport_);
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({bad, web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
        ASSERT_TRUE(sink_.WaitForEnd());
    }
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    // Alone, the failure to resolve may be an outage: tried again until the budget is spent.
    RecordingSink alone;
    CBlockDownloadMgr mgr(transport_, OpenPackageFile,
                          DownloadPolicy{.retry_delay_ms = 50, .max_retry_delay_ms = 200, .outage_budget_ms = 1500});
    mgr.SetSink(&alone);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(mgr.Start({bad}, BlocksOf(data), Utf8ToWide(dir_.File("other.exe"))));
    ASSERT_TRUE(alone.WaitForEnd());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(alone.failures(), std::vector<DownloadFailure>{DownloadFailure::kAllMirrorsFailed});
    EXPECT_GE(alone.errors().size(), 4u);  // tried again and again, not given up after the demotion
}

TEST_F(DownloadTest, WrongDigestInTheDescriptionFailsAfterBoundedAttempts) {
    NginxServer web;
    const auto data = MakeData(3 * kBlockStride, 17);
    web.Put("a/p.bin", data);
    web.Put("b/p.bin", data);
    auto blocks = BlocksOf(data);
    blocks[1].digest[0] ^= 0xff;
    {
        CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.max_attempts_per_block = 4});
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({web.Url("/a/p.bin"), web.Url("/b/p.bin")}, blocks, PackagePath()));
        ASSERT_TRUE(sink_.WaitForEnd());
    }
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kBlockFailsItsCheck});
    EXPECT_EQ(sink_.done(), 0);
    const auto errors = sink_.errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), kBlockErrorDigest), 4);
    int block1_requests = 0;
    for (const auto& r : web.Requests()) {
        block1_requests += r.range == RangeOf(1);
    }
    EXPECT_EQ(block1_requests, 4);
}

TEST_F(DownloadTest, ErrorPagesOnEveryAttemptAreNotTakenForAChangedPackage) {
    NginxServer web;  // /missing/p.bin answers 404: no bytes of the package ever arrive
    const auto data = MakeData(2 * kBlockStride, 19);
    CBlockDownloadMgr mgr(transport_, OpenPackageFile,
                          DownloadPolicy{.max_attempts_per_block = 2, .demotion_ms = 50, .retry_delay_ms = 10});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/missing/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    ASSERT_EQ(sink_.failures().size(), 1u);
    EXPECT_NE(sink_.failures()[0], DownloadFailure::kBlockFailsItsCheck);
}

TEST_F(DownloadTest, RightDigestButWrongSizeIsASizeError) {
    // The description's size of the last block is one byte short, its digest is that of
    // the bytes the mirror sends: every attempt is a size error, then the final failure.
    NginxServer web;
    const auto data = MakeData(kBlockStride + 1000, 23);
    web.Put("p.bin", data);
    auto blocks = BlocksOf(data);
    blocks[1].size -= 1;
    CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.max_attempts_per_block = 3});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, blocks, PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.errors(), (std::vector<int32_t>{kBlockErrorSize, kBlockErrorSize, kBlockErrorSize}));
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kBlockFailsItsCheck});
    EXPECT_EQ(sink_.progress(), std::vector<int32_t>{50});
}

TEST_F(DownloadTest, BlockThatCanNeverVerifyFailsBeforeAnyRequest) {
    NginxServer web;
    const auto data = MakeData(2 * kBlockStride, 18);
    web.Put("p.bin", data);
    for (int variant = 0; variant < 3; ++variant) {
        auto blocks = BlocksOf(data);
        if (variant == 0) {
            blocks[0].size = kBlockStride + 1;
        } else if (variant == 1) {
            blocks[1].digest_valid = false;
        } else {
            blocks[1].size = 0;
        }
        RecordingSink sink;
        CBlockDownloadMgr mgr(transport_);
        mgr.SetSink(&sink);
        ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, blocks, PackagePath()));
        EXPECT_EQ(sink.failures(), std::vector<DownloadFailure>{DownloadFailure::kInvalidBlockTable}) << variant;
    }
    EXPECT_TRUE(web.Requests().empty());
}

TEST_F(DownloadTest, FullDiskIsAFinalFailure) {
    NginxServer web;
    const auto data = MakeData(4 * kBlockStride, 19);
    web.Put("p.bin", data);
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    // Every write to /dev/full fails with ENOSPC, as on a full disk.
    ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), L"/dev/full"));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kWriteFailed});
    EXPECT_EQ(sink_.done(), 0);
    EXPECT_TRUE(sink_.progress().empty());
}

TEST_F(DownloadTest, AWriteFailureInMidRunIsOneFinalFailureAndNothingAfter) {
    // The disk fills up at the third block written, in the middle of the download: one
    // final failure, no event after it, and no block written after the failing one.
    NginxServer web;
    const auto data = MakeData(12 * kBlockStride, 33);
    web.Put("p.bin", data);
    std::map<int64_t, int> writes;
    std::mutex writes_mutex;
    auto filling = [&](const std::wstring& path) -> std::unique_ptr<IPackageFile> {
        return std::make_unique<CountingFile>(OpenPackageFile(path), &writes, &writes_mutex, 3);
    };
    {
        CBlockDownloadMgr mgr(transport_, filling, DownloadPolicy{.max_run_blocks = 4});
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
        ASSERT_TRUE(sink_.WaitForEnd());
        EXPECT_EQ(mgr.Report().blocks_done, 2);
    }
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kWriteFailed});
    EXPECT_EQ(sink_.done(), 0);
    EXPECT_EQ(sink_.progress().size(), 2u);
    EXPECT_EQ(sink_.after_end(), 0);
    int attempted = 0;
    for (const auto& [offset, count] : writes) {
        attempted += count;
    }
    EXPECT_EQ(attempted, 3);
}

TEST_F(DownloadTest, TheOldPackageIsReadBackOffTheCallersThread) {
    // Reading back an old package waits here until the test lets it go on: Start returns
    // and the manager answers (its lock is free) while the scan still waits.
    NginxServer web;
    const auto data = MakeData(5 * kBlockStride, 34);
    web.Put("p.bin", data);
    std::vector<uint8_t> left(data.begin(), data.begin() + 3 * kBlockStride);
    WriteFile(dir_.File("package.exe"), left);
    std::mutex gate_mutex;
    std::condition_variable gate_cv;
    bool gate_open = false;
    auto gated = [&](const std::wstring& path) -> std::unique_ptr<IPackageFile> {
        return std::make_unique<GatedFile>(OpenPackageFile(path), &gate_mutex, &gate_cv, &gate_open);
    };
    auto open_gate = [&] {
        std::lock_guard<std::mutex> lock(gate_mutex);
        gate_open = true;
        gate_cv.notify_all();
    };
    CBlockDownloadMgr mgr(transport_, gated);
    mgr.SetSink(&sink_);
    // Should Start read on this thread, a watchdog opens the gate so that the test fails
    // instead of hanging.
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(gate_mutex);
        if (!gate_cv.wait_for(lock, kHangLimit, [&] { return gate_open; })) {
            gate_open = true;
            gate_cv.notify_all();
        }
    });
    ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    bool gate_was_closed = false;
    {
        std::lock_guard<std::mutex> lock(gate_mutex);
        gate_was_closed = !gate_open;
    }
    EXPECT_TRUE(gate_was_closed) << "Start read the old package on the caller's thread";
    EXPECT_EQ(mgr.Report().blocks_done, 0);  // the lock is free while the scan waits
    EXPECT_TRUE(web.Requests().empty());
    open_gate();
    watchdog.join();
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    EXPECT_EQ(mgr.Report().blocks_kept, 3);
    EXPECT_EQ(sink_.progress().front(), 60);
}

TEST_F(DownloadTest, ClearSinkAndDestructionStopStalledTransfers) {
    // The mirror answers every request 2 s late: without ClearSink, events would come then.
    const auto data = MakeData(4 * kBlockStride, 20);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer late(dir_.File("src.bin"), "ok", testing::FaultOptions{.delay_ms = 2000});
    ASSERT_TRUE(late.running());
    CurlRangeTransport patient(CurlTransportOptions{.stall = {.window = std::chrono::minutes(10)}});
    using Clock = std::chrono::steady_clock;
    {
        // The control: left alone, the same start does raise events once the answers come.
        RecordingSink control;
        CBlockDownloadMgr mgr(patient);
        mgr.SetSink(&control);
        ASSERT_TRUE(mgr.Start({late.Url("/p.bin")}, BlocksOf(data), Utf8ToWide(dir_.File("control.exe"))));
        EXPECT_TRUE(control.WaitForProgress(1));
    }
    {
        CBlockDownloadMgr mgr(patient);
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({late.Url("/p.bin")}, BlocksOf(data), PackagePath()));
        // The workers start once the (empty) old package has been read back.
        const auto deadline = Clock::now() + kHangLimit;
        while (mgr.WorkerCount() < 2u && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(mgr.WorkerCount(), 2u);
        mgr.ClearSink();
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));  // past the answers' time
    }
    EXPECT_EQ(sink_.done(), 0);
    EXPECT_TRUE(sink_.progress().empty());
    EXPECT_TRUE(sink_.failures().empty());
    EXPECT_TRUE(sink_.errors().empty());

    // Destroyed while both transfers wait for their answers: it cancels and joins them at
    // once instead of waiting for the mirror, and raises nothing.
    RecordingSink waiting;
    Clock::time_point destroying;
    {
        CBlockDownloadMgr mgr(patient);
        mgr.SetSink(&waiting);
        ASSERT_TRUE(mgr.Start({late.Url("/p.bin")}, BlocksOf(data), Utf8ToWide(dir_.File("other.exe"))));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        destroying = Clock::now();
    }
    EXPECT_LT(Clock::now() - destroying, std::chrono::milliseconds(1000));
    EXPECT_EQ(waiting.done(), 0);
    EXPECT_TRUE(waiting.progress().empty());
    EXPECT_TRUE(waiting.errors().empty());
}

TEST_F(DownloadTest, MemoryStaysBoundedByRunningTransfers) {
    NginxServer web;
    const auto data = MakeData(40 * kBlockStride, 22);
    web.Put("p.bin", data);
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    // Workers that reported are reaped as the download goes on; with one mirror at most
    // its two running workers and the last few reporters are left.
    EXPECT_LE(mgr.WorkerCount(), 4u);
    EXPECT_EQ(Package(), data);
}

// --- Runs of blocks ----------------------------------------------------------------

using testing::FaultOptions;

// Runs asked for, as (first block, length), in the order the mirror saw them.
std::vector<std::pair<int32_t, int32_t>> RunsSeenBy(const FaultServer& server) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const std::string& range : server.Ranges()) {
        out.push_back(RunOf(range));
    }
    return out;
}

TEST_F(DownloadTest, RunsGrowOnAFarMirror) {
    // Every answer comes 300 ms late, as from a far mirror over a fast link: one block per
    // request would leave the link idle most of the time.
    const auto data = MakeData(60 * kBlockStride + 300, 24);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer far(dir_.File("src.bin"), "ok", FaultOptions{.delay_ms = 300});
    ASSERT_TRUE(far.running());
    CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.max_run_blocks = 16});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({far.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    EXPECT_TRUE(sink_.errors().empty());
    EXPECT_EQ(sink_.after_end(), 0);

    const auto runs = RunsSeenBy(far);
    ASSERT_GE(runs.size(), 4u);
    // The two first transfers start together, in either order at the server: the one-block
    // request of old, byte for byte, and an opening run after it.
    const size_t single = runs[0].second == 1 ? 0 : 1;
    EXPECT_EQ(far.Ranges()[single], RangeOf(0));
    // The opening run takes the mirror's share (all 60 blocks left), up to its bound.
    EXPECT_EQ(runs[1 - single], std::make_pair(1, kOpeningRunBlocks));
    int32_t longest = 0;
    for (const auto& [first, length] : runs) {
        longest = std::max(longest, length);
        EXPECT_LE(length, 16);
        EXPECT_LE(first + length, 61) << "a run beyond the last block";
    }
    EXPECT_GE(longest, 4) << "runs did not grow";
    EXPECT_LE(runs.size(), 30u) << "nearly one request per block";
    // Every block was asked for, and (one mirror: no duplicates) none twice.
    std::map<int32_t, int> asked;
    for (const auto& [first, length] : runs) {
        for (int32_t b = first; b < first + length; ++b) {
            ++asked[b];
        }
    }
    EXPECT_EQ(asked.size(), 61u);
    for (const auto& [block, times] : asked) {
        EXPECT_EQ(times, 1) << block;
    }
    // Each block was written from exactly one position: progress counts every block once.
    EXPECT_EQ(sink_.progress().size(), 60u);
}

TEST_F(DownloadTest, ABadBlockInsideAGoodRunFailsOnlyItself) {
    // Block 6 arrives corrupted once, in the middle of a run; the run's other blocks are
    // kept and only block 6 is asked for again.
    const auto data = MakeData(24 * kBlockStride, 25);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer far(dir_.File("src.bin"), "corrupt", FaultOptions{.faults = 1, .delay_ms = 150, .block = 6});
    ASSERT_TRUE(far.running());
    CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.workers_per_mirror = 1, .max_run_blocks = 8});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({far.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    EXPECT_EQ(sink_.errors(), std::vector<int32_t>{kBlockErrorDigest});

    std::map<int32_t, int> asked;
    bool six_inside_a_run = false;
    for (const auto& [first, length] : RunsSeenBy(far)) {
        for (int32_t b = first; b < first + length; ++b) {
            ++asked[b];
        }
        six_inside_a_run = six_inside_a_run || (first < 6 && 6 < first + length - 1);
    }
    EXPECT_TRUE(six_inside_a_run);
    for (int32_t b = 0; b < 24; ++b) {
        EXPECT_EQ(asked[b], b == 6 ? 2 : 1) << b;
    }
}

// --- Stalls and outages -------------------------------------------------------------

TEST_F(DownloadTest, MirrorUnderTheRateFloorIsLeftWithoutWaitingForATimeOut) {
    // The stalled mirror sends half a block, then nothing, and would hold its transfers for
    // as long as the platform waits. The floor (here 2 KB/s over 1 s) ends them.
    const auto data = MakeData(16 * kBlockStride, 26);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer stall(dir_.File("src.bin"), "stall");
    ASSERT_TRUE(stall.running());
    // Paced so that the whole package takes some 4 s even on four connections: the stalled
    // transfers reach the floor long before the paced mirror could finish without them.
    NginxServer web("location /paced/ { limit_rate 200k; }");
    web.Put("paced/p.bin", data);
    // The transfer's own time-out is two minutes: an end within one can only be the floor's.
    CurlRangeTransport floor_only(CurlTransportOptions{
        .receive_timeout_ms = 120000, .stall = {.min_bytes = 2048, .window = std::chrono::seconds(1)}});
    CBlockDownloadMgr mgr(floor_only);
    mgr.SetSink(&sink_);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(mgr.Start({stall.Url("/p.bin"), web.Url("/paced/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    const auto errors = sink_.errors();
    EXPECT_GE(std::count(errors.begin(), errors.end(), kBlockErrorTransfer), 1);
}

TEST_F(DownloadTest, OutageOnEveryMirrorIsRiddenOut) {
    // Both mirrors drop off the network after the first blocks (connections refused) and
    // come back 3 s later: far longer than the retries of one block, within the budget.
    const auto data = MakeData(30 * kBlockStride, 27);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer a(dir_.File("src.bin"), "ok", FaultOptions{.delay_ms = 100});
    FaultServer b(dir_.File("src.bin"), "ok", FaultOptions{.delay_ms = 100});
    ASSERT_TRUE(a.running() && b.running());
    CBlockDownloadMgr mgr(transport_, OpenPackageFile,
                          DownloadPolicy{.max_retry_delay_ms = 400, .outage_budget_ms = 20000, .max_run_blocks = 2});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({a.Url("/p.bin"), b.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForProgress(2));
    a.Stop();
    b.Stop();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const size_t errors_in_outage = sink_.errors().size();
    ASSERT_TRUE(a.Restart());
    ASSERT_TRUE(b.Restart());
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_TRUE(sink_.failures().empty());
    EXPECT_EQ(Package(), data);
    // Tried again and again through the outage, each try a transfer error, with back-off.
    EXPECT_GE(errors_in_outage, 6u);
    EXPECT_LE(errors_in_outage, 60u);
    EXPECT_EQ(sink_.after_end(), 0);
}

TEST_F(DownloadTest, OutageLongerThanTheBudgetIsOneFinalFailureAndNothingAfter) {
    const auto data = MakeData(30 * kBlockStride, 28);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer a(dir_.File("src.bin"), "ok", FaultOptions{.delay_ms = 100});
    ASSERT_TRUE(a.running());
    CBlockDownloadMgr mgr(transport_, OpenPackageFile,
                          DownloadPolicy{.max_retry_delay_ms = 200, .outage_budget_ms = 1500, .max_run_blocks = 2});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({a.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForProgress(1));
    a.Stop();
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_GE(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // room for a stray event
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kAllMirrorsFailed});
    EXPECT_EQ(sink_.done(), 0);
    EXPECT_EQ(sink_.after_end(), 0);
}

TEST_F(DownloadTest, DemotedMirrorIsTriedAgainAndServesOnceBack) {
    // The first mirror resets its first three answers and is demoted; the second is slow.
    // After the rest the first gets a transfer on probation, delivers, and takes over.
    const auto data = MakeData(20 * kBlockStride, 29);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer flaky(dir_.File("src.bin"), "flaky", FaultOptions{.faults = 3});
    ASSERT_TRUE(flaky.running());
    NginxServer web(MirrorLocations());
    web.Put("slow/p.bin", data);
    CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.demotion_ms = 1000});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({flaky.Url("/p.bin"), web.Url("/slow/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    EXPECT_GE(sink_.errors().size(), 3u);
    EXPECT_GE(mgr.SuccessCount(flaky.Url("/p.bin")), 10);
}

// --- Resume -------------------------------------------------------------------------

TEST_F(DownloadTest, RestartKeepsTheVerifiedBlocksOnDiskAndFetchesOnlyTheRest) {
    // An earlier run left blocks 0-4 and 9 whole, block 5 half written and block 7 with a
    // wrong byte; the rest was never written (the file ends after block 9).
    NginxServer web;
    const auto data = MakeData(12 * kBlockStride + 999, 30);
    web.Put("p.bin", data);
    std::vector<uint8_t> left(data.begin(), data.begin() + 10 * kBlockStride);
    std::fill(left.begin() + 5 * kBlockStride + kBlockStride / 2, left.begin() + 7 * kBlockStride, 0);
    std::fill(left.begin() + 8 * kBlockStride, left.begin() + 9 * kBlockStride, 0);
    left[7 * kBlockStride + 100] ^= 1;
    WriteFile(dir_.File("package.exe"), left);
    CBlockDownloadMgr mgr(transport_, OpenPackageFile, DownloadPolicy{.max_run_blocks = 1});
    mgr.SetSink(&sink_);
    ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
    ASSERT_TRUE(sink_.WaitForEnd());
    EXPECT_EQ(sink_.done(), 1);
    EXPECT_EQ(Package(), data);
    const auto progress = sink_.progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 6 * 100 / 13);  // the kept share first
    EXPECT_EQ(progress.size(), 13u - 6u);       // then one per fetched block but the last
    std::set<std::string> asked;
    for (const auto& r : web.Requests()) {
        asked.insert(r.range);
    }
    EXPECT_EQ(asked, (std::set<std::string>{RangeOf(5), RangeOf(6), RangeOf(7), RangeOf(8), RangeOf(10), RangeOf(11),
                                            RangeOf(12)}));
    const DownloadReport report = mgr.Report();
    EXPECT_EQ(report.blocks_kept, 6);
    EXPECT_EQ(report.blocks_total, 13);
    ASSERT_EQ(report.mirrors.size(), 1u);
    EXPECT_EQ(report.mirrors[0].blocks_verified, 7);
    EXPECT_EQ(report.mirrors[0].requests, 7);
}

TEST_F(DownloadTest, ForeignOrLongerFileIsNotKeptAndAWholeOneNeedsNoRequest) {
    NginxServer web;
    const auto data = MakeData(3 * kBlockStride + 10, 31);
    web.Put("p.bin", data);
    {
        // Another package's file, longer than this one: nothing matches, all is fetched,
        // and nothing of the old file is left beyond the new package's end.
        WriteFile(dir_.File("package.exe"), MakeData(5 * kBlockStride, 32));
        RecordingSink sink;
        CBlockDownloadMgr mgr(transport_);
        mgr.SetSink(&sink);
        ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
        ASSERT_TRUE(sink.WaitForEnd());
        EXPECT_EQ(Package(), data);
        int32_t blocks_asked = 0;
        for (const auto& r : web.Requests()) {
            blocks_asked += RunOf(r.range).second;
        }
        EXPECT_EQ(blocks_asked, 4);
    }
    const size_t requests_before = web.Requests().size();
    {
        // This package with garbage after it: the blocks are kept, the tail is cut.
        auto longer = data;
        longer.resize(data.size() + 5000, 0x5a);
        WriteFile(dir_.File("package.exe"), longer);
        RecordingSink sink;
        CBlockDownloadMgr mgr(transport_);
        mgr.SetSink(&sink);
        ASSERT_TRUE(mgr.Start({web.Url("/p.bin")}, BlocksOf(data), PackagePath()));
        // Complete once the old file is read back: no transfer, no request.
        ASSERT_TRUE(sink.WaitForEnd());
        EXPECT_EQ(sink.done(), 1);
        EXPECT_EQ(mgr.WorkerCount(), 0u);
        EXPECT_EQ(Package(), data);
        EXPECT_EQ(web.Requests().size(), requests_before);
    }
}

}  // namespace
}  // namespace installer
