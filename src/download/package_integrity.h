// The whole-file check of a finished package: its size and SHA-256 as the package
// description gives them ("FileSize", "FileSha256", read by config/package_description),
// read through any reader, e.g. the handle that keeps the package locked until it runs.
// Descriptions without the digest keep the block check alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "download/package_verify.h"
#include "base/sha256.h"

namespace installer {

// What the description says about the whole file.
struct PackageIntegrity {
    bool required = false;        // "FileSha256" is present: the whole file must match
    bool well_formed = true;      // false: a present key is malformed, so the package never passes
    Sha256Digest sha256{};        // "FileSha256", when required and well formed
    std::optional<int64_t> size;  // "FileSize", when present and well formed (only with the digest)
};

enum class WholeFileCheck {
    kNotRequired,     // no digest in the description: nothing to check
    kMatch,           // size (when given) and digest match
    kMalformedKey,    // a key was present but malformed
    kSizeMismatch,    // the file is shorter or longer than "FileSize"
    kDigestMismatch,  // the bytes do not have the digest
    kReadError,       // the reader failed
};

// Hashes the file from offset 0 to its end through `read_at` (to at most size + 1 bytes
// when a size is given, so a longer file is told without reading all of it) and compares.
WholeFileCheck CheckWholeFile(const ReadAtFn& read_at, const PackageIntegrity& integrity);

// True when the result lets the package run.
inline bool WholeFilePasses(WholeFileCheck result) {
    return result == WholeFileCheck::kNotRequired || result == WholeFileCheck::kMatch;
}

// True when the file's bytes themselves are wrong, so that the file must go: its blocks may
// each still match their MD5, and a later run would keep them all and fail the same way. A
// read error or a malformed key says nothing against the bytes and keeps the file.
inline bool PackageMustBeDiscarded(WholeFileCheck result) {
    return result == WholeFileCheck::kSizeMismatch || result == WholeFileCheck::kDigestMismatch;
}

}  // namespace installer
