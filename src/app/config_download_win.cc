// Fetching the package description into the file beside the executable.
#include "app/config_download_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/publisher_key_setting.h"
#include "app/serial_store_win.h"
#include "base/ini_file.h"
#include "base/text.h"
#include "build_settings.h"
#include "config/description_signature.h"
#include "config/package_description.h"
#include "config/publisher_key.h"
#include "config/signed_description.h"
#include "base/sha256.h"
#include "dialog/install_flow.h"
#include "win/code_page_win.h"
#include "win/ecdsa_verify_win.h"
#include "win/internet_error_win.h"
#include "win/internet_handle_win.h"
#include "win/internet_session_win.h"
#include "win/module_path_win.h"
#include "win/proxy_prompt_win.h"
#include "win/scoped_handle.h"
#include "win/support_log_win.h"

namespace installer {
namespace {

// Long enough for a slow server, short enough that a silent one cannot keep the
// user waiting without a word.
constexpr DWORD kTimeoutMs = 20000;

// The whole of one reply (the description or its signature) arrives within this, however
// the server paces it: a byte every 19 s would otherwise keep each read alive for ever.
constexpr ULONGLONG kReadDeadlineMs = 60000;

// The description and its signature are always asked of the server itself: a cached
// answer (one sent with a long Cache-Control, say) would pin a description for good.
constexpr DWORD kFreshAnswerFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;

void ShowMessage(const std::wstring& text) {
    win::LogFinal("outcome: stopped: " + WideToUtf8(text));
    ::MessageBoxW(nullptr, text.c_str(), L"", MB_OK);
}

const wchar_t* DescriptionFileName(bool home_mode) {
    return home_mode ? L"home.ini" : L"info.ini";
}

const wchar_t* DescriptionUrlPath(bool home_mode) {
    return home_mode ? L"/oemini/home.ini" : L"/oemini/info.ini";
}

enum class BodyRead { kWhole, kFailed, kTooLong };

// Reads the body to its end. More than `limit` bytes is kTooLong: the reading stops
// one byte past the limit, so an endless reply cannot fill the memory. A reply still
// incomplete kReadDeadlineMs after the call is kFailed with ERROR_INTERNET_TIMEOUT as the
// last error: each read may wait no longer than what is left of that time.
BodyRead ReadBody(HINTERNET request, std::string& body, DWORD limit) {
    constexpr DWORD kChunk = 64 * 1024;
    const ULONGLONG deadline = ::GetTickCount64() + kReadDeadlineMs;
    body.clear();
    while (body.size() <= limit) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            ::SetLastError(ERROR_INTERNET_TIMEOUT);
            return BodyRead::kFailed;
        }
        DWORD left = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kTimeoutMs));
        ::InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &left, sizeof(left));
        // A synchronous read waits until its whole buffer is filled, however slowly the bytes
        // come; asking first what has arrived keeps each read to that, so the deadline above
        // is looked at again after every trickle. 0 available is the end of the reply.
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(request, &available, 0, 0)) {
            return BodyRead::kFailed;
        }
        if (available == 0) {
            return BodyRead::kWhole;
        }
        const size_t start = body.size();
        const DWORD want = std::min<DWORD>({kChunk, available, limit + 1 - static_cast<DWORD>(start)});
        body.resize(start + want);
        DWORD n = 0;
        if (!::InternetReadFile(request, body.data() + start, want, &n)) {
            body.resize(start);
            return BodyRead::kFailed;
        }
        body.resize(start + n);
        if (n == 0) {
            return BodyRead::kWhole;
        }
    }
    return BodyRead::kTooLong;
}

void ShowNetworkFailure(DWORD error) {
    win::LogEvent("package description: network error " + std::to_string(error));
    if (win::IsCertificateError(error)) {
        // Not an outage, and never worked around: the server is not the one it claims to be.
        ShowMessage(kCertificateInvalidText);
        return;
    }
    ShowMessage(error == ERROR_INTERNET_TIMEOUT ? L"网络连接超时，请检查网络连接！"
                                                : L"网络故障！程序将关闭，请稍候继续安装。");
}

