// What a WinINet error code says about the server's TLS certificate.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace installer::win {

// True for every error that says the server's certificate cannot be trusted: an unknown
// authority, a wrong host name, out of date, revoked or otherwise invalid. Such a server is
// refused, never retried as if the network had failed and never asked again without the
// check.
inline bool IsCertificateError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            return true;
        default:
            return false;
    }
}

}  // namespace installer::win
