#include "base/support_log.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace installer {
namespace {

// Collects what the log writes; fails once `fail_after` appends were taken.
class StringSink : public ILogSink {
  public:
    StringSink(std::string* out, int fail_after = -1) : out_(out), fail_after_(fail_after) {}
    bool Append(std::string_view bytes) override {
        if (fail_after_ == 0) {
            return false;
        }
        if (fail_after_ > 0) {
            --fail_after_;
        }
        out_->append(bytes);
        return true;
    }

  private:
    std::string* out_;
    int fail_after_;
};

TEST(SupportLogLine, CarriesSecondsWithMillisecondsAndOneLine) {
    EXPECT_EQ(FormatLogLine(12345, "status 200"), "[      12.345] status 200\n");
    EXPECT_EQ(FormatLogLine(0, "a\r\nb\tc"), "[       0.000] a  b c\n");
    EXPECT_EQ(FormatLogLine(-5, "clock went back"), "[       0.000] clock went back\n");
    EXPECT_EQ(FormatLogLine(86400000LL * 400, "x"), "[34560000.000] x\n");
}

TEST(SupportLog, HoldsLinesUntilTheSinkComesThenWritesEverything) {
    SupportLog log;
    log.Event(1, "build 1.0");
    log.Event(2, "windows 10.0");
    std::string out;
    log.AttachSink(std::make_unique<StringSink>(&out));
    EXPECT_TRUE(log.has_sink());
    log.Final(3000, "outcome: installed");
    EXPECT_EQ(out, "[       0.001] build 1.0\n[       0.002] windows 10.0\n[       3.000] outcome: installed\n");
    EXPECT_EQ(log.last_line(), "[       3.000] outcome: installed");
    EXPECT_EQ(log.size(), out.size());

    // A second sink is ignored: the log goes to one file.
    std::string other;
    log.AttachSink(std::make_unique<StringSink>(&other));
    log.Event(4000, "later");
    EXPECT_TRUE(other.empty());
    EXPECT_NE(out.find("later"), std::string::npos);
}

TEST(SupportLog, LongLogIsCutWithANoteButStillTellsHowTheRunEnded) {
    SupportLog log;
    std::string out;
    log.AttachSink(std::make_unique<StringSink>(&out));
    const std::string chunk(1000, 'x');
    for (int i = 0; i < 2000; ++i) {
        log.Event(i, chunk);
    }
    EXPECT_LE(out.size(), kSupportLogMaxBytes - kSupportLogFinalReserve);
    EXPECT_EQ(out.find("log cut"), out.rfind("log cut")) << "the note is written once";
    ASSERT_NE(out.find("log cut: longer than 1 MiB"), std::string::npos);
    log.Event(5000, "an ordinary line after the cut is dropped");
    log.Final(6000, "outcome: failed: network");
    EXPECT_EQ(out.find("dropped"), std::string::npos);
    EXPECT_EQ(log.last_line(), "[       6.000] outcome: failed: network");
    // Final lines too stop at the hard limit.
    for (int i = 0; i < 100; ++i) {
        log.Final(7000, chunk);
    }
    EXPECT_LE(out.size(), kSupportLogMaxBytes);
    EXPECT_GT(out.size(), kSupportLogMaxBytes - 2000);
}

TEST(SupportLog, FailingSinkStopsTheLogQuietly) {
    SupportLog log;
    std::string out;
    log.AttachSink(std::make_unique<StringSink>(&out, 1));
    log.Event(1, "written");
    log.Event(2, "disk full here");
    log.Event(3, "never tried");
    EXPECT_FALSE(log.has_sink());
    EXPECT_EQ(out, "[       0.001] written\n");

    SupportLog no_file;  // a read-only temporary folder: no sink at all
    no_file.Event(1, "held");
    no_file.AttachSink(nullptr);
    no_file.Final(2, "outcome: installed");
    EXPECT_FALSE(no_file.has_sink());
}

TEST(SupportLogName, SortsByTimeAndKeepsTheProductApart) {
    const LogStartTime start{2026, 12, 8, 7, 5, 9};
    EXPECT_EQ(SupportLogFileName(L"Soft", 1001, 77, start), L"installer-Soft-20261208-070509-1001_77.log");
    EXPECT_EQ(SupportLogFileName(L"a/b:c", -1, 0, start), L"installer-a_b_c-20261208-070509--1_0.log");
    EXPECT_EQ(SupportLogPrefix(L""), L"installer-unknown-");
    EXPECT_EQ(SupportLogPrefix(L"产品"), L"installer-产品-");
}

TEST(SupportLogRotation, KeepsTheLastRunsOfThisProductOnly) {
    std::vector<std::wstring> names = {
        L"installer-Soft-20261208-070509-1_0.log",
        L"installer-Soft-20261201-070509-2_0.log",
        L"installer-Soft-20261205-070509-1_0.log",
        L"installer-Soft-20261203-070509-1_0.log",
        L"installer-Soft-20261204-070509-1_0.log",
        L"installer-Soft-20261202-070509-1_0.log",
        L"installer-Other-20200101-000000-1_0.log",
        L"installer-Soft-notes.txt",
        L"unrelated.log",
    };
    const std::vector<std::wstring> expected = {L"installer-Soft-20261201-070509-2_0.log",
                                                L"installer-Soft-20261202-070509-1_0.log"};
    EXPECT_EQ(SupportLogsToDelete(names, SupportLogPrefix(L"Soft")), expected);
    names.resize(4);
    EXPECT_TRUE(SupportLogsToDelete(names, SupportLogPrefix(L"Soft")).empty());
}

TEST(ProxyForLog, NeverShowsALoginOnlyTheAddress) {
    EXPECT_EQ(ProxyForLog(""), "");
    EXPECT_EQ(ProxyForLog("127.0.0.1:8888"), "127.0.0.1:8888");
    EXPECT_EQ(ProxyForLog("user:secret@127.0.0.1:8888"), "127.0.0.1:8888");
    EXPECT_EQ(ProxyForLog("http://user:s@cr@t@proxy:3128"), "http://proxy:3128");
    EXPECT_EQ(ProxyForLog("http=u:p@a:1;https=b:2 ftp=c:pw@d:3"), "http=a:1;https=b:2 ftp=d:3");
}

}  // namespace
}  // namespace installer
