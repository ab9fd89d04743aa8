// Reading the statistics request's query, tolerant of the raw values older installers sent.
#include "report_request.h"

#include <charconv>
#include <optional>

#include "base/hex.h"
#include "identity/report_address.h"

namespace installer {
namespace {

constexpr std::string_view kReportPath = "/api/InstallData.ashx";

enum class Key { kNone, kPartner, kSubPartner, kMac, kSerial, kType, kReason, kSeconds, kBytes, kCount };

Key KeyOf(std::string_view name) {
    if (name == "partnerid") {
        return Key::kPartner;
    }
    if (name == "partnersubid") {
        return Key::kSubPartner;
    }
    if (name == "mac") {
        return Key::kMac;
    }
    if (name == "phs") {
        return Key::kSerial;
    }
    if (name == "type") {
        return Key::kType;
    }
    if (name == "reason") {
        return Key::kReason;
    }
    if (name == "secs") {
        return Key::kSeconds;
    }
    if (name == "bytes") {
        return Key::kBytes;
    }
    return Key::kNone;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        x = (x >= 'A' && x <= 'Z') ? static_cast<char>(x - 'A' + 'a') : x;
        y = (y >= 'A' && y <= 'Z') ? static_cast<char>(y - 'A' + 'a') : y;
        if (x != y) {
            return false;
        }
    }
    return true;
}

// The target of "METHOD target HTTP/x.y"; a target may hold spaces (raw serials), so
// the protocol is whatever follows the last space, if it looks like one.
std::string_view TargetOf(std::string_view request_line) {
    std::string_view target = request_line.substr(4);  // after "GET "
    const size_t last_space = target.rfind(' ');
    if (last_space != std::string_view::npos && target.substr(last_space + 1).starts_with("HTTP/")) {
        target = target.substr(0, last_space);
    }
    while (!target.empty() && target.back() == ' ') {
        target.remove_suffix(1);
    }
    // Absolute form, as a client sends it to a proxy.
    for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (target.size() > scheme.size() && EqualsIgnoringCase(target.substr(0, scheme.size()), scheme)) {
            const size_t path = target.find('/', scheme.size());
            target = path == std::string_view::npos ? std::string_view() : target.substr(path);
            break;
        }
    }
    return target;
}

template <typename Number>
std::optional<Number> DecimalValue(std::string_view encoded) {
    std::string decoded;  // numbers fit the string's own storage: no allocation
    std::string_view text = encoded;
    if (encoded.find('%') != std::string_view::npos) {
        PercentDecode(encoded, decoded);
        text = decoded;
    }
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

void DecodeInto(std::string_view encoded, std::string& out) {
    if (encoded.find('%') == std::string_view::npos) {
        out.assign(encoded);
    } else {
        PercentDecode(encoded, out);
    }
}

}  // namespace

void PercentDecode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
}

RequestKind ReadReportRequest(std::string_view request_line, InstallReport& report) {
    if (!request_line.starts_with("GET ")) {
        return RequestKind::kOtherRequest;
    }
    const std::string_view target = TargetOf(request_line);
    const size_t question = target.find('?');
    if (!EqualsIgnoringCase(target.substr(0, question), kReportPath)) {
        return RequestKind::kOtherRequest;
    }
    if (question == std::string_view::npos) {
        return RequestKind::kUnreadableReport;
    }
    const std::string_view query = target.substr(question + 1);

    constexpr auto kKeys = static_cast<size_t>(Key::kCount);
    std::string_view values[kKeys];  // by Key
    bool present[kKeys] = {};
    size_t serial_begin = 0;
    Key last = Key::kNone;
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t end = query.find('&', pos);
        if (end == std::string_view::npos) {
            end = query.size();
        }
        const std::string_view segment = query.substr(pos, end - pos);
        const size_t equals = segment.find('=');
        const Key key = equals == std::string_view::npos ? Key::kNone : KeyOf(segment.substr(0, equals));
        if (key != Key::kNone) {
            const auto k = static_cast<size_t>(key);
            values[k] = segment.substr(equals + 1);
            present[k] = true;
            if (key == Key::kSerial) {
                serial_begin = pos + equals + 1;
            }
            last = key;
        } else if (last == Key::kSerial) {
            // A raw serial with "&" in it: this piece is still the serial.
            values[static_cast<size_t>(Key::kSerial)] = query.substr(serial_begin, end - serial_begin);
        }
        pos = end + 1;
    }

    if (!present[static_cast<size_t>(Key::kPartner)] || !present[static_cast<size_t>(Key::kSubPartner)] ||
        !present[static_cast<size_t>(Key::kType)]) {
        return RequestKind::kUnreadableReport;
    }
    const auto partner = DecimalValue<int32_t>(values[static_cast<size_t>(Key::kPartner)]);
    const auto sub_partner = DecimalValue<int64_t>(values[static_cast<size_t>(Key::kSubPartner)]);
    const auto type = DecimalValue<int32_t>(values[static_cast<size_t>(Key::kType)]);
    if (!partner || !sub_partner || !type || *type < 0 || *type > 3) {
        return RequestKind::kUnreadableReport;
    }
    report.partner = *partner;
    report.sub_partner = *sub_partner;
    report.type = *type;
    DecodeInto(values[static_cast<size_t>(Key::kMac)], report.mac);
    DecodeInto(values[static_cast<size_t>(Key::kSerial)], report.serial);
    report.reason = -1;
    FailureReason reason;
    if (present[static_cast<size_t>(Key::kReason)] &&
        FailureReasonFromName(values[static_cast<size_t>(Key::kReason)], &reason)) {
        report.reason = static_cast<int32_t>(reason);
    }
    const auto seconds = present[static_cast<size_t>(Key::kSeconds)]
                             ? DecimalValue<int64_t>(values[static_cast<size_t>(Key::kSeconds)])
                             : std::nullopt;
    const auto bytes = present[static_cast<size_t>(Key::kBytes)]
                           ? DecimalValue<int64_t>(values[static_cast<size_t>(Key::kBytes)])
                           : std::nullopt;
    report.seconds = seconds && *seconds >= 0 ? *seconds : -1;
    report.bytes = bytes && *bytes >= 0 ? *bytes : -1;
    return RequestKind::kReport;
}

}  // namespace installer
