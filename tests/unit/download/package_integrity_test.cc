// The whole-file check, alone and after the block check.
#include "download/package_integrity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "download/package_verify.h"
#include "base/md5.h"

namespace installer {
namespace {

std::vector<uint8_t> Bytes(size_t size, uint8_t salt = 0) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i * 13 + i / 509 + salt);
    }
    return data;
}

std::vector<BlockInfo> Table(const std::vector<uint8_t>& data) {
    return BlockTableOf(data.data(), data.size());
}

// Reads from `data`, at most `chunk` bytes per call, and remembers how far it was asked to read.
struct Reader {
    const std::vector<uint8_t>* data;
    int32_t chunk = 1 << 30;
    bool fail = false;
    int64_t furthest = 0;

    ReadAtFn Fn() {
        return [this](int64_t offset, uint8_t* buffer, int32_t size) -> int64_t {
            if (fail) {
                return -1;
            }
            furthest = std::max(furthest, offset + size);
            if (offset >= static_cast<int64_t>(data->size())) {
                return 0;
            }
            const int64_t n = std::min<int64_t>({size, chunk, static_cast<int64_t>(data->size()) - offset});
            std::memcpy(buffer, data->data() + offset, static_cast<size_t>(n));
            return n;
        };
    }
};

PackageIntegrity Expect(const std::vector<uint8_t>& data, bool with_size) {
    PackageIntegrity integrity;
    integrity.required = true;
    integrity.sha256 = Sha256::Of(data.data(), data.size());
    if (with_size) {
        integrity.size = static_cast<int64_t>(data.size());
    }
    return integrity;
}

TEST(WholeFileCheck, MalformedKeysRefuseEvenTheFileTheyWouldDescribe) {
    PackageIntegrity malformed;
    malformed.required = true;
    malformed.well_formed = false;
    const std::vector<uint8_t> empty;
    Reader reader{&empty};
    EXPECT_EQ(CheckWholeFile(reader.Fn(), malformed), WholeFileCheck::kMalformedKey);
    EXPECT_FALSE(WholeFilePasses(WholeFileCheck::kMalformedKey));
}

TEST(WholeFileCheck, MatchingFilePassesWithAndWithoutSize) {
    const std::vector<uint8_t> data = Bytes(2'500'000);  // more than one read chunk
    for (bool with_size : {false, true}) {
        Reader reader{&data};
        EXPECT_EQ(CheckWholeFile(reader.Fn(), Expect(data, with_size)), WholeFileCheck::kMatch);
        // Short reads from the handle are followed to the end.
        Reader trickle{&data, 4093};
        EXPECT_EQ(CheckWholeFile(trickle.Fn(), Expect(data, with_size)), WholeFileCheck::kMatch);
    }
    Reader reader{&data};
    EXPECT_EQ(CheckWholeFile(reader.Fn(), PackageIntegrity{}), WholeFileCheck::kNotRequired);
    EXPECT_TRUE(WholeFilePasses(WholeFileCheck::kNotRequired));
}

TEST(WholeFileCheck, SizeAndDigestFaults) {
    const std::vector<uint8_t> data = Bytes(300'000);
    const PackageIntegrity expected = Expect(data, true);

    std::vector<uint8_t> longer = data;
    longer.push_back(0);
    Reader long_reader{&longer};
    EXPECT_EQ(CheckWholeFile(long_reader.Fn(), expected), WholeFileCheck::kSizeMismatch);
    EXPECT_LE(long_reader.furthest, static_cast<int64_t>(data.size()) + 1);  // never reads past what tells

    std::vector<uint8_t> huge = Bytes(5'000'000);
    Reader huge_reader{&huge};
    EXPECT_EQ(CheckWholeFile(huge_reader.Fn(), expected), WholeFileCheck::kSizeMismatch);
    EXPECT_LE(huge_reader.furthest, static_cast<int64_t>(data.size()) + 1);

    const std::vector<uint8_t> shorter(data.begin(), data.end() - 1);
    Reader short_reader{&shorter};
    EXPECT_EQ(CheckWholeFile(short_reader.Fn(), expected), WholeFileCheck::kSizeMismatch);

    std::vector<uint8_t> changed = data;
    changed[123'456] ^= 0x01;
    Reader changed_reader{&changed};
    EXPECT_EQ(CheckWholeFile(changed_reader.Fn(), expected), WholeFileCheck::kDigestMismatch);
    // Without a size the longer file is told by its digest.
    Reader long_again{&longer};
    EXPECT_EQ(CheckWholeFile(long_again.Fn(), Expect(data, false)), WholeFileCheck::kDigestMismatch);

    Reader failing{&data, 1 << 30, true};
    EXPECT_EQ(CheckWholeFile(failing.Fn(), expected), WholeFileCheck::kReadError);
    for (WholeFileCheck bad :
         {WholeFileCheck::kSizeMismatch, WholeFileCheck::kDigestMismatch, WholeFileCheck::kReadError}) {
        EXPECT_FALSE(WholeFilePasses(bad));
    }
    // Wrong bytes cost the file; a failed read or a malformed key says nothing against them.
    EXPECT_TRUE(PackageMustBeDiscarded(WholeFileCheck::kSizeMismatch));
    EXPECT_TRUE(PackageMustBeDiscarded(WholeFileCheck::kDigestMismatch));
    for (WholeFileCheck kept : {WholeFileCheck::kReadError, WholeFileCheck::kMalformedKey, WholeFileCheck::kMatch,
                                WholeFileCheck::kNotRequired}) {
        EXPECT_FALSE(PackageMustBeDiscarded(kept));
    }
}

TEST(WholeFileCheck, BlocksPassButTheWholeFileDoesNot) {
    // The description's blocks were taken from the file, its digest from another one of
    // the same size: every block verifies, the whole file does not.
    const std::vector<uint8_t> data = Bytes(3 * kBlockStride + 1000);
    const std::vector<uint8_t> other = Bytes(data.size(), 1);
    Reader reader{&data};
    EXPECT_TRUE(VerifyPackageBlocks(reader.Fn(), Table(data)));
    const WholeFileCheck result = CheckWholeFile(reader.Fn(), Expect(other, true));
    EXPECT_EQ(result, WholeFileCheck::kDigestMismatch);
    // Every block would be kept by the next run's scan: the file itself has to go.
    EXPECT_TRUE(PackageMustBeDiscarded(result));
    EXPECT_EQ(CheckWholeFile(reader.Fn(), Expect(data, true)), WholeFileCheck::kMatch);
}

}  // namespace
}  // namespace installer