bool PublisherKeyBuiltIn() {
    return kPublisherKeyPem[0] != '\0';
}

constexpr wchar_t kSignatureMissing[] =
    L"无法取得安装包描述的发布者签名。为安全起见，安装已停止，请稍后重试或联系软件发布者。";
constexpr wchar_t kSignatureInvalid[] = L"安装包描述的发布者签名无效，可能已被篡改。为安全起见，安装已停止。";

enum class ProxyPass { kPassed, kGaveUp, kFailed };

// While the system's proxy answers 407, asks for its login (once per run: a login given
// before is sent without asking) and sends the request again with it. kGaveUp: the user
// cancelled or every try was refused (the message is shown); kFailed: sending failed, with
// `error` set.
ProxyPass PassProxy(HINTERNET request, DWORD& error) {
    uint64_t generation = 0;  // the first request went out without a login
    // Some proxies (tinyproxy) refuse a wrong login with 401 rather than 407; the
    // configuration server itself asks for no login.
    for (DWORD status = win::HttpStatus(request);
         status == HTTP_STATUS_PROXY_AUTH_REQ || (status == HTTP_STATUS_DENIED && generation > 0);
         status = win::HttpStatus(request)) {
        win::DrainBody(request);
        const ProxyRetry login = ProcessProxyLogin().Refused(generation, &win::AskProxyLogin);
        if (!login.retry || !win::ApplyProxyLogin(request, login.credentials)) {
            ShowMessage(kProxyLoginText);
            return ProxyPass::kGaveUp;
        }
        generation = login.generation;
        if (!::HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
            error = ::GetLastError();
            return ProxyPass::kFailed;
        }
    }
    return ProxyPass::kPassed;
}

enum class SignatureVerdict {
    kValid,
    kMismatch,  // a well-formed signature that does not verify over the bytes: nothing shown yet
    kStopped,   // any other failure: its message has been shown
};

// Fetches the detached signature beside the description and checks it over `body`, the
// very bytes that are then stored and read. Shows the message and returns kStopped when
// the signature is missing, unreadable or longer than any signature; returns kMismatch,
// without a message, when it is well formed but not the publisher's over `body`.
SignatureVerdict FetchAndVerifySignature(HINTERNET session, bool home_mode, int random_id, const std::string& body) {
    const std::wstring url =
        JoinServerAddress(kConfigServerBase, std::wstring(DescriptionUrlPath(home_mode)) + L".sig") + L"?id=" +
        std::to_wstring(random_id);
    // Asked for one byte more than any signature holds: a server that honours the range
    // sends no more, and one that ignores it is still read no further than that. (Closing a
    // request with a long body unread can make WinINet read the rest away.)
    const std::wstring range = L"Range: bytes=0-" + std::to_wstring(kMaxSignatureBytes) + L"\r\n";
    win::ScopedInternetHandle request(::InternetOpenUrlW(session, url.c_str(), range.c_str(),
                                                         static_cast<DWORD>(range.size()), kFreshAnswerFlags, 1));
    if (!request) {
        ShowNetworkFailure(::GetLastError());
        return SignatureVerdict::kStopped;
    }
    DWORD proxy_error = ERROR_SUCCESS;
    switch (PassProxy(request.Get(), proxy_error)) {
        case ProxyPass::kPassed:
            break;
        case ProxyPass::kGaveUp:
            return SignatureVerdict::kStopped;
        case ProxyPass::kFailed:
            ShowNetworkFailure(proxy_error);
            return SignatureVerdict::kStopped;
    }
    const DWORD status = win::HttpStatus(request.Get());
    if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) {
        ShowMessage(kSignatureMissing);
        return SignatureVerdict::kStopped;
    }
    // Bounded: a reply longer than any signature is refused without reading the rest.
    std::string signature_der;
    switch (ReadBody(request.Get(), signature_der, static_cast<DWORD>(kMaxSignatureBytes))) {
        case BodyRead::kWhole:
            break;
        case BodyRead::kFailed:
            ShowNetworkFailure(::GetLastError());
            return SignatureVerdict::kStopped;
        case BodyRead::kTooLong:
            ShowMessage(kSignatureInvalid);
            return SignatureVerdict::kStopped;
    }
    if (signature_der.empty()) {
        ShowMessage(kSignatureMissing);
        return SignatureVerdict::kStopped;
    }
    RawEcdsaP256Signature signature;
    if (!EcdsaSignatureFromDer(signature_der, signature)) {
        ShowMessage(kSignatureInvalid);
        return SignatureVerdict::kStopped;
    }
    std::vector<uint8_t> public_blob;
    if (!EcdsaP256PublicBlobFromPem(kPublisherKeyPem, public_blob)) {
        ShowMessage(L"安装程序内置的发布者公钥无效，无法校验安装包描述。请联系软件发布者。");
        return SignatureVerdict::kStopped;
    }
    const Sha256Digest digest = Sha256::Of(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    switch (win::VerifyEcdsaP256(public_blob, digest, signature)) {
        case win::SignatureCheck::kValid:
            return SignatureVerdict::kValid;
        case win::SignatureCheck::kInvalid:
            return SignatureVerdict::kMismatch;
        case win::SignatureCheck::kUnavailable:
            break;
    }
    ShowMessage(L"无法校验安装包描述的发布者签名（系统加密组件不可用），安装已停止。");
    return SignatureVerdict::kStopped;
}

