// Fetching the package description into the file beside the executable.
#include "app/config_download_win.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "build_settings.h"
#include "config/package_description.h"
#include "win/internet_handle_win.h"
#include "win/module_path_win.h"
#include "win/scoped_handle.h"

namespace installer {
namespace {

// Long enough for a slow server, short enough that a silent one cannot keep the
// user waiting without a word.
constexpr DWORD kTimeoutMs = 20000;

void ShowMessage(const std::wstring& text) {
    ::MessageBoxW(nullptr, text.c_str(), L"", MB_OK);
}

const wchar_t* DescriptionFileName(bool home_mode) {
    return home_mode ? L"home.ini" : L"info.ini";
}

const wchar_t* DescriptionUrlPath(bool home_mode) {
    return home_mode ? L"/oemini/home.ini" : L"/oemini/info.ini";
}

std::wstring AgentName() {
    std::wstring path = win::ExecutablePath();
    const size_t slash = path.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

void SetTimeouts(HINTERNET session) {
    DWORD timeout = kTimeoutMs;
    ::InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    ::InternetSetOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
    ::InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
}

enum class BodyRead { kWhole, kFailed, kTooLong };

// Reads the body to its end. More than `limit` bytes is kTooLong: the reading stops
// one byte past the limit, so an endless reply cannot fill the memory.
BodyRead ReadBody(HINTERNET request, std::string& body, DWORD limit) {
    constexpr DWORD kChunk = 64 * 1024;
    body.clear();
    while (body.size() <= limit) {
        const size_t start = body.size();
        const DWORD want = std::min<DWORD>(kChunk, limit + 1 - static_cast<DWORD>(start));
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
    ShowMessage(error == ERROR_INTERNET_TIMEOUT ? L"网络连接超时，请检查网络连接！"
                                                : L"网络故障！程序将关闭，请稍候继续安装。");
}

}  // namespace

std::wstring PackageDescriptionPath(bool home_mode) {
    return win::BesideExecutable(DescriptionFileName(home_mode));
}

std::wstring PackageDescriptionUrl(bool home_mode, int random_id) {
    return JoinServerAddress(kConfigServerBase, DescriptionUrlPath(home_mode)) + L"?id=" + std::to_wstring(random_id);
}

bool DownloadPackageDescription(bool home_mode, std::string& stored) {
    stored.clear();
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
    const std::wstring url = PackageDescriptionUrl(home_mode, std::rand() % 32767);

    win::ScopedInternetHandle session(
        ::InternetOpenW(AgentName().c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) {
        // Without a connection object there is no description to go on with.
        ShowNetworkFailure(::GetLastError());
        return false;
    }
    SetTimeouts(session.Get());

    win::ScopedInternetHandle request(
        ::InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0, INTERNET_FLAG_TRANSFER_ASCII, 1));
    if (!request) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_INTERNET_UNRECOGNIZED_SCHEME || error == ERROR_INTERNET_INVALID_URL) {
            ShowMessage(L"打开" + JoinServerAddress(kConfigServerBase, DescriptionUrlPath(home_mode)) + L"失败！");
            return false;
        }
        ShowNetworkFailure(error);
        return true;  // the empty file fails the FileCount check that follows
    }

    // One network read may return less than the body: read to its end.
    std::string body;
    switch (ReadBody(request.Get(), body, static_cast<DWORD>(kMaxDescriptionBytes))) {
        case BodyRead::kWhole:
            break;
        case BodyRead::kFailed:
            ShowNetworkFailure(::GetLastError());
            return true;  // a cut description must not pass for a whole one: nothing is stored
        case BodyRead::kTooLong:
            // Cutting it would lose mirrors or blocks; the publisher must see this.
            ShowMessage(L"配置文件超过 1 MB，不是有效的安装包描述，请联系软件发布者。");
            return false;
    }
    DWORD written = 0;
    if (!body.empty() && (!::WriteFile(file.Get(), body.data(), static_cast<DWORD>(body.size()), &written, nullptr) ||
                          written != body.size())) {
        ShowMessage(L"创建配置文件失败！");
        return false;
    }
    stored = std::move(body);
    return true;
}

}  // namespace installer
