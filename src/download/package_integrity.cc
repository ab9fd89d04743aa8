// Parsing of the whole-file keys and the streaming whole-file check.
#include "download/package_integrity.h"

#include <algorithm>
#include <memory>

namespace installer {
namespace {

// 19 digits always fit in int64_t; a package that large could not be downloaded anyway.
constexpr size_t kMaxSizeDigits = 19;

constexpr int32_t kChunk = 1 << 20;

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

}  // namespace

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

WholeFileCheck CheckWholeFile(const ReadAtFn& read_at, const PackageIntegrity& integrity) {
    if (!integrity.required) {
        return WholeFileCheck::kNotRequired;
    }
    if (!integrity.well_formed) {
        return WholeFileCheck::kMalformedKey;
    }
    auto buffer = std::make_unique<uint8_t[]>(kChunk);
    Sha256 sha;
    int64_t offset = 0;
    while (true) {
        int32_t want = kChunk;
        if (integrity.size) {
            // One byte beyond the expected end is enough to tell a longer file.
            want = static_cast<int32_t>(std::min<int64_t>(kChunk, *integrity.size + 1 - offset));
        }
        const int64_t n = read_at(offset, buffer.get(), want);
        if (n < 0 || n > want) {
            return WholeFileCheck::kReadError;
        }
        if (n == 0) {
            break;
        }
        sha.Update(buffer.get(), static_cast<size_t>(n));
        offset += n;
        if (integrity.size && offset > *integrity.size) {
            return WholeFileCheck::kSizeMismatch;
        }
    }
    if (integrity.size && offset != *integrity.size) {
        return WholeFileCheck::kSizeMismatch;
    }
    return sha.Final() == integrity.sha256 ? WholeFileCheck::kMatch : WholeFileCheck::kDigestMismatch;
}

}  // namespace installer
