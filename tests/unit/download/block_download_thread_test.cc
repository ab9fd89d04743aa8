// One worker and one transfer against nginx: the header block on the wire, the read
// loop's limits, error answers, connection reuse, and the single report per worker.
#include "download/block_download_thread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "base/text.h"
#include "download/block_info.h"
#include "download/curl_transport.h"
#include "test_servers.h"

namespace installer {
namespace {

using testing::MakeData;
using testing::NginxServer;

// The block callback of a one-block request, which must never be called.
BlockCallback NoBlocks() {
    return [](const uint8_t*, int32_t, int32_t) {
        ADD_FAILURE() << "a one-block request handed over a block";
        return false;
    };
}

TEST(RangeHeaders, NameTheBlockAndOneByteMore) {
    EXPECT_EQ(FormatRangeHeaders(0), FormatRangeHeaders(0, 1));
    EXPECT_EQ(FormatRangeHeaders(0),
              L"Accept: */*\r\nUser-Agent:  Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\n"
              L"Range: bytes=0-204800\r\n");
    EXPECT_NE(FormatRangeHeaders(3LL * kBlockStride).find(L"Range: bytes=614400-819200\r\n"), std::wstring::npos);
    // Offsets beyond 32 bits are printed in full.
    EXPECT_NE(FormatRangeHeaders(10485LL * kBlockStride).find(L"bytes=2147328000-2147532800\r\n"), std::wstring::npos);
    // A run of blocks names the run and one byte more, in the same form.
    EXPECT_NE(FormatRangeHeaders(3LL * kBlockStride, 4).find(L"Range: bytes=614400-1433600\r\n"), std::wstring::npos);
}

class TransportTest : public ::testing::Test {
  protected:
    RangeResult Fetch(const std::wstring& url, int64_t offset) {
        CancelToken token;
        return transport_.FetchRange(url, offset, 1, buffer_.data(), kBlockStride, token, NoBlocks());
    }
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kBlockStride);
    CurlRangeTransport transport_{
        CurlTransportOptions{.connect_timeout_ms = 5000,
                             .stall = {.min_bytes = 1, .window = std::chrono::milliseconds(2000)}}};
};

TEST_F(TransportTest, SendsTheHeaderBlockAndFillsExactlyOneBlock) {
    NginxServer web("location = /nothing { return 204; }");
    const auto data = MakeData(3 * kBlockStride, 1);
    web.Put("p.bin", data);
    web.Put("small.bin", MakeData(1000, 2));

    // 204,801 bytes are available at offset 0: exactly 204,800 land in the buffer.
    RangeResult r = Fetch(web.Url("/p.bin"), 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.received, kBlockStride);
    EXPECT_EQ(r.http_status, 206);
    EXPECT_GE(r.first_byte_ms, 0);
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.end(), data.begin()));

    r = Fetch(web.Url("/p.bin"), kBlockStride);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.end(), data.begin() + kBlockStride));

    r = Fetch(web.Url("/small.bin"), 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.received, 1000);

    r = Fetch(web.Url("/nothing"), 0);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.received, 0);

    const auto log = web.Requests(4);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].range, "bytes=0-204800");
    EXPECT_EQ(log[1].range, "bytes=204800-409600");
    EXPECT_EQ(log[0].accept, "*/*");
    EXPECT_EQ(log[0].agent, "Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)");
    // The extra byte of each range is read and dropped, so one connection serves all.
    std::set<int64_t> connections;
    for (const auto& entry : log) {
        connections.insert(entry.connection);
    }
    EXPECT_EQ(connections.size(), 1u);
}

TEST_F(TransportTest, ErrorAnswersAndFailuresAreNotBodies) {
    NginxServer web("location /e500 { return 500; }");
    RangeResult r = Fetch(web.Url("/missing.bin"), 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.http_status, 404);
    EXPECT_EQ(r.error, TransferError::kHttpStatus);
    EXPECT_EQ(r.received, 0);

    r = Fetch(web.Url("/e500"), 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.http_status, 500);

    r = Fetch(L"http://" + std::wstring(70, L'x') + L".invalid/p.bin", 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, TransferError::kResolve);

    r = Fetch(L"ftp://127.0.0.1/p.bin", 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, TransferError::kBadUrl);
}

