#include "catalogue/Combination.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <stdexcept>

#include "catalogue/GroupKey.h"
#include "simulation/RandomBars.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;

Bar bar(int x, int y, std::uint8_t properties) { return Bar{{x, y}, properties}; }

unsigned long keyOfBytes(std::initializer_list<unsigned long> bytes) {
    unsigned long key = 0, shift = 0;
    for (const unsigned long byte : bytes) {
        key |= byte << shift;
        shift += 8;
    }
    return key;
}

const std::vector<Bar> corner{bar(0, 0, 0), bar(1, 0, 1), bar(0, 1, 2)};

TEST(CombinationKey, WorkedCornerUnderAllFourTurns) {
    EXPECT_EQ(Combination(corner, 0).key, keyOfBytes({0, 5, 26}));
    EXPECT_EQ(Combination(corner, 0).key, 5ul * 256 + 26ul * 65536);
    EXPECT_EQ(Combination(corner, 2).key, keyOfBytes({4, 27, 30}));
    EXPECT_EQ(Combination(corner, 3).key, keyOfBytes({0, 27, 29}));

    const Combination turned(corner, 1);
    EXPECT_EQ(turned.key, keyOfBytes({3, 5, 30}));
    EXPECT_EQ(turned.bars, (std::vector<Bar>{bar(0, 0, 3), bar(1, 0, 1), bar(1, 1, 2)}));
    EXPECT_EQ(turned.order, (std::vector<unsigned long>{2, 0, 1}));
    EXPECT_EQ(turned.sourceBars, (std::vector<Bar>{corner[2], corner[0], corner[1]}));
}

TEST(CombinationKey, EmptyAndSingleBarGroups) {
    const Combination none({}, 3);
    EXPECT_EQ(none.key, 0u);
    EXPECT_TRUE(none.bars.empty() && none.sourceBars.empty() && none.order.empty());

    for (std::uint8_t rotation = 0; rotation < 4; ++rotation)
        for (int turn = 0; turn < 4; ++turn) {
            const Combination single({bar(-7, 12, rotation)}, turn);
            EXPECT_EQ(single.bars, (std::vector<Bar>{bar(0, 0, static_cast<std::uint8_t>((rotation + turn) % 4))}));
            EXPECT_EQ(single.key, static_cast<unsigned long>((rotation + turn) % 4));
        }
}

TEST(CombinationKey, UpperPropertyBitsStayOutOfTheKey) {
    const Combination marked({bar(4, 4, 0xF1), bar(5, 4, 0x80)}, 0);
    const Combination plain({bar(4, 4, 0x01), bar(5, 4, 0x00)}, 0);
    EXPECT_EQ(marked.key, plain.key);
    EXPECT_EQ(marked.bars, plain.bars);
    EXPECT_EQ(marked.sourceBars[0]._properties, 0xF1);
}

TEST(CombinationKey, MovingTheGroupKeepsBarsAndKey) {
    const auto movedCorner = Testing::moved(corner, -1000, 37);
    for (int turn = 0; turn < 4; ++turn) {
        const Combination here(corner, turn), there(movedCorner, turn);
        EXPECT_EQ(here.key, there.key);
        EXPECT_EQ(here.bars, there.bars);
        EXPECT_EQ(there.sourceBars[0], movedCorner[there.order[0]]);
    }
}

TEST(CombinationKey, ATurnedCopyHasTheTurnedKey) {
    // Q is the corner turned by one quarter turn and moved: its key under no turn is the corner's
    // key under one turn, with corresponding bars at equal places.
    std::vector<Bar> q;
    for (const Bar& b : corner) q.push_back(Combination::rotateBar(b, 1));
    q = Testing::moved(q, 20, 30);
    const Combination fromQ(q, 0), fromCorner(corner, 1);
    EXPECT_EQ(fromQ.key, fromCorner.key);
    EXPECT_EQ(fromQ.bars, fromCorner.bars);
    EXPECT_EQ(fromQ.order, fromCorner.order);
}

TEST(CombinationTurn, QuarterTurnsPointsAndBarRotations) {
    EXPECT_EQ(Combination::rotateBar(bar(2, 5, 0xFF), 1), bar(-5, 2, 0));
    EXPECT_EQ(Combination::rotateBar(bar(2, 5, 1), 2), bar(-2, -5, 3));
    EXPECT_EQ(Combination::rotateBar(bar(2, 5, 2), 3), bar(5, -2, 1));
    EXPECT_THROW(Combination::rotateBar(bar(0, 0, 0), 4), std::invalid_argument);
    EXPECT_THROW(Combination(corner, 4), std::invalid_argument);
    EXPECT_EQ(Combination(corner, 256 + 1).key, Combination(corner, 1).key);  // only the low byte counts
}

TEST(CombinationTurn, ExtremeCoordinatesWrapInsteadOfOverflowing) {
    const Combination far({bar(INT_MIN, INT_MAX, 0), bar(INT_MAX, INT_MIN, 1)}, 1);
    EXPECT_EQ(far.bars.size(), 2u);
    EXPECT_EQ(Combination::rotateBar(bar(INT_MIN, 0, 0), 2)._position.x, INT_MIN);
}

TEST(GroupKeyProperty, SmallGroupKeysEqualCombinationKeys) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> count(1, 4), coordinate(-3, 3), properties(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::vector<Bar> group;
        const int size = count(random);
        // Random cells, sometimes shared, sometimes far out.
        const int offset = round % 3 == 0 ? INT_MAX - 2 : 0;
        for (int k = 0; k < size; ++k)
            group.push_back(bar(coordinate(random) + (offset ? -3 : 0) + offset, coordinate(random),
                                static_cast<std::uint8_t>(properties(random))));
        for (unsigned turn = 0; turn < 4; ++turn) {
            const Combination combination(group, static_cast<int>(turn));
            const TurnedGroupKey fast = turnedGroupKey(group, turn);
            ASSERT_EQ(fast.key, combination.key);
            for (std::size_t k = 0; k < group.size(); ++k) ASSERT_EQ(fast.order[k], combination.order[k]);
        }
    }
}

TEST(GroupKeyProperty, AllTurnsAtOnceEqualTurnedGroupKeysWherever) {
    std::mt19937 random(12);
    std::uniform_int_distribution<int> count(1, 4), coordinate(0, 8), properties(0, 255);
    const int origins[] = {0, -100, INT_MIN, INT_MIN + 3, INT_MAX - 8};
    for (int round = 0; round < 4000; ++round) {
        // Cells near an origin, sometimes shared, sometimes spanning six cells or more.
        const int origin = origins[round % 5];
        // `near` is the same group away from the extremes, where turns cannot wrap.
        std::vector<Bar> group, near;
        const int size = count(random);
        for (int k = 0; k < size; ++k) {
            const int x = coordinate(random), y = coordinate(random);
            const Bar offset = bar(x, y, static_cast<std::uint8_t>(properties(random)));
            near.push_back(offset);
            group.push_back(bar(origin + offset._position.x, origin + offset._position.y, offset._properties));
        }
        GroupKeysAndOrders all;
        ASSERT_EQ(groupKeysAndOrders(group, all), fitsInFeatureWindow(group)) << "round " << round;
        if (!fitsInFeatureWindow(group)) continue;
        for (unsigned turn = 0; turn < 4; ++turn) {
            const TurnedGroupKey single = turnedGroupKey(near, turn);
            ASSERT_EQ(all.keys[turn], single.key) << "round " << round << " turn " << turn;
            for (std::size_t k = 0; k < group.size(); ++k) ASSERT_EQ(all.order(turn, k), single.order[k]);
        }
    }
}

}  // namespace
