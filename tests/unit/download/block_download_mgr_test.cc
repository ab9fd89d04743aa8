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

#include "base/text.h"
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
        errors_.push_back(code);
        error_urls_.push_back(worker->GetUrl());
    }
    void OnBlockProgress(CBlockDownloadMgr*, int32_t percent) override {
        std::lock_guard<std::mutex> lock(mutex_);
        progress_.push_back(percent);
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
    int done() {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_;
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
    std::vector<int32_t> progress_;
    std::vector<int32_t> errors_;
    std::vector<std::wstring> error_urls_;
    std::vector<DownloadFailure> failures_;
};

// Counts the writes per offset of the real package file.
class CountingFile final : public IPackageFile {
  public:
    CountingFile(std::unique_ptr<IPackageFile> inner, std::map<int64_t, int>* writes, std::mutex* mutex)
        : inner_(std::move(inner)), writes_(writes), mutex_(mutex) {}
    bool WriteAt(int64_t offset, const uint8_t* data, int32_t size) override {
        {
            std::lock_guard<std::mutex> lock(*mutex_);
            ++(*writes_)[offset];
        }
        return inner_->WriteAt(offset, data, size);
    }
    bool Close() override { return inner_->Close(); }

  private:
    std::unique_ptr<IPackageFile> inner_;
    std::map<int64_t, int>* writes_;
    std::mutex* mutex_;
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
    CurlTransportOptions options_{.connect_timeout_ms = 5000, .stall_timeout_ms = 1500};
    CurlRangeTransport transport_{options_};
    RecordingSink sink_;
};

TEST_F(DownloadTest, AssignsBlocksToMirrorsAtStart) {
    // 3 URLs and 4 blocks: blocks 0..3 on URLs 0, 0, 1, 1; URL 2 is never used.
    // 5 URLs and 3 blocks: one URL per block; URLs 3 and 4 are never used.
    // 2 URLs and 10 blocks: 4 workers (URLs 0, 0, 1, 1), then each verified block starts
    // the lowest idle block on the mirror that verified it.
    struct Case {
        int urls;
        size_t blocks;
        std::map<int, std::set<int32_t>> first;  // mirror -> blocks it must have been given at start
        std::set<int> unused;
    };
    const Case cases[] = {
        {3, 4, {{0, {0, 1}}, {1, {2, 3}}}, {2}},
        {5, 3, {{0, {0}}, {1, {1}}, {2, {2}}}, {3, 4}},
        {2, 10, {{0, {0, 1}}, {1, {2, 3}}}, {}},
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
        // Every block was asked for with the block range; the last one too.
        std::set<std::string> all;
        for (const auto& r : web.Requests()) {
            all.insert(r.range);
        }
        for (size_t b = 0; b < c.blocks; ++b) {
            EXPECT_TRUE(all.count(RangeOf(static_cast<int32_t>(b))));
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
    const auto fast_ranges = RangesOn(web, "/fast/");
    EXPECT_TRUE(fast_ranges.count(RangeOf(2)));  // blocks 2 and 3 started on the slow mirror
    EXPECT_TRUE(fast_ranges.count(RangeOf(3)));
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
    EXPECT_GE(std::count(errors.begin(), errors.end(), kBlockErrorHttpStatus), 4);
    // A demoted mirror gets no more work: at most the failure limit of attempts each.
    int bad_requests = 0;
    for (const auto& r : web.Requests()) {
        if (r.status >= 400) {
            ++bad_requests;
        }
    }
    EXPECT_LE(bad_requests, 6);
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
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kAllMirrorsFailed});
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
    const auto data = MakeData(6 * kBlockStride + 5, 13);
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
    EXPECT_GE(std::count(errors.begin(), errors.end(), kBlockErrorTransfer), 2);
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
    RecordingSink alone;
    CBlockDownloadMgr mgr(transport_);
    mgr.SetSink(&alone);
    ASSERT_TRUE(mgr.Start({bad}, BlocksOf(data), Utf8ToWide(dir_.File("other.exe"))));
    ASSERT_TRUE(alone.WaitForEnd());
    EXPECT_EQ(alone.failures(), std::vector<DownloadFailure>{DownloadFailure::kAllMirrorsFailed});
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
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kBlockNeverVerified});
    EXPECT_EQ(sink_.done(), 0);
    const auto errors = sink_.errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), kBlockErrorDigest), 4);
    int block1_requests = 0;
    for (const auto& r : web.Requests()) {
        block1_requests += r.range == RangeOf(1);
    }
    EXPECT_EQ(block1_requests, 4);
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
    EXPECT_EQ(sink_.failures(), std::vector<DownloadFailure>{DownloadFailure::kBlockNeverVerified});
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

TEST_F(DownloadTest, ClearSinkAndDestructionStopStalledTransfers) {
    const auto data = MakeData(4 * kBlockStride, 20);
    WriteFile(dir_.File("src.bin"), data);
    FaultServer silent(dir_.File("src.bin"), "silent");
    ASSERT_TRUE(silent.running());
    CurlRangeTransport patient(CurlTransportOptions{.stall_timeout_ms = 600000});
    {
        CBlockDownloadMgr mgr(patient);
        mgr.SetSink(&sink_);
        ASSERT_TRUE(mgr.Start({silent.Url("/p.bin")}, BlocksOf(data), PackagePath()));
        EXPECT_EQ(mgr.WorkerCount(), 2u);
        mgr.ClearSink();
        // The destructor cancels the transfers that wait for an answer and joins them.
    }
    EXPECT_EQ(sink_.done(), 0);
    EXPECT_TRUE(sink_.failures().empty());
    EXPECT_TRUE(sink_.errors().empty());
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

}  // namespace
}  // namespace installer