TEST_F(TransportTest, MirrorIgnoringRangesAnswersWholeFileAndIsCutAtTheBuffer) {
    NginxServer web("max_ranges 0;");
    const auto data = MakeData(5 * kBlockStride, 3);
    web.Put("p.bin", data);
    const RangeResult r = Fetch(web.Url("/p.bin"), 2 * kBlockStride);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.http_status, 200);
    EXPECT_EQ(r.received, kBlockStride);
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.end(), data.begin()));  // the file's start
}

TEST_F(TransportTest, RunHandsOverEachFullBlockAndKeepsTheLastPiece) {
    NginxServer web;
    const auto data = MakeData(4 * kBlockStride + 700, 6);
    web.Put("p.bin", data);
    std::vector<std::vector<uint8_t>> handed;
    const BlockCallback collect = [&](const uint8_t* bytes, int32_t count, int32_t status) {
        EXPECT_EQ(status, 206);
        handed.emplace_back(bytes, bytes + count);
        return true;
    };
    CancelToken token;
    // Blocks 1 to 3 in one request: 1 and 2 handed over, 3 left in the buffer.
    RangeResult r =
        transport_.FetchRange(web.Url("/p.bin"), kBlockStride, 3, buffer_.data(), kBlockStride, token, collect);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.blocks_passed, 2);
    ASSERT_EQ(handed.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(std::equal(handed[i].begin(), handed[i].end(), data.begin() + (i + 1) * kBlockStride)) << i;
        EXPECT_EQ(handed[i].size(), static_cast<size_t>(kBlockStride));
    }
    EXPECT_EQ(r.received, kBlockStride);
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.end(), data.begin() + 3 * kBlockStride));

    // A run past the end of the file: the body ends with the short last block.
    handed.clear();
    r = transport_.FetchRange(web.Url("/p.bin"), 3 * kBlockStride, 4, buffer_.data(), kBlockStride, token, collect);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.blocks_passed, 1);
    EXPECT_EQ(r.received, 700);
    EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.begin() + 700, data.begin() + 4 * kBlockStride));

    // The receiver can stop the run: the transfer ends as cancelled after that block.
    handed.clear();
    r = transport_.FetchRange(web.Url("/p.bin"), 0, 4, buffer_.data(), kBlockStride, token,
                              [&](const uint8_t*, int32_t, int32_t) { return false; });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, TransferError::kCancelled);
    EXPECT_EQ(r.blocks_passed, 1);

    // nginx logs the stopped request once it notices the connection gone.
    const auto log = web.Requests(3);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].range, "bytes=204800-819200");  // the run and one byte more, as for one block
    EXPECT_EQ(log[1].range, "bytes=614400-1433600");
    EXPECT_EQ(log[0].agent, "Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)");
}

TEST_F(TransportTest, TransferUnderTheFloorEndsAsATimeOutAndOneAboveItDoesNot) {
    testing::TempDir dir;
    const auto data = MakeData(2 * kBlockStride, 7);
    testing::WriteFile(dir.File("f.bin"), data);
    testing::FaultServer stall(dir.File("f.bin"), "stall");
    testing::FaultServer silent(dir.File("f.bin"), "silent");
    ASSERT_TRUE(stall.running() && silent.running());
    NginxServer web("location /paced/ { limit_rate 100k; }");
    web.Put("paced/f.bin", data);
    // 8 KB over 1.5 s is about 5 KB/s: the paced mirror (100 KB/s, in bursts a second
    // apart) stays above it. The receive time-out, the other way a transfer ends as a
    // time-out, is two minutes: a transfer that ends as a time-out within one was ended
    // by the floor, however loaded the machine (the floor needs a window or two).
    constexpr auto kReceiveTimeout = std::chrono::milliseconds(120000);
    CurlRangeTransport floored(
        CurlTransportOptions{.receive_timeout_ms = static_cast<int>(kReceiveTimeout.count()),
                             .stall = {.min_bytes = 8192, .window = std::chrono::milliseconds(1500)}});
    using Clock = std::chrono::steady_clock;
    for (const auto& url : {stall.Url("/f.bin"), silent.Url("/f.bin")}) {
        CancelToken token;
        const auto start = Clock::now();
        const RangeResult r = floored.FetchRange(url, 0, 1, buffer_.data(), kBlockStride, token, NoBlocks());
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, TransferError::kTimeout);
        EXPECT_TRUE(IsNetworkFailure(r.error));
        EXPECT_LT(Clock::now() - start, kReceiveTimeout / 2) << "ended by the receive time-out, not the floor";
    }
    CancelToken token;
    const RangeResult r =
        floored.FetchRange(web.Url("/paced/f.bin"), 0, 1, buffer_.data(), kBlockStride, token, NoBlocks());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.received, kBlockStride);
}

