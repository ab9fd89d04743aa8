// Parsing the partner identity and the home mode from the command-line argument.
#include "identity/partner_identity.h"

#include <cwctype>

namespace installer {
namespace {

constexpr size_t kTailChars = 49;  // the argument's tail is copied into 50 characters

// One "%d"-style conversion: blanks, an optional sign, at least one digit.
// Overflow wraps around as the C runtime's conversion does on this platform.
bool ScanNumber(std::wstring_view text, size_t& pos, uint64_t& magnitude, bool& negative) {
    while (pos < text.size() && std::iswspace(static_cast<wint_t>(text[pos]))) {
        ++pos;
    }
    negative = false;
    if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) {
        negative = text[pos] == L'-';
        ++pos;
    }
    const size_t first_digit = pos;
    magnitude = 0;
    while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9') {
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[pos] - L'0');
        ++pos;
    }
    return pos > first_digit;
}

bool ScanLiteral(std::wstring_view text, size_t& pos, wchar_t c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

void ScanPartnerNumbers(std::wstring_view text, int32_t& partner, int64_t& sub_partner) {
    partner = 0;
    sub_partner = 0;
    size_t pos = 0;
    uint64_t magnitude = 0;
    bool negative = false;
    if (!ScanLiteral(text, pos, L'_') || !ScanNumber(text, pos, magnitude, negative)) {
        return;
    }
    const auto p32 = static_cast<uint32_t>(magnitude);
    partner = static_cast<int32_t>(negative ? 0u - p32 : p32);
    if (!ScanLiteral(text, pos, L'_') || !ScanNumber(text, pos, magnitude, negative)) {
        return;
    }
    sub_partner = static_cast<int64_t>(negative ? 0u - magnitude : magnitude);
}

PartnerIdentity ParsePartnerArgument(std::wstring_view argument) {
    PartnerIdentity id;
    const size_t underscore = argument.find(L'_');
    if (underscore != std::wstring_view::npos) {
        ScanPartnerNumbers(argument.substr(underscore, kTailChars), id.partner, id.sub_partner);
    }
    id.home_mode = argument.find(L"homepg") != std::wstring_view::npos;
    return id;
}

namespace {
PartnerIdentity g_process_identity;
}  // namespace

const PartnerIdentity& ProcessIdentity() {
    return g_process_identity;
}

void SetProcessIdentity(const PartnerIdentity& identity) {
    g_process_identity = identity;
}

const wchar_t* InstanceMutexName(bool home_mode) {
    return home_mode ? L"Home_Name_quvimo" : L"Oem_Name_quvimo";
}

}  // namespace installer
