// The support log's lines about the download and the setup, and the failure report's figures.
#include "dialog/support_record.h"

#include <gtest/gtest.h>

#include "dialog/install_flow.h"
#include "base/sha256.h"

namespace installer {
namespace {

DownloadReport TwoMirrors() {
    DownloadReport report;
    MirrorReport a;
    a.url = L"http://127.0.0.1:1/pkg.exe";
    a.requests = 7;
    a.bytes_received = 1228800;
    a.blocks_verified = 5;
    a.network_failures = 1;
    a.http_failures = 0;
    a.check_failures = 1;
    a.rests = 1;
    MirrorReport b;
    b.url = L"http://127.0.0.1:2/包.exe";
    b.http_failures = 0;
    report.mirrors = {a, b};
    report.blocks_total = 9;
    report.blocks_kept = 3;
    report.blocks_done = 8;
    report.outages = 2;
    report.bytes_received = 1228800;
    return report;
}

TEST(SupportRecord, DownloadLinesNameEveryMirrorsFiguresAndTheWhole) {
    const std::vector<std::string> lines = DownloadReportLines(TwoMirrors());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "mirror 1 http://127.0.0.1:1/pkg.exe: 7 requests, 1228800 bytes, 5 blocks verified; failures: "
              "network 1, http 0, check 1, certificate 0; rests 1");
    EXPECT_EQ(lines[1].rfind("mirror 2 http://127.0.0.1:2/\xE5\x8C\x85.exe: ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(": 0 requests, 0 bytes"), std::string::npos);
    EXPECT_EQ(lines[2], "download: 8 of 9 blocks done, 3 kept from an earlier run, 2 outages, 1228800 bytes received");
}

TEST(SupportRecord, ReportFiguresCountOnlyMirrorsAskedAndRoundSecondsUp) {
    ReportDetails details = DownloadDetails(TwoMirrors(), 1);
    EXPECT_FALSE(details.has_reason);
    EXPECT_EQ(details.seconds, 1);
    EXPECT_EQ(details.bytes, 1228800);
    EXPECT_EQ(details.blocks_kept, 3);
    EXPECT_EQ(details.mirrors_tried, 1);
    EXPECT_EQ(DownloadDetails(TwoMirrors(), 12000).seconds, 12);
    EXPECT_EQ(DownloadDetails(TwoMirrors(), 12001).seconds, 13);
    EXPECT_EQ(DownloadDetails(TwoMirrors(), 0).seconds, 0);
    EXPECT_EQ(DownloadDetails(DownloadReport{}, 5000).mirrors_tried, 0);
}

TEST(SupportRecord, EveryEngineFailureHasTheReasonASupportPersonActsOn) {
    struct Case {
        DownloadFailure failure;
        FailureReason reason;
    };
    const Case cases[] = {
        {DownloadFailure::kNoMirrors, FailureReason::kNetwork},
        {DownloadFailure::kEmptyBlockTable, FailureReason::kDamagedPackage},
        {DownloadFailure::kInvalidBlockTable, FailureReason::kDamagedPackage},
        {DownloadFailure::kBlockNeverVerified, FailureReason::kServerRefused},
        {DownloadFailure::kAllMirrorsFailed, FailureReason::kNetwork},
        {DownloadFailure::kWriteFailed, FailureReason::kDisk},
        {DownloadFailure::kCannotStartWorker, FailureReason::kNetwork},
        {DownloadFailure::kBlockFailsItsCheck, FailureReason::kDamagedPackage},
        {DownloadFailure::kCertificateInvalid, FailureReason::kCertificate},
        {DownloadFailure::kServerRefused, FailureReason::kServerRefused},
        {DownloadFailure::kPackageSizeMismatch, FailureReason::kDamagedPackage},
        {DownloadFailure::kProxyLoginRequired, FailureReason::kProxyLogin},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FailureReasonOf(c.failure), c.reason) << static_cast<int>(c.failure);
        const std::string line = DownloadFailureLine(c.failure, DownloadReport{});
        EXPECT_EQ(line.rfind("download failed: " + std::string(FailureReasonName(c.reason)) + " (", 0), 0u) << line;
        EXPECT_NE(line.find("engine code " + std::to_string(static_cast<int>(c.failure)) + ")"), std::string::npos);
    }
}

TEST(SupportRecord, TheMirrorsFiguresTellAGeneralFailureMoreExactly) {
    auto with = [](int32_t network, int32_t http, int32_t certificate, int32_t check) {
        DownloadReport report;
        for (int i = 0; i < 2; ++i) {
            MirrorReport mirror;
            mirror.network_failures = network;
            mirror.http_failures = http;
            mirror.certificate_failures = certificate;
            mirror.check_failures = check;
            report.mirrors.push_back(mirror);
        }
        return report;
    };
    // Every mirror reached and answering 404: the servers refuse, whatever the engine's words.
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kAllMirrorsFailed, with(0, 3, 0, 0)), FailureReason::kServerRefused);
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kBlockNeverVerified, with(0, 3, 0, 0)), FailureReason::kServerRefused);
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kAllMirrorsFailed, with(0, 0, 2, 0)), FailureReason::kCertificate);
    // Any network failure, or bytes that failed their check, keep the engine's reason.
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kAllMirrorsFailed, with(1, 3, 0, 0)), FailureReason::kNetwork);
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kAllMirrorsFailed, with(0, 0, 0, 0)), FailureReason::kNetwork);
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kAllMirrorsFailed, with(0, 3, 1, 0)), FailureReason::kNetwork);
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kBlockNeverVerified, with(0, 1, 0, 2)), FailureReason::kServerRefused)
        << "the engine's own reason stands";
    // Specific reasons are never changed by the figures.
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kWriteFailed, with(0, 3, 0, 0)), FailureReason::kDisk);
    EXPECT_EQ(FailureReasonOf(DownloadFailure::kProxyLoginRequired, with(5, 0, 0, 0)), FailureReason::kProxyLogin);
    EXPECT_EQ(DownloadFailureLine(DownloadFailure::kAllMirrorsFailed, with(0, 3, 0, 0)),
              "download failed: server-refused (every mirror answered only with HTTP errors, engine code 5)");
}