TEST_F(TransportTest, SlowConnectionsAreKeptWhileTheirMirrorIsAboveTheFloor) {
    // 2 KB/s per connection against a floor of 3 KB/s (12 KB over 4 s): one connection
    // alone is under it (nginx lets a second's worth through at once, so 10 KB in a
    // window); beside six more of the same mirror the mirror is four times above it.
    NginxServer web("location /slow/ { limit_rate 2k; }");
    const auto data = MakeData(60 * 1024, 8);
    web.Put("slow/alone.bin", data);
    web.Put("slow/shared.bin", data);
    CurlRangeTransport floored(
        CurlTransportOptions{.stall = {.min_bytes = 12 * 1024, .window = std::chrono::milliseconds(4000)}});
    // The last 12 KiB of the file: six seconds at the connection's rate.
    constexpr int64_t kTail = 48 * 1024;
    std::vector<uint8_t> buffer(kBlockStride);
    {
        CancelToken token;
        const RangeResult r =
            floored.FetchRange(web.Url("/slow/alone.bin"), kTail, 1, buffer.data(), kBlockStride, token, NoBlocks());
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, TransferError::kTimeout);
    }
    // Six transfers of the whole file from the same mirror, each asking for two blocks
    // into a 1 KiB buffer, so that the first KiB of each says it is flowing (the rest is
    // read and dropped); they outlast the tail's transfer and are cancelled after it.
    const std::wstring shared = web.Url("/slow/shared.bin");
    std::mutex mutex;
    std::condition_variable flowing_cv;
    int flowing = 0;
    std::vector<CancelToken> tokens(6);
    std::vector<std::thread> companions;
    for (CancelToken& token : tokens) {
        companions.emplace_back([&] {
            std::vector<uint8_t> small(1024);
            const BlockCallback first_kib = [&](const uint8_t*, int32_t, int32_t) {
                std::lock_guard<std::mutex> lock(mutex);
                ++flowing;
                flowing_cv.notify_all();
                return true;
            };
            floored.FetchRange(shared, 0, 2, small.data(), static_cast<int32_t>(small.size()), token, first_kib);
        });
    }
    RangeResult r;
    bool all_flowing = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        all_flowing = flowing_cv.wait_for(lock, std::chrono::seconds(60), [&] { return flowing == 6; });
    }
    if (all_flowing) {
        CancelToken token;
        r = floored.FetchRange(shared, kTail, 1, buffer.data(), kBlockStride, token, NoBlocks());
    }
    for (CancelToken& companion : tokens) {
        companion.Cancel();
    }
    for (auto& companion : companions) {
        companion.join();
    }
    ASSERT_TRUE(all_flowing);
    EXPECT_TRUE(r.ok) << static_cast<int>(r.error);
    EXPECT_EQ(r.received, static_cast<int32_t>(data.size() - kTail));
    EXPECT_TRUE(std::equal(data.begin() + kTail, data.end(), buffer.begin()));
}

TEST(TlsTransport, OnlyATrustedCertificateForTheHostIsAccepted) {
    testing::TestCa ca;
    ASSERT_TRUE(ca.ok());
    const auto good = ca.Issue("localhost");
    const auto wrong_name = ca.Issue("mirror.invalid");
    const auto self_signed = ca.Issue("localhost", true);
    ASSERT_FALSE(good.first.empty() || wrong_name.first.empty() || self_signed.first.empty());
    NginxServer trusted("", testing::TlsFiles{good.first, good.second});
    NginxServer misnamed("", testing::TlsFiles{wrong_name.first, wrong_name.second});
    NginxServer unknown("", testing::TlsFiles{self_signed.first, self_signed.second});
    ASSERT_TRUE(trusted.running() && misnamed.running() && unknown.running());
    const auto data = MakeData(kBlockStride + 10, 9);
    for (NginxServer* server : {&trusted, &misnamed, &unknown}) {
        server->Put("p.bin", data);
    }
    std::vector<uint8_t> buffer(kBlockStride);
    auto fetch = [&buffer](CurlRangeTransport& transport, const std::wstring& url) {
        CancelToken token;
        return transport.FetchRange(url, 0, 1, buffer.data(), kBlockStride, token, NoBlocks());
    };
    CurlRangeTransport with_test_ca(CurlTransportOptions{.connect_timeout_ms = 5000, .ca_file = ca.ca_file()});
    RangeResult r = fetch(with_test_ca, trusted.Url("/p.bin"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.http_status, 206);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin()));

    for (NginxServer* server : {&misnamed, &unknown}) {
        r = fetch(with_test_ca, server->Url("/p.bin"));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, TransferError::kCertificate);
        EXPECT_FALSE(IsNetworkFailure(r.error));  // not an outage: the mirror is refused at once
        EXPECT_TRUE(server->Requests().empty());  // no request went out without the check
    }
    // The system's store does not hold the test authority: the same server is refused.
    CurlRangeTransport system_store(CurlTransportOptions{.connect_timeout_ms = 5000});
    r = fetch(system_store, trusted.Url("/p.bin"));
    EXPECT_EQ(r.error, TransferError::kCertificate);
    EXPECT_EQ(trusted.Requests(1).size(), 1u);
}

