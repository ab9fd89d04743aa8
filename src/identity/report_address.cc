// Building the statistics request address.
#include "identity/report_address.h"

#include "base/text.h"

namespace installer {
namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

void AppendParameter(std::wstring& out, std::wstring_view key, std::wstring_view value) {
    out.append(key);
    out.push_back(L'=');
    out.append(PercentEncodeQueryValue(value));
}

}  // namespace

std::wstring PercentEncodeQueryValue(std::wstring_view value) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    const std::string utf8 = WideToUtf8(value);
    std::wstring out;
    out.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c)) {
            out.push_back(static_cast<wchar_t>(c));
        } else {
            out.push_back(L'%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 0x0F]);
        }
    }
    return out;
}

std::wstring BuildReportAddress(std::wstring_view base, const ReportFields& fields) {
    std::wstring address = JoinServerAddress(base, L"/api/InstallData.ashx?");
    AppendParameter(address, L"partnerid", Int64ToWide(fields.partner));
    address.push_back(L'&');
    AppendParameter(address, L"partnersubid", Int64ToWide(fields.sub_partner));
    address.push_back(L'&');
    AppendParameter(address, L"mac", fields.mac);
    address.push_back(L'&');
    AppendParameter(address, L"phs", fields.serial);
    address.push_back(L'&');
    AppendParameter(address, L"type", Int64ToWide(fields.type));
    return address;
}

}  // namespace installer
