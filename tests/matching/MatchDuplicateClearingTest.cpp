#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "matching/DuplicateClearing.h"

namespace {

using Lumetra::Vesk::Environment::MarkerIndex;
using Lumetra::Vesk::Environment::HorizontalGrid::clearDuplicateMarkers;

constexpr MarkerIndex cleared = 0xFFFFFFFF;
constexpr MarkerIndex notFound = 0xFFFFFFFE;

/// Every entry compared with every later one, in order: the definition the fast form must meet.
bool clearPairwise(std::vector<MarkerIndex>& entries) {
    bool collided = false;
    for (std::size_t j = 0; j + 1 < entries.size(); ++j) {
        if (entries[j] > 0xFFFFFFF0) continue;
        for (std::size_t k = j + 1; k < entries.size(); ++k)
            if (entries[j] == entries[k]) {
                entries[j] = entries[k] = cleared;
                collided = true;
            }
    }
    return collided;
}

TEST(DuplicateClearing, EqualEntriesCancelInPairsInOrder) {
    std::vector<MarkerIndex> two{4, 7, 4};
    EXPECT_TRUE(clearDuplicateMarkers(two));
    EXPECT_EQ(two, (std::vector<MarkerIndex>{cleared, 7, cleared}));

    std::vector<MarkerIndex> three{5, 5, 1, 5};
    EXPECT_TRUE(clearDuplicateMarkers(three));
    EXPECT_EQ(three, (std::vector<MarkerIndex>{cleared, cleared, 1, 5}));

    std::vector<MarkerIndex> four{9, 9, 9, 9};
    EXPECT_TRUE(clearDuplicateMarkers(four));
    EXPECT_EQ(four, (std::vector<MarkerIndex>(4, cleared)));
}

TEST(DuplicateClearing, StatusCodesNeverChangeNorCollide) {
    std::vector<MarkerIndex> entries{notFound, 3, notFound, cleared, cleared, 0xFFFFFFF0, 0xFFFFFFF1, 0xFFFFFFF1};
    const std::vector<MarkerIndex> before = entries;
    EXPECT_FALSE(clearDuplicateMarkers(entries));
    EXPECT_EQ(entries, before);

    std::vector<MarkerIndex> largest{0xFFFFFFF0, notFound, 0xFFFFFFF0};
    EXPECT_TRUE(clearDuplicateMarkers(largest));
    EXPECT_EQ(largest, (std::vector<MarkerIndex>{cleared, notFound, cleared}));
}

TEST(DuplicateClearing, EmptyAndSingleEntriesHaveNoCollision) {
    std::vector<MarkerIndex> none;
    EXPECT_FALSE(clearDuplicateMarkers(none));
    std::vector<MarkerIndex> one{2};
    EXPECT_FALSE(clearDuplicateMarkers(one));
    EXPECT_EQ(one.front(), 2u);
}

TEST(DuplicateClearing, MatchesThePairwiseDefinitionOnRandomEntries) {
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 2000; ++trial) {
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 40)(rng);
        const MarkerIndex range = std::uniform_int_distribution<MarkerIndex>(1, 30)(rng);
        std::vector<MarkerIndex> entries(size);
        for (MarkerIndex& entry : entries) {
            const MarkerIndex pick = std::uniform_int_distribution<MarkerIndex>(0, range + 3)(rng);
            entry = pick == range + 1 ? notFound : pick == range + 2 ? cleared : pick == range + 3 ? 0xFFFFFFF0 : pick;
        }
        std::vector<MarkerIndex> expected = entries;
        const bool expectedCollision = clearPairwise(expected);
        EXPECT_EQ(clearDuplicateMarkers(entries), expectedCollision);
        ASSERT_EQ(entries, expected) << "trial " << trial;
    }
}

}  // namespace