TEST(StallWatch, JudgesEachWholeWindowAgainstTheFloor) {
    using Clock = StallWatch::Clock;
    using std::chrono::milliseconds;
    const Clock::time_point t0{};
    StallWatch watch(StallFloor{.min_bytes = 1000, .window = milliseconds(100)}, t0);
    EXPECT_FALSE(watch.Stalled(t0 + milliseconds(99)));  // no judgement before a window has passed
    EXPECT_EQ(watch.Remaining(t0 + milliseconds(40)), milliseconds(60));
    watch.Add(1000);
    EXPECT_FALSE(watch.Stalled(t0 + milliseconds(100)));  // exactly the floor: enough; a new window starts
    watch.Add(999);
    EXPECT_FALSE(watch.Stalled(t0 + milliseconds(150)));
    EXPECT_TRUE(watch.Stalled(t0 + milliseconds(200)));  // 999 bytes in the second window
    StallWatch silent(StallFloor{.min_bytes = 1, .window = milliseconds(100)}, t0);
    EXPECT_TRUE(silent.Stalled(t0 + milliseconds(100)));  // nothing at all from the request on
    EXPECT_EQ(silent.Remaining(t0 + milliseconds(500)), milliseconds(0));
}

TEST(StallWatch, AMirrorIsJudgedOverAllOfItsTransfers) {
    using Clock = StallWatch::Clock;
    using std::chrono::milliseconds;
    const Clock::time_point t0{};
    const StallFloor floor{.min_bytes = 1000, .window = milliseconds(100)};
    auto flow = std::make_shared<MirrorFlow>();
    StallWatch quiet(floor, t0, flow);  // a transfer that itself receives nothing yet
    StallWatch busy(floor, t0, flow);
    busy.Add(600);
    quiet.Add(400);
    EXPECT_EQ(flow->Total(), 1000);
    // Together the mirror is at the floor: neither of its transfers is cut, whatever its share.
    EXPECT_FALSE(quiet.Stalled(t0 + milliseconds(100)));
    EXPECT_FALSE(busy.Stalled(t0 + milliseconds(100)));
    busy.Add(999);
    EXPECT_TRUE(quiet.Stalled(t0 + milliseconds(200)));
    EXPECT_TRUE(busy.Stalled(t0 + milliseconds(200)));
    // A transfer that starts later counts from its start, not with the mirror's earlier bytes.
    StallWatch late(floor, t0 + milliseconds(200), flow);
    EXPECT_TRUE(late.Stalled(t0 + milliseconds(300)));
    // Without a flow a watch judges its own bytes only.
    StallWatch alone(floor, t0);
    flow->Add(5000);
    EXPECT_TRUE(alone.Stalled(t0 + milliseconds(100)));

    MirrorFlows flows;
    EXPECT_EQ(flows.For(L"http://a/p.bin"), flows.For(L"http://a/p.bin"));
    EXPECT_NE(flows.For(L"http://a/p.bin"), flows.For(L"http://b/p.bin"));
}

