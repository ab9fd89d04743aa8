// Sending the install statistics report over WinINet, bounded in time.
#include "identity/install_report_win.h"

#include <process.h>
#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/proxy_login.h"
#include "build_settings.h"
#include "identity/hardware_id_win.h"
#include "base/sha256.h"
#include "win/internet_handle_win.h"
#include "win/internet_session_win.h"
#include "win/support_log_win.h"
#include "win/proxy_prompt_win.h"

namespace installer {
namespace {

// A report refused by the system's proxy goes again with the login the user gave for this
// run, if any. A report never asks for one itself: it must not hold up or disturb anyone.
// True when the proxy refused it and no login was known yet.
bool SendAgainWithProxyLogin(HINTERNET request) {
    if (win::HttpStatus(request) != HTTP_STATUS_PROXY_AUTH_REQ) {
        return false;
    }
    const ProxyRetry login = ProcessProxyLogin().Current();
    if (!login.retry) {
        return true;
    }
    win::DrainBody(request);
    if (win::ApplyProxyLogin(request, login.credentials)) {
        ::HttpSendRequestW(request, nullptr, 0, nullptr, 0);
    }
    return false;
}

// Counts the report requests still running on their worker threads, so that the end of
// the process can wait for them.
class ReportsInFlight {
  public:
    void Add() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
    }
    void Done() {
        std::lock_guard<std::mutex> lock(mutex_);
        --count_;
        none_left_.notify_all();
    }
    bool WaitNone(std::chrono::milliseconds max_wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        return none_left_.wait_for(lock, max_wait, [this] { return count_ == 0; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable none_left_;
    int count_ = 0;
};

// Shared with every worker, which keeps it alive should the process's statics be
// destroyed while a request still runs.
const std::shared_ptr<ReportsInFlight>& InFlight() {
    static const std::shared_ptr<ReportsInFlight> in_flight = std::make_shared<ReportsInFlight>();
    return in_flight;
}

// Everything one report needs to be made, on any thread, at any time.
struct ReportRequest {
    std::wstring base;
    PartnerIdentity identity;
    int32_t type = 0;
    bool has_details = false;
    ReportDetails details;
};

// Reports that the system's proxy refused before any login was known, kept to go again
// once the user has given one (the start report comes before the description's download,
// which is where the user is asked).
class ReportsHeldForLogin {
  public:
    void Hold(ReportRequest request) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_.push_back(std::move(request));
    }
    std::vector<ReportRequest> TakeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(held_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<ReportRequest> held_;
};

// Shared with every worker, like InFlight().
const std::shared_ptr<ReportsHeldForLogin>& HeldForLogin() {
    static const std::shared_ptr<ReportsHeldForLogin> held = std::make_shared<ReportsHeldForLogin>();
    return held;
}

// One report in flight, shared by the caller and the worker that makes it: the
// caller may stop waiting, and the worker then finishes with its own copy of
// everything it needs.
struct PendingReport {
    ReportRequest request;

    std::shared_ptr<ReportsInFlight> in_flight;  // counted until the request ends
    std::shared_ptr<ReportsHeldForLogin> held_for_login;

    std::mutex mutex;
    std::condition_variable finished_signal;
    bool finished = false;
    ReportResult result;
};

// Reads the machine identity and makes the request; fills the result.
// The support log's line on one report: never the identity in clear, only its digests.
void LogReport(int32_t type, const ReportDetails* details, const MachineIdentity& machine, const ReportResult& result) {
    std::string line = "statistics report type " + std::to_string(type);
    if (details != nullptr && details->has_reason) {
        line += " (" + std::string(FailureReasonName(details->reason)) + ")";
    }
    line += ", adapter " + ShortDigest(machine.mac) + ", disk " + ShortDigest(machine.serial) + ": ";
    if (result.outcome == ReportOutcome::kAnswered) {
        line += "answered " + std::to_string(result.http_status);
    } else {
        line += "failed, error " + std::to_string(result.error);
    }
    win::LogEvent(line);
}

ReportResult MakeReportWith(const std::wstring& base,
                            const PartnerIdentity& identity,
                            int32_t type,
                            const ReportDetails* details,
                            const MachineIdentity& machine,
                            bool* wants_proxy_login) {
    ReportFields fields;
    fields.partner = identity.partner;
    fields.sub_partner = identity.sub_partner;
    fields.mac = machine.mac;
    fields.serial = machine.serial;
    fields.type = type;
    fields.details = details;

    ReportResult result;
    result.address = BuildReportAddress(base, fields);
    win::ScopedInternetHandle session = win::OpenInternetSession();
    if (!session) {
        result.error = ::GetLastError();
        return result;
    }
    win::SetInternetTimeouts(session.Get(), kReportTimeoutMs, kReportTimeoutMs);
    // Every report is counted by the server: never answer one from the cache.
    constexpr DWORD kFlags = INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                             INTERNET_FLAG_PRAGMA_NOCACHE;
    win::ScopedInternetHandle request(
        ::InternetOpenUrlW(session.Get(), result.address.c_str(), nullptr, 0, kFlags, /*dwContext=*/1));
    if (!request) {
        result.error = ::GetLastError();
        return result;
    }
    *wants_proxy_login = SendAgainWithProxyLogin(request.Get());
    if (const std::optional<DWORD> status = win::QueryHeaderNumber(request.Get(), HTTP_QUERY_STATUS_CODE)) {
        result.http_status = *status;
    }
    result.outcome = ReportOutcome::kAnswered;
    return result;
}

ReportResult MakeReport(const ReportRequest& request, bool* wants_proxy_login) {
    const ReportDetails* details = request.has_details ? &request.details : nullptr;
    const MachineIdentity machine = ReadMachineIdentity();
    ReportResult result =
        MakeReportWith(request.base, request.identity, request.type, details, machine, wants_proxy_login);
    LogReport(request.type, details, machine, result);
    return result;
}

void RunPendingReport(const std::shared_ptr<PendingReport>& pending) {
    ReportResult result;
    try {
        bool wants_proxy_login = false;
        result = MakeReport(pending->request, &wants_proxy_login);
        if (wants_proxy_login) {
            pending->held_for_login->Hold(pending->request);
            win::LogEvent("statistics report type " + std::to_string(pending->request.type) +
                          " kept: the proxy asks for a login not given yet");
            // The login may have come between the proxy's refusal and the hold, after the
            // window's thread last looked for kept reports: look once more, so none stays.
            SendReportsHeldForProxyLogin();
        }
    } catch (...) {
        result.outcome = ReportOutcome::kFailed;
        result.error = ERROR_OUTOFMEMORY;
    }
    {
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->result = std::move(result);
        pending->finished = true;
        pending->finished_signal.notify_all();
    }
    pending->in_flight->Done();
}

unsigned __stdcall ReportThreadProc(void* argument) {
    return SendInstallReport(reinterpret_cast<uintptr_t>(argument));
}

}  // namespace

MachineIdentity ReadMachineIdentity() {
    MachineIdentity machine;
    GetMacAddress(machine.mac);
    machine.serial = ReadDiskSerialText();
    return machine;
}

ReportResult SendReport(std::wstring_view base,
                        const PartnerIdentity& identity,
                        int32_t type,
                        DWORD wait_ms,
                        const ReportDetails* details) {
    ReportResult result;
    if (identity.home_mode) {
        result.outcome = ReportOutcome::kSkippedHomeMode;
        return result;
    }
    try {
        auto pending = std::make_shared<PendingReport>();
        pending->request.base = std::wstring(base);
        pending->request.identity = identity;
        pending->request.type = type;
        if (details != nullptr) {
            pending->request.has_details = true;
            pending->request.details = *details;
        }
        pending->in_flight = InFlight();
        pending->held_for_login = HeldForLogin();
        pending->in_flight->Add();
        try {
            std::thread([pending] { RunPendingReport(pending); }).detach();
        } catch (const std::system_error&) {
            // No thread to spare: make the request here, bounded by the session's
            // own timeouts only.
            RunPendingReport(pending);
        }
        std::unique_lock<std::mutex> lock(pending->mutex);
        if (!pending->finished_signal.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                               [&pending] { return pending->finished; })) {
            result.outcome = ReportOutcome::kAbandoned;
            return result;
        }
        return pending->result;
    } catch (...) {
        result.outcome = ReportOutcome::kFailed;
        result.error = ERROR_OUTOFMEMORY;
        return result;
    }
}

uint32_t SendInstallReport(uintptr_t type) {
    const PartnerIdentity& identity = ProcessIdentity();
    if (identity.home_mode) {
        return 0;
    }
    SendReportsHeldForProxyLogin();
    SendReport(kStatsServerBase, identity, static_cast<int32_t>(type), kReportWaitMs);
    return 0xFFFFFFFFu;
}

void SendDetailedInstallReport(ReportType type, const ReportDetails& details, DWORD wait_ms) {
    const PartnerIdentity& identity = ProcessIdentity();
    if (identity.home_mode) {
        return;
    }
    bool with_details = false;
    if (!ShouldSendReport(type, kDetailedReports, &with_details)) {
        return;
    }
    SendReportsHeldForProxyLogin();
    SendReport(kStatsServerBase, identity, static_cast<int32_t>(type), wait_ms, with_details ? &details : nullptr);
}

void SendReportsHeldForProxyLogin() {
    if (!ProcessProxyLogin().Current().retry) {
        return;  // kept until a login is known; none may ever be
    }
    for (const ReportRequest& held : HeldForLogin()->TakeAll()) {
        SendReport(held.base, held.identity, held.type, 0, held.has_details ? &held.details : nullptr);
    }
}

bool WaitForReportsInFlight(DWORD max_ms) {
    return InFlight()->WaitNone(std::chrono::milliseconds(max_ms));
}

bool StartInstallReportThread(ReportType type) {
    void* argument = reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<int32_t>(type)));
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, &ReportThreadProc, argument, 0, nullptr);
    if (thread == 0) {
        return false;
    }
    ::CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

}  // namespace installer