CivilDate TodayUtc() {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    return CivilDate{now.wYear, now.wMonth, now.wDay};
}

// The rules a signed description must also meet, against this build and what this
// machine has accepted before. Shows the message and returns false when it does not meet
// them; `serial` receives its serial when it does.
bool AcceptSignedDescription(const IniFile& description, bool home_mode, int64_t& serial) {
    SignedDescriptionContext context;
    context.today = TodayUtc();
    context.product = std::wstring(kProductName);
    context.home_mode = home_mode;
    context.serial_floor = kDescriptionSerialFloor;
    context.highest_seen = HighestAcceptedSerial(home_mode);
    const SignedDescriptionResult result = CheckSignedDescription(description, context);
    serial = result.serial;
    switch (result.check) {
        case SignedDescriptionCheck::kAccepted:
            return true;
        case SignedDescriptionCheck::kModeMismatch:
            ShowMessage(L"安装包描述不是为此安装方式签发的（Mode）。为安全起见，安装已停止，请联系软件发布者。");
            return false;
        case SignedDescriptionCheck::kProductMismatch:
            ShowMessage(L"安装包描述不是为本产品签发的（Product）。为安全起见，安装已停止，请联系软件发布者。");
            return false;
        case SignedDescriptionCheck::kSerialMalformed:
            ShowMessage(L"安装包描述缺少有效的序号（Serial）。为安全起见，安装已停止，请联系软件发布者。");
            return false;
        case SignedDescriptionCheck::kSerialBelowFloor:
            ShowMessage(
                L"安装包描述的序号（Serial）低于本安装程序要求的最低序号，可能是旧的描述被重放。为安全起见，"
                L"安装已停止，请从软件发布者处获取最新的安装程序。");
            return false;
        case SignedDescriptionCheck::kSerialOlderThanSeen:
            ShowMessage(
                L"安装包描述比本机已接受过的更旧（Serial），可能是旧的描述被重放。为安全起见，安装已停止，"
                L"请稍后重试或联系软件发布者。");
            return false;
        case SignedDescriptionCheck::kExpiryMissing:
            ShowMessage(L"安装包描述缺少有效期（Expires）。为安全起见，安装已停止，请联系软件发布者。");
            return false;
        case SignedDescriptionCheck::kWholeFileKeysMissing:
            ShowMessage(
                L"安装包描述缺少文件大小或 SHA-256 "
                L"校验值（FileSize、FileSha256）。为安全起见，安装已停止，请联系软件发布者。");
            return false;
        case SignedDescriptionCheck::kExpiryMalformed:
            ShowMessage(L"安装包描述的有效期（Expires）不是有效的日期。为安全起见，安装已停止，请联系软件发布者。");
            return false;
        case SignedDescriptionCheck::kExpired:
            ShowMessage(L"安装包描述已过期。为安全起见，安装已停止，请从软件发布者处获取最新的安装程序。");
            return false;
    }
    return false;
}

