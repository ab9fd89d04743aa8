// Reading the package description with the weighted choice of the setup file.
#include "config/package_description.h"

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

namespace installer {
namespace {

constexpr int kRandRange = 32767;

// The description is at most 10,240 bytes, so it cannot name more files or mirrors
// than this; a larger count would only make us read defaults for millions of keys.
constexpr int kMaxListed = 1024;

// 19 digits always fit in int64_t; a package that large could not be downloaded anyway.
constexpr size_t kMaxSizeDigits = 19;

// The text without the blanks the INI reader may leave around a value.
std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<int64_t> ParseSize(std::string_view text) {
    if (text.empty() || text.size() > kMaxSizeDigits) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::wstring Numbered(const wchar_t* stem, int n) {
    return stem + std::to_wstring(n);
}

// A digest or number text as the ANSI bytes the conversion reads; any character
// outside ASCII cannot be a digit, so it becomes '?'.
std::string DigestTextBytes(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (wchar_t c : text) {
        bytes.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
    }
    return bytes;
}

// Text of `key`, or nullopt when the key is missing: the default is a line break,
// which no value in an INI file can hold.
std::optional<std::string> OptionalKeyBytes(const IProfileReader& ini,
                                            const std::wstring& section,
                                            const wchar_t* key) {
    const std::wstring text = ini.GetString(section, key, L"\n");
    if (text == L"\n") {
        return std::nullopt;
    }
    return DigestTextBytes(text);
}

}  // namespace

bool HasPackageFiles(const IProfileReader& ini) {
    return ini.GetInt(L"Info", L"FileCount", 0) > 0;
}

int ChooseWeightedFile(std::vector<double> weights, int draw) {
    double total = 0;
    for (double w : weights) {
        total += w;
    }
    for (double& w : weights) {
        w = w * kRandRange / total;
    }
    const double r = static_cast<double>(draw % kRandRange);
    double lower = 0;
    for (size_t i = 0; i < weights.size(); ++i) {
        const double upper = lower + weights[i];
        if (lower < r && upper > r) {
            return static_cast<int>(i);
        }
        lower = upper;
    }
    return 0;
}

PackageIntegrity ParsePackageIntegrity(const std::optional<std::string>& sha256_text,
                                       const std::optional<std::string>& size_text) {
    PackageIntegrity integrity;
    if (!sha256_text) {
        return integrity;
    }
    integrity.required = true;
    integrity.well_formed = ParseSha256Hex(Trimmed(*sha256_text), integrity.sha256);
    if (size_text) {
        integrity.size = ParseSize(Trimmed(*size_text));
        integrity.well_formed = integrity.well_formed && integrity.size.has_value();
    }
    return integrity;
}

PackageIntegrity ReadPackageIntegrity(const IProfileReader& ini, const std::wstring& section) {
    return ParsePackageIntegrity(OptionalKeyBytes(ini, section, L"FileSha256"),
                                 OptionalKeyBytes(ini, section, L"FileSize"));
}

PackageDescription ReadPackageDescription(const IProfileReader& ini, const RandomDraw& next_random) {
    std::vector<double> weights;
    const int file_count = std::min(ini.GetInt(L"Info", L"FileCount", 0), kMaxListed);
    for (int i = 0; i < file_count; ++i) {
        const std::wstring rate = ini.GetString(L"Info", Numbered(L"Rate", i), L"100");
        weights.push_back(std::wcstod(rate.c_str(), nullptr));
    }
    const int chosen = ChooseWeightedFile(std::move(weights), next_random());
    const std::wstring section = Numbered(L"File", chosen);

    PackageDescription d;
    d.title = ini.GetString(section, L"FileTitle", L"");
    d.licence_url = ini.GetString(section, L"DocUrl", L"");
    d.sub_dir = ini.GetString(section, L"FileDir", L"");

    // One block beyond the data model is enough for the download to refuse the table.
    const int block_count = std::min(ini.GetInt(section, L"BlockCount", 0), kMaxBlocks + 1);
    BlockInfo record;
    for (int i = 0; i < block_count; ++i) {
        record.index = i;
        record.size = ini.GetInt(section, Numbered(L"BlockSize", i), 0);
        const std::string hex = DigestTextBytes(ini.GetString(section, Numbered(L"Hash", i), L""));
        record.digest_valid = HexToBytes(hex, record.digest);
        d.blocks.push_back(record);
    }
    const int url_count = std::min(ini.GetInt(section, L"urlCount", 0), kMaxListed);
    for (int i = 0; i < url_count; ++i) {
        d.mirrors.push_back(ini.GetString(section, Numbered(L"url", i), L""));
    }
    d.integrity = ReadPackageIntegrity(ini, section);
    return d;
}

}  // namespace installer