TEST(StallWatch, ManyThreadsFeedingOneMirrorLoseNoByte) {
    using Clock = StallWatch::Clock;
    auto flow = std::make_shared<MirrorFlow>();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([flow] {
            StallWatch watch(StallFloor{}, Clock::now(), flow);
            for (int i = 0; i < 10000; ++i) {
                watch.Add(3);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(flow->Total(), 4 * 10000 * 3);
}

TEST(TransferErrors, OnlyNetworkFailuresCanBeAnOutage) {
    for (TransferError e :
         {TransferError::kResolve, TransferError::kConnect, TransferError::kTimeout, TransferError::kNetwork}) {
        EXPECT_TRUE(IsNetworkFailure(e));
    }
    for (TransferError e :
         {TransferError::kNone, TransferError::kCancelled, TransferError::kHttpStatus, TransferError::kBadUrl,
          TransferError::kOther, TransferError::kCertificate, TransferError::kProxyAuth}) {
        EXPECT_FALSE(IsNetworkFailure(e));
    }
}

class OneReport final : public IBlockDownloadEvent {
  public:
    void OnBlockDownloaded(CBlockDownloadThread*, const uint8_t*, int32_t count, int32_t index) override {
        std::lock_guard<std::mutex> lock(mutex_);
        downloaded_.push_back({count, index});
        cv_.notify_all();
    }
    void OnBlockFailed(CBlockDownloadThread*, int32_t index) override {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_.push_back(index);
        cv_.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(60), [this] { return !downloaded_.empty() || !failed_.empty(); });
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::pair<int32_t, int32_t>> downloaded_;
    std::vector<int32_t> failed_;
};

TEST_F(TransportTest, WorkerReportsOnceWithItsBlockIndex) {
    NginxServer web("location = /nothing { return 204; }");
    web.Put("p.bin", MakeData(2 * kBlockStride, 4));
    {
        OneReport report;
        CBlockDownloadThread worker(transport_);
        worker.SetTask(&report, web.Url("/p.bin"), kBlockStride, 1);
        EXPECT_EQ(worker.GetUrl(), web.Url("/p.bin"));
        ASSERT_TRUE(worker.Resume());
        EXPECT_FALSE(worker.Resume());  // single use
        report.Wait();
        worker.Join();
        EXPECT_EQ(report.downloaded_, (std::vector<std::pair<int32_t, int32_t>>{{kBlockStride, 1}}));
        EXPECT_TRUE(report.failed_.empty());
    }
    {
        OneReport report;
        CBlockDownloadThread worker(transport_);
        worker.SetTask(&report, web.Url("/nothing"), 0, 0);
        worker.Resume();
        report.Wait();
        worker.Join();
        EXPECT_EQ(report.downloaded_, (std::vector<std::pair<int32_t, int32_t>>{{0, 0}}));
    }
    {
        OneReport report;
        CBlockDownloadThread worker(transport_);
        worker.SetTask(&report, web.Url("/missing"), 7 * int64_t{kBlockStride}, 7);
        worker.Resume();
        report.Wait();
        worker.Join();
        EXPECT_TRUE(report.downloaded_.empty());
        EXPECT_EQ(report.failed_, std::vector<int32_t>{7});
        EXPECT_EQ(worker.result().error, TransferError::kHttpStatus);
    }
}

TEST_F(TransportTest, CancellingEndsAWaitingTransferAndADelayedStart) {
    std::vector<uint8_t> file = MakeData(kBlockStride, 5);
    testing::TempDir dir;
    testing::WriteFile(dir.File("f.bin"), file);
    testing::FaultServer silent(dir.File("f.bin"), "silent");
    ASSERT_TRUE(silent.running());
    CurlRangeTransport patient(CurlTransportOptions{.stall = {.window = std::chrono::minutes(10)}});
    OneReport report;
    CBlockDownloadThread waiting(patient);
    waiting.SetTask(&report, silent.Url("/f.bin"), 0, 0);
    ASSERT_TRUE(waiting.Resume());
    OneReport delayed_report;
    CBlockDownloadThread delayed(patient);
    delayed.SetTask(&delayed_report, silent.Url("/f.bin"), 0, 3, 600000);
    ASSERT_TRUE(delayed.Resume());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    waiting.Cancel();
    delayed.Cancel();
    report.Wait();
    delayed_report.Wait();
    EXPECT_EQ(report.failed_, std::vector<int32_t>{0});
    EXPECT_EQ(waiting.result().error, TransferError::kCancelled);
    EXPECT_EQ(delayed_report.failed_, std::vector<int32_t>{3});
    EXPECT_EQ(delayed.result().error, TransferError::kCancelled);
}

}  // namespace
}  // namespace installer
