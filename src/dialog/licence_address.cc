// The licence link's address rule.
#include "dialog/licence_address.h"

namespace installer {
namespace {

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view lower_prefix) {
    if (text.size() < lower_prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < lower_prefix.size(); ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != lower_prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsWebAddress(std::wstring_view url) {
    size_t rest = 0;
    if (StartsWithIgnoringCase(url, L"http://")) {
        rest = 7;
    } else if (StartsWithIgnoringCase(url, L"https://")) {
        rest = 8;
    } else {
        return false;
    }
    for (const wchar_t c : url) {
        if (c <= L' ' || c == 0x7F || c == L'"') {
            return false;
        }
    }
    // A host must follow: "http:///x" or "http://" alone names none.
    return rest < url.size() && url[rest] != L'/' && url[rest] != L'\\' && url[rest] != L'?' && url[rest] != L'#';
}

}  // namespace installer