TEST(SupportRecord, SetupOutcomes) {
    FailureReason reason = FailureReason::kNetwork;
    uint32_t code = 99;
    EXPECT_FALSE(SetupFailure({SetupOutcome::Kind::kExited, 0}, &reason, &code));
    EXPECT_EQ(SetupOutcomeLine({SetupOutcome::Kind::kExited, 0}), "setup exited with code 0");

    ASSERT_TRUE(SetupFailure({SetupOutcome::Kind::kExited, 0xC0000005u}, &reason, &code));
    EXPECT_EQ(reason, FailureReason::kSetupExitCode);
    EXPECT_EQ(code, 0xC0000005u);
    EXPECT_EQ(SetupOutcomeLine({SetupOutcome::Kind::kExited, 0xC0000005u}),
              "setup exited with code 3221225477 (0xC0000005)");
    EXPECT_EQ(SetupOutcomeLine({SetupOutcome::Kind::kExited, 2}), "setup exited with code 2");

    ASSERT_TRUE(SetupFailure({SetupOutcome::Kind::kCouldNotStart, 740}, &reason, &code));
    EXPECT_EQ(reason, FailureReason::kSetupExitCode);
    EXPECT_EQ(code, 740u);
    EXPECT_EQ(SetupOutcomeLine({SetupOutcome::Kind::kCouldNotStart, 740}), "setup could not start: system error 740");

    ASSERT_TRUE(SetupFailure({SetupOutcome::Kind::kPackageInvalid, 0}, &reason, &code));
    EXPECT_EQ(reason, FailureReason::kDamagedPackage);
    EXPECT_EQ(SetupOutcomeLine({SetupOutcome::Kind::kPackageInvalid, 0}),
              "package failed its check before the setup ran");
}

TEST(SupportRecord, IdentityIsShownOnlyAsAShortDigest) {
    EXPECT_EQ(ShortDigest(L""), "none");
    // SHA-256("abc") begins ba7816bf.
    EXPECT_EQ(ShortDigest(L"abc"), "ba7816bf");
    const std::string mac = ShortDigest(L"001a2b3c4d5e");
    EXPECT_EQ(mac.size(), 8u);
    EXPECT_EQ(mac.find("001a2b"), std::string::npos);
    EXPECT_NE(ShortDigest(L"001a2b3c4d5f"), mac);
}

}  // namespace
}  // namespace installer
