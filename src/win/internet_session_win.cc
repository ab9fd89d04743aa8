// What every WinINet user of the installer shares.
#include "win/internet_session_win.h"

#include "win/module_path_win.h"

namespace installer::win {

std::wstring AgentName() {
    std::wstring name = ExecutablePath();
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.resize(dot);
    }
    return name.empty() ? std::wstring(L"installer") : name;
}

ScopedInternetHandle OpenInternetSession(DWORD flags) {
    // Read once and kept: nothing is freed between InternetOpenW and the caller's
    // GetLastError().
    static const std::wstring agent = AgentName();
    return ScopedInternetHandle(::InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, flags));
}

void SetInternetTimeouts(HINTERNET handle, DWORD connect_ms, DWORD send_receive_ms) {
    ::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect_ms, sizeof connect_ms);
    ::InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &send_receive_ms, sizeof send_receive_ms);
    ::InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &send_receive_ms, sizeof send_receive_ms);
}

std::optional<DWORD> QueryHeaderNumber(HINTERNET request, DWORD query) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!::HttpQueryInfoW(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr)) {
        return std::nullopt;
    }
    return value;
}

DWORD HttpStatus(HINTERNET request) {
    return QueryHeaderNumber(request, HTTP_QUERY_STATUS_CODE).value_or(0);
}

}  // namespace installer::win
