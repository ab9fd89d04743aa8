#include "dialog/licence_address.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(IsWebAddress, WebAddressesPass) {
    for (const wchar_t* url : {L"http://127.0.0.1/licence.html", L"https://example.com", L"HTTPS://Example.com/a?b=c#d",
                               L"http://example.com:8080/服务条款.html", L"Http://x"}) {
        EXPECT_TRUE(IsWebAddress(url)) << url;
    }
}

TEST(IsWebAddress, EverythingElseIsRefused) {
    for (const wchar_t* url : {L"",
                               L"C:\\Windows\\System32\\calc.exe",
                               L"calc.exe",
                               L"file:///C:/Windows/System32/calc.exe",
                               L"file://server/share/x.exe",
                               L"\\\\server\\share\\x.exe",
                               L"ftp://example.com/x",
                               L"javascript:alert(1)",
                               L"ms-settings:",
                               L"http:/example.com",
                               L"http://",
                               L"https:///etc",
                               L"http://\\host",
                               L" http://example.com",
                               L"http://example.com/a b",
                               L"http://example.com/\"x\"",
                               L"http://example.com/\t",
                               L"mailto:a@b.c",
                               L"httpx://example.com",
                               L"shell:startup"}) {
        EXPECT_FALSE(IsWebAddress(url)) << url;
    }
}

}  // namespace
}  // namespace installer
