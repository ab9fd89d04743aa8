// One worker and one transfer against nginx: the header block on the wire, the read
// loop's limits, error answers, connection reuse, and the single report per worker.
#include "download/block_download_thread.h"

#include <gtest/gtest.h>

#include <condition_variable>
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

TEST(RangeHeaders, NameTheBlockAndOneByteMore) {
    EXPECT_EQ(FormatRangeHeaders(0),
              L"Accept: */*\r\nUser-Agent:  Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\n"
              L"Range: bytes=0-204800\r\n");
    EXPECT_NE(FormatRangeHeaders(3LL * kBlockStride).find(L"Range: bytes=614400-819200\r\n"), std::wstring::npos);
    // Offsets beyond 32 bits are printed in full.
    EXPECT_NE(FormatRangeHeaders(10485LL * kBlockStride).find(L"bytes=2147328000-2147532800\r\n"), std::wstring::npos);
}

class TransportTest : public ::testing::Test {
  protected:
    RangeResult Fetch(const std::wstring& url, int64_t offset) {
        CancelToken token;
        return transport_.FetchRange(url, offset, buffer_.data(), kBlockStride, token);
    }
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kBlockStride);
    CurlRangeTransport transport_{CurlTransportOptions{.connect_timeout_ms = 5000, .stall_timeout_ms = 2000}};
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

    const auto log = web.Requests();
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
    CurlRangeTransport patient(CurlTransportOptions{.stall_timeout_ms = 600000});
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
