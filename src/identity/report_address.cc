// Building the statistics request address.
#include "identity/report_address.h"

#include <iterator>

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

constexpr std::string_view kReasonNames[kFailureReasonCount] = {
    "network", "proxy-login", "certificate", "server-refused", "damaged-package", "disk", "setup-exit-code",
};

}  // namespace

std::string_view FailureReasonName(FailureReason reason) {
    const auto index = static_cast<size_t>(reason);
    return index < std::size(kReasonNames) ? kReasonNames[index] : kReasonNames[0];
}

bool FailureReasonFromName(std::string_view name, FailureReason* reason) {
    for (size_t i = 0; i < std::size(kReasonNames); ++i) {
        if (kReasonNames[i] == name) {
            *reason = static_cast<FailureReason>(i);
            return true;
        }
    }
    return false;
}

bool ShouldSendReport(ReportType type, bool detailed_reports, bool* with_details) {
    *with_details = detailed_reports;
    return detailed_reports || type != ReportType::kFailed;
}

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
    if (const ReportDetails* details = fields.details) {
        if (details->has_reason) {
            const std::string_view name = FailureReasonName(details->reason);
            address.append(L"&reason=");
            address.append(name.begin(), name.end());
            if (details->reason == FailureReason::kSetupExitCode) {
                address.push_back(L'&');
                AppendParameter(address, L"code", Int64ToWide(details->exit_code));
            }
        }
        address.push_back(L'&');
        AppendParameter(address, L"secs", Int64ToWide(details->seconds));
        address.push_back(L'&');
        AppendParameter(address, L"bytes", Int64ToWide(details->bytes));
        address.push_back(L'&');
        AppendParameter(address, L"kept", Int64ToWide(details->blocks_kept));
        address.push_back(L'&');
        AppendParameter(address, L"mirrors", Int64ToWide(details->mirrors_tried));
    }
    return address;
}

}  // namespace installer
