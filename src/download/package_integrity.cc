// The streaming whole-file check of a finished package.
#include "download/package_integrity.h"

#include <algorithm>
#include <memory>

namespace installer {
namespace {

constexpr int32_t kChunk = 1 << 20;

}  // namespace

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
