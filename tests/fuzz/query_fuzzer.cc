// Fuzzes the statistics query encoding: whatever text a disk serial or adapter holds,
// the request carries it as one query value that decodes back to the same text and can
// neither end the query nor add a parameter.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "fuzz_check.h"
#include "identity/report_address.h"

namespace installer {
namespace {

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

bool Unreserved(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' ||
           c == L'_' || c == L'~';
}

// Undoes the encoding, checking its form on the way: only unreserved characters and
// "%XX" with upper-case digits.
std::string Decode(const std::wstring& encoded) {
    std::string bytes;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == L'%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            const int high = HexValue(encoded[i + 1]);
            const int low = HexValue(encoded[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            const auto byte = static_cast<unsigned char>(high * 16 + low);
            FUZZ_CHECK(!Unreserved(static_cast<wchar_t>(byte)));  // never encoded needlessly
            bytes.push_back(static_cast<char>(byte));
            i += 2;
        } else {
            FUZZ_CHECK(Unreserved(encoded[i]));
            bytes.push_back(static_cast<char>(encoded[i]));
        }
    }
    return bytes;
}

void Run(const uint8_t* data, size_t size) {
    // The input as UTF-16 code units, as the text arrives on Windows (unpaired
    // surrogates included).
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    const std::wstring text = Utf16ToWide(units);
    const std::wstring encoded = PercentEncodeQueryValue(text);
    const std::string utf8 = Decode(encoded);
    FUZZ_CHECK(utf8 == WideToUtf8(text));
    FUZZ_CHECK(Utf8ToWide(utf8) == text);

    const size_t half = text.size() / 2;
    ReportFields fields;
    fields.partner = size > 0 ? static_cast<int32_t>(data[0]) - 128 : 0;
    fields.sub_partner = static_cast<int64_t>(size) * -1000003;
    fields.mac = std::wstring_view(text).substr(0, half);
    fields.serial = std::wstring_view(text).substr(half);
    fields.type = 2;
    const std::wstring address = BuildReportAddress(L"http://127.0.0.1:28080/", fields);
    const std::wstring prefix = L"http://127.0.0.1:28080/api/InstallData.ashx?";
    FUZZ_CHECK(address.compare(0, prefix.size(), prefix) == 0);
    const std::wstring query = address.substr(prefix.size());
    FUZZ_CHECK(query.find_first_of(L"?#/ ") == std::wstring::npos);
    // Exactly the five parameters, in order, each value decoding to what was given.
    const wchar_t* const names[] = {L"partnerid=", L"partnersubid=", L"mac=", L"phs=", L"type="};
    const std::wstring values[] = {Int64ToWide(fields.partner), Int64ToWide(fields.sub_partner),
                                   std::wstring(fields.mac), std::wstring(fields.serial), L"2"};
    size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        const size_t end = i < 4 ? query.find(L'&', start) : query.size();
        FUZZ_CHECK(end != std::wstring::npos);
        const std::wstring parameter = query.substr(start, end - start);
        const std::wstring name = names[i];
        FUZZ_CHECK(parameter.compare(0, name.size(), name) == 0);
        FUZZ_CHECK(Decode(parameter.substr(name.size())) == WideToUtf8(values[i]));
        start = end + 1;
    }
}

}  // namespace
}  // namespace installer

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    installer::Run(data, size);
    return 0;
}
