// The flat set against the standard library's set, over values that collide, repeat
// and include the table's free-slot marker.
#include "distinct_set.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_set>

namespace installer {
namespace {

TEST(DistinctSet64, AgreesWithStdSetThroughGrowth) {
    DistinctSet64 set;
    std::unordered_set<uint64_t> reference;
    std::mt19937_64 random(14);
    for (int i = 0; i < 200000; ++i) {
        // Few distinct values at first, so repeats are common; then spread out. Multiples
        // of a large power of two all fall into the same slot without mixing.
        const uint64_t value = i % 3 == 0 ? (random() % 5000) << 40 : random() % (i + 1);
        ASSERT_EQ(set.Insert(value), reference.insert(value).second) << i;
    }
    EXPECT_EQ(set.size(), reference.size());
}

TEST(DistinctSet64, ZeroAndAllOnesAreValuesLikeAnyOther) {
    DistinctSet64 set;
    EXPECT_TRUE(set.Insert(0));
    EXPECT_FALSE(set.Insert(0));
    EXPECT_TRUE(set.Insert(~0ULL));
    EXPECT_FALSE(set.Insert(~0ULL));
    EXPECT_TRUE(set.Insert(1));
    EXPECT_EQ(set.size(), 3u);
}

}  // namespace
}  // namespace installer