enum class DescriptionFetch {
    kWhole,
    kNetworkFailure,  // message shown; start-up goes on to its FileCount check on nothing
    kStop,            // message shown; start-up stops at once
};

// Fetches the description at `url` into `body`, fresh from the server, at most 1 MiB.
DescriptionFetch FetchDescription(HINTERNET session, bool home_mode, const std::wstring& url, std::string& body) {
    win::ScopedInternetHandle request(
        ::InternetOpenUrlW(session, url.c_str(), nullptr, 0, INTERNET_FLAG_TRANSFER_ASCII | kFreshAnswerFlags, 1));
    if (!request) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_INTERNET_UNRECOGNIZED_SCHEME || error == ERROR_INTERNET_INVALID_URL) {
            ShowMessage(L"打开" + JoinServerAddress(kConfigServerBase, DescriptionUrlPath(home_mode)) + L"失败！");
            return DescriptionFetch::kStop;
        }
        ShowNetworkFailure(error);
        if (win::IsCertificateError(error)) {
            return DescriptionFetch::kStop;  // the certificate text says it all; no second message
        }
        return DescriptionFetch::kNetworkFailure;  // the empty file fails the FileCount check that follows
    }
    DWORD proxy_error = ERROR_SUCCESS;
    switch (PassProxy(request.Get(), proxy_error)) {
        case ProxyPass::kPassed:
            break;
        case ProxyPass::kGaveUp:
            return DescriptionFetch::kStop;
        case ProxyPass::kFailed:
            ShowNetworkFailure(proxy_error);
            return win::IsCertificateError(proxy_error) ? DescriptionFetch::kStop : DescriptionFetch::kNetworkFailure;
    }
    // One network read may return less than the body: read to its end.
    const BodyRead read = ReadBody(request.Get(), body, static_cast<DWORD>(kMaxDescriptionBytes));
    win::LogEvent("package description " + WideToUtf8(url) + ": status " +
                  std::to_string(win::HttpStatus(request.Get())) + ", " + std::to_string(body.size()) + " bytes");
    switch (read) {
        case BodyRead::kWhole:
            return DescriptionFetch::kWhole;
        case BodyRead::kFailed:
            ShowNetworkFailure(::GetLastError());
            return DescriptionFetch::kNetworkFailure;  // a cut description must not pass for a whole one
        case BodyRead::kTooLong:
            // Cutting it would lose mirrors or blocks; the publisher must see this.
            ShowMessage(L"配置文件超过 1 MB，不是有效的安装包描述，请联系软件发布者。");
            return DescriptionFetch::kStop;
    }
    return DescriptionFetch::kStop;
}

