// Lines and figures of the support log and the failure report.
#include "dialog/support_record.h"

#include <cstdio>

#include "base/text.h"
#include "dialog/install_flow.h"

namespace installer {
namespace {

std::string Hex32(uint32_t value) {
    char text[16] = {};
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

}  // namespace

std::vector<std::string> DownloadReportLines(const DownloadReport& report) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < report.mirrors.size(); ++i) {
        const MirrorReport& m = report.mirrors[i];
        lines.push_back("mirror " + std::to_string(i + 1) + " " + WideToUtf8(m.url) + ": " +
                        std::to_string(m.requests) + " requests, " + std::to_string(m.bytes_received) + " bytes, " +
                        std::to_string(m.blocks_verified) + " blocks verified; failures: network " +
                        std::to_string(m.network_failures) + ", http " + std::to_string(m.http_failures) + ", check " +
                        std::to_string(m.check_failures) + ", certificate " + std::to_string(m.certificate_failures) +
                        "; rests " + std::to_string(m.rests));
    }
    lines.push_back("download: " + std::to_string(report.blocks_done) + " of " + std::to_string(report.blocks_total) +
                    " blocks done, " + std::to_string(report.blocks_kept) + " kept from an earlier run, " +
                    std::to_string(report.outages) + " outages, " + std::to_string(report.bytes_received) +
                    " bytes received");
    return lines;
}

FailureReason FailureReasonOf(DownloadFailure failure) {
    switch (failure) {
        case DownloadFailure::kWriteFailed:
            return FailureReason::kDisk;
        case DownloadFailure::kInvalidBlockTable:
        case DownloadFailure::kEmptyBlockTable:
        case DownloadFailure::kBlockFailsItsCheck:
        case DownloadFailure::kPackageSizeMismatch:
            return FailureReason::kDamagedPackage;
        case DownloadFailure::kCertificateInvalid:
            return FailureReason::kCertificate;
        case DownloadFailure::kServerRefused:
        case DownloadFailure::kBlockNeverVerified:
            return FailureReason::kServerRefused;
        case DownloadFailure::kProxyLoginRequired:
            return FailureReason::kProxyLogin;
        case DownloadFailure::kNoMirrors:
        case DownloadFailure::kAllMirrorsFailed:
        case DownloadFailure::kCannotStartWorker:
            break;
    }
    return FailureReason::kNetwork;
}

FailureReason FailureReasonOf(DownloadFailure failure, const DownloadReport& report) {
    const FailureReason reason = FailureReasonOf(failure);
    if (failure != DownloadFailure::kAllMirrorsFailed && failure != DownloadFailure::kBlockNeverVerified) {
        return reason;
    }
    int64_t network = 0;
    int64_t http = 0;
    int64_t certificate = 0;
    int64_t check = 0;
    for (const MirrorReport& mirror : report.mirrors) {
        network += mirror.network_failures;
        http += mirror.http_failures;
        certificate += mirror.certificate_failures;
        check += mirror.check_failures;
    }
    if (network > 0 || check > 0) {
        return reason;
    }
    if (http > 0 && certificate == 0) {
        return FailureReason::kServerRefused;
    }
    if (certificate > 0 && http == 0) {
        return FailureReason::kCertificate;
    }
    return reason;
}

std::string DownloadFailureLine(DownloadFailure failure, const DownloadReport& report) {
    const char* seen = "";
    switch (failure) {
        case DownloadFailure::kNoMirrors:
            seen = "the description names no mirror";
            break;
        case DownloadFailure::kEmptyBlockTable:
            seen = "the description lists no block";
            break;
        case DownloadFailure::kInvalidBlockTable:
            seen = "the description's block table cannot verify";
            break;
        case DownloadFailure::kBlockNeverVerified:
            seen = "a block failed on every mirror tried";
            break;
        case DownloadFailure::kAllMirrorsFailed:
            seen = "no mirror could be reached or kept delivering";
            break;
        case DownloadFailure::kWriteFailed:
            seen = "the package file could not be written";
            break;
        case DownloadFailure::kCannotStartWorker:
            seen = "no download thread could be started";
            break;
        case DownloadFailure::kBlockFailsItsCheck:
            seen = "a block's bytes failed their check on every attempt";
            break;
        case DownloadFailure::kCertificateInvalid:
            seen = "every mirror's certificate was refused";
            break;
        case DownloadFailure::kServerRefused:
            seen = "every mirror answered with an HTTP error";
            break;
        case DownloadFailure::kPackageSizeMismatch:
            seen = "the mirrors hold a shorter file than the description's";
            break;
        case DownloadFailure::kProxyLoginRequired:
            seen = "the proxy asks for a login";
            break;
    }
    const FailureReason reason = FailureReasonOf(failure, report);
    if (reason != FailureReasonOf(failure)) {
        seen = reason == FailureReason::kServerRefused ? "every mirror answered only with HTTP errors"
                                                       : "every mirror was refused for its certificate";
    }
    return "download failed: " + std::string(FailureReasonName(reason)) + " (" + seen + ", engine code " +
           std::to_string(static_cast<int32_t>(failure)) + ")";
}

ReportDetails DownloadDetails(const DownloadReport& report, int64_t elapsed_ms) {
    ReportDetails details;
    details.seconds = elapsed_ms <= 0 ? 0 : (elapsed_ms + 999) / 1000;
    details.bytes = report.bytes_received;
    details.blocks_kept = report.blocks_kept;
    for (const MirrorReport& mirror : report.mirrors) {
        if (mirror.requests > 0) {
            ++details.mirrors_tried;
        }
    }
    return details;
}

bool SetupFailure(const SetupOutcome& outcome, FailureReason* reason, uint32_t* code) {
    switch (outcome.kind) {
        case SetupOutcome::Kind::kExited:
            if (outcome.code == 0) {
                return false;
            }
            *reason = FailureReason::kSetupExitCode;
            *code = outcome.code;
            return true;
        case SetupOutcome::Kind::kCouldNotStart:
            *reason = FailureReason::kSetupExitCode;
            *code = outcome.code;
            return true;
        case SetupOutcome::Kind::kPackageInvalid:
            *reason = FailureReason::kDamagedPackage;
            *code = 0;
            return true;
    }
    return false;
}

std::string SetupOutcomeLine(const SetupOutcome& outcome) {
    switch (outcome.kind) {
        case SetupOutcome::Kind::kExited:
            return "setup exited with code " + std::to_string(outcome.code) +
                   (outcome.code > 0xFFFF ? " (" + Hex32(outcome.code) + ")" : std::string());
        case SetupOutcome::Kind::kCouldNotStart:
            return "setup could not start: system error " + std::to_string(outcome.code);
        case SetupOutcome::Kind::kPackageInvalid:
            return "package failed its check before the setup ran";
    }
    return "setup outcome unknown";
}

}  // namespace installer
