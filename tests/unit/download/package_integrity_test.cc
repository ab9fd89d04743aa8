// The whole-file keys and the whole-file check, alone and after the block check.
#include "download/package_integrity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "download/package_verify.h"
#include "identity/md5.h"

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
    return ParsePackageIntegrity(Sha256Hex(Sha256::Of(data.data(), data.size())),
                                 with_size ? std::optional<std::string>(std::to_string(data.size())) : std::nullopt);
}

TEST(PackageIntegrityKeys, WithoutDigestNothingIsRequired) {
    const PackageIntegrity none = ParsePackageIntegrity(std::nullopt, std::nullopt);
    EXPECT_FALSE(none.required);
    EXPECT_TRUE(none.well_formed);
    // A size alone changes nothing, even a malformed one: older descriptions keep working.
    const PackageIntegrity size_only = ParsePackageIntegrity(std::nullopt, std::string("nonsense"));
    EXPECT_FALSE(size_only.required);
    EXPECT_TRUE(size_only.well_formed);
    EXPECT_FALSE(size_only.size.has_value());
}

TEST(PackageIntegrityKeys, WellFormedKeys) {
    const std::string hex = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
    PackageIntegrity p = ParsePackageIntegrity(hex, std::string("5000000000"));  // beyond 32 bits
    EXPECT_TRUE(p.required && p.well_formed);
    EXPECT_EQ(p.sha256, Sha256::Of(nullptr, 0));
    ASSERT_TRUE(p.size.has_value());
    EXPECT_EQ(*p.size, 5000000000LL);
    p = ParsePackageIntegrity(" " + hex + "\t", std::string(" 0 "));
    EXPECT_TRUE(p.well_formed);
    EXPECT_EQ(p.size, 0);
    p = ParsePackageIntegrity(hex, std::nullopt);
    EXPECT_TRUE(p.required && p.well_formed);
    EXPECT_FALSE(p.size.has_value());
}

TEST(PackageIntegrityKeys, MalformedKeysCanNeverPass) {
    const std::string hex = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    for (const std::string& sha : {std::string(), hex.substr(1), hex + "0", "z" + hex.substr(1), hex.substr(0, 32)}) {
        const PackageIntegrity p = ParsePackageIntegrity(sha, std::nullopt);
        EXPECT_TRUE(p.required) << sha;
        EXPECT_FALSE(p.well_formed) << sha;
    }
    for (const std::string& size : {std::string(), std::string("-1"), std::string("+5"), std::string("0x10"),
                                    std::string("12a"), std::string("1 2"), std::string("99999999999999999999")}) {
        const PackageIntegrity p = ParsePackageIntegrity(hex, size);
        EXPECT_TRUE(p.required) << size;
        EXPECT_FALSE(p.well_formed) << size;
    }
    // A malformed key refuses even the file it would otherwise describe.
    const std::vector<uint8_t> empty;
    Reader reader{&empty};
    EXPECT_EQ(CheckWholeFile(reader.Fn(), ParsePackageIntegrity(hex, std::string("x"))), WholeFileCheck::kMalformedKey);
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