// With the publisher's key built in: checks `body` against its signature and the signed
// rules, and returns its serial in `serial`. A signature that does not match may be a
// publisher's upload caught between the description and its signature: the pair is then
// fetched once more, with a new number, and `body` replaced by the second description.
// Returns kWhole when the (perhaps new) body is to be used, with `parsed` its reading;
// otherwise its message is shown.
DescriptionFetch VerifySignedDescription(HINTERNET session,
                                         bool home_mode,
                                         int random_id,
                                         std::string& body,
                                         IniFile& parsed,
                                         int64_t& serial) {
    SignatureVerdict verdict = FetchAndVerifySignature(session, home_mode, random_id, body);
    if (verdict == SignatureVerdict::kMismatch) {
        const int second_id = std::rand() % 32767;
        const DescriptionFetch again =
            FetchDescription(session, home_mode, PackageDescriptionUrl(home_mode, second_id), body);
        if (again != DescriptionFetch::kWhole) {
            body.clear();
            return again;
        }
        verdict = FetchAndVerifySignature(session, home_mode, second_id, body);
    }
    switch (verdict) {
        case SignatureVerdict::kValid:
            parsed = IniFile::Parse(body, win::AnsiToWide);
            return AcceptSignedDescription(parsed, home_mode, serial) ? DescriptionFetch::kWhole
                                                                      : DescriptionFetch::kStop;
        case SignatureVerdict::kMismatch:
            ShowMessage(kSignatureInvalid);
            return DescriptionFetch::kStop;
        case SignatureVerdict::kStopped:
            break;
    }
    return DescriptionFetch::kStop;
}

}  // namespace

std::wstring PackageDescriptionPath(bool home_mode) {
    return win::BesideExecutable(DescriptionFileName(home_mode));
}

std::wstring PackageDescriptionUrl(bool home_mode, int random_id) {
    return JoinServerAddress(kConfigServerBase, DescriptionUrlPath(home_mode)) + L"?id=" + std::to_wstring(random_id);
}

bool DownloadPackageDescription(bool home_mode, std::string& stored, IniFile& description) {
    stored.clear();
    description = IniFile();
    const std::wstring path = PackageDescriptionPath(home_mode);

    // A read-only or hidden copy from an earlier run must not stop us replacing it.
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    win::ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ShowMessage(L"创建配置文件失败！");
        return false;
    }

    // The generator is not seeded yet: this is its first value after the default seed.
    const int random_id = std::rand() % 32767;
    const std::wstring url = PackageDescriptionUrl(home_mode, random_id);

    win::ScopedInternetHandle session = win::OpenInternetSession();
    if (!session) {
        // Without a connection object there is no description to go on with.
        ShowNetworkFailure(::GetLastError());
        return false;
    }
    win::SetInternetTimeouts(session.Get(), kTimeoutMs, kTimeoutMs);

    std::string body;
    const DescriptionFetch fetched = FetchDescription(session.Get(), home_mode, url, body);
    if (fetched != DescriptionFetch::kWhole) {
        return fetched == DescriptionFetch::kNetworkFailure;
    }
    // With the publisher's key built in, nothing unsigned is stored or read: the check runs
    // over these bytes in memory, and only bytes that passed it are written and parsed.
    int64_t serial = 0;
    IniFile parsed;
    if (PublisherKeyBuiltIn()) {
        const DescriptionFetch verified =
            VerifySignedDescription(session.Get(), home_mode, random_id, body, parsed, serial);
        if (verified != DescriptionFetch::kWhole) {
            return verified == DescriptionFetch::kNetworkFailure;
        }
    }
    win::LogEvent(PublisherKeyBuiltIn() ? "package description signature: verified"
                                        : "package description signature: not checked (no key built in)");
    DWORD written = 0;
    if (!body.empty() && (!::WriteFile(file.Get(), body.data(), static_cast<DWORD>(body.size()), &written, nullptr) ||
                          written != body.size())) {
        ShowMessage(L"创建配置文件失败！");
        return false;
    }
    if (PublisherKeyBuiltIn()) {
        RecordAcceptedSerial(home_mode, serial);
    } else {
        // Read in one pass, with the profile functions' rules, from the very bytes stored.
        parsed = IniFile::Parse(body, win::AnsiToWide);
    }
    stored = std::move(body);
    description = std::move(parsed);
    return true;
}

}  // namespace installer
