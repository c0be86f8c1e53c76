#include "catalogue/FeatureCalculator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>

#include "catalogue/Combination.h"
#include "simulation/RandomBars.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;

Bar bar(int x, int y, std::uint8_t rotation) { return Bar{{x, y}, rotation}; }

std::set<unsigned long> keysOf(const FeatureMap& features) {
    std::set<unsigned long> keys;
    for (const auto& entry : features) keys.insert(entry.first);
    return keys;
}

TEST(FeatureCatalogue, EmptyAndSingleBar) {
    EXPECT_TRUE(FeatureCalculator::getCombinationsForBarsOnGrid({}, false).empty());
    const FeatureMap single = FeatureCalculator::getCombinationsForBarsOnGrid({bar(3, -4, 2)}, false);
    EXPECT_EQ(single, (FeatureMap{{0, {0}}, {1, {0}}, {2, {0}}, {3, {0}}}));
}

TEST(FeatureCatalogue, SingleBarsRepeatOnceThereAreTwo) {
    const FeatureMap two = FeatureCalculator::getCombinationsForBarsOnGrid({bar(0, 0, 0), bar(1, 0, 1)}, false);
    ASSERT_EQ(two.size(), 4u);
    for (const auto& [key, indices] : two) EXPECT_EQ(indices.size(), 2u) << key;
    EXPECT_EQ(two.at(Combination({bar(0, 0, 0), bar(1, 0, 1)}, 0).key), (std::vector<unsigned long>{0, 1}));
}

TEST(FeatureCatalogue, HalfTurnSymmetricPairsAreNotFeatures) {
    EXPECT_TRUE(FeatureCalculator::getCombinationsForBarsOnGrid({bar(0, 0, 0), bar(1, 0, 2)}, false).empty());
}

TEST(FeatureCatalogue, BarsSixCellsApartNeverFormAGroup) {
    EXPECT_TRUE(FeatureCalculator::getCombinationsForBarsOnGrid({bar(0, 0, 0), bar(6, 0, 1)}, false).empty());
    EXPECT_TRUE(FeatureCalculator::getCombinationsForBarsOnGrid({bar(0, 0, 0), bar(2, 6, 1)}, false).empty());
    EXPECT_EQ(FeatureCalculator::getCombinationsForBarsOnGrid({bar(0, 0, 0), bar(5, 5, 1)}, false).size(), 4u);
}

TEST(FeatureCatalogue, IndicesFollowTheGivenOrderAndTheKeyTurn) {
    std::mt19937 random(17);
    const auto bars = Testing::randomLayout(random, 9, 9, 0.3);
    const FeatureMap original = FeatureCalculator::getCombinationsForBarsOnGrid(bars, false);
    ASSERT_FALSE(original.empty());

    std::vector<std::size_t> permutation(bars.size());
    std::iota(permutation.begin(), permutation.end(), 0u);
    std::shuffle(permutation.begin(), permutation.end(), random);
    std::vector<Bar> shuffled;
    for (const std::size_t from : permutation) shuffled.push_back(bars[from]);
    const FeatureMap reordered = FeatureCalculator::getCombinationsForBarsOnGrid(shuffled, false);

    ASSERT_EQ(keysOf(reordered), keysOf(original));
    for (const auto& [key, indices] : reordered) {
        const auto& expected = original.at(key);
        ASSERT_EQ(indices.size(), expected.size());
        for (std::size_t k = 0; k < indices.size(); ++k) EXPECT_EQ(permutation[indices[k]], expected[k]);
        // The listed bars, in order, are the places of the key's combination under its turn.
        std::vector<Bar> group;
        for (const unsigned long index : indices) group.push_back(shuffled[index]);
        std::vector<unsigned long> identity(group.size());
        std::iota(identity.begin(), identity.end(), 0ul);
        int turnsWithKey = 0;
        for (int turn = 0; turn < 4; ++turn) {
            const Combination combination(group, turn);
            if (combination.key != key) continue;
            ++turnsWithKey;
            EXPECT_EQ(combination.order, identity);
        }
        EXPECT_EQ(turnsWithKey, 1);
    }
}

TEST(FeatureCatalogue, MovingAllBarsChangesNothing) {
    std::mt19937 random(23);
    const auto bars = Testing::randomLayout(random, 8, 7, 0.35);
    for (const bool largestOnly : {false, true}) {
        const FeatureMap here = FeatureCalculator::getCombinationsForBarsOnGrid(bars, largestOnly);
        EXPECT_EQ(FeatureCalculator::getCombinationsForBarsOnGrid(Testing::moved(bars, -40, 1000), largestOnly), here);
        EXPECT_EQ(FeatureCalculator::getCombinationsForBarsOnGrid(Testing::moved(bars, INT_MAX - 8, INT_MIN), largestOnly),
                  here);
    }
}

TEST(FeatureCatalogue, BarsAtOppositeEndsOfTheCoordinateRange) {
    // Two far groups: each keeps its own features; the spans between them are never allocated.
    const std::vector<Bar> near{bar(0, 0, 0), bar(1, 0, 1), bar(0, 2, 3)};
    std::vector<Bar> both = Testing::moved(near, INT_MIN, INT_MIN);
    for (const Bar& b : Testing::moved(near, INT_MAX - 2, INT_MAX - 2)) both.push_back(b);
    const FeatureMap far = FeatureCalculator::getCombinationsForBarsOnGrid(both, false);
    std::vector<Bar> close = near;
    for (const Bar& b : Testing::moved(near, 10, 10)) close.push_back(b);
    EXPECT_EQ(far, FeatureCalculator::getCombinationsForBarsOnGrid(close, false));
}

TEST(FeatureCatalogue, LargestOnlyKeepsFourBarGroupsWhenFiveOrMoreFit) {
    std::mt19937 random(31);
    for (int round = 0; round < 20; ++round) {
        const auto bars = Testing::randomBars(random, 6, 6, 5 + static_cast<std::size_t>(round % 6));
        const FeatureMap largest = FeatureCalculator::getCombinationsForBarsOnGrid(bars, true);
        for (const auto& entry : largest) EXPECT_EQ(entry.second.size(), 4u);
    }
    // Fewer than five: the whole group.
    const FeatureMap three = FeatureCalculator::getCombinationsForBarsOnGrid({bar(0, 0, 0), bar(1, 0, 1), bar(0, 1, 2)}, true);
    ASSERT_EQ(three.size(), 4u);
    for (const auto& entry : three) EXPECT_EQ(entry.second.size(), 3u);
}

TEST(FeatureCatalogue, ObservedFeatureKeysPairItsBarsWithTheField) {
    // Observe a piece of the field turned by each quarter turn and moved: wherever the observation's
    // key is catalogued, place k of both lists names the same field bar.
    std::mt19937 random(41);
    const auto fieldBars = Testing::randomLayout(random, 12, 12, 0.3);
    const FeatureMap catalogue = FeatureCalculator::getCombinationsForBarsOnGrid(fieldBars, false);
    std::size_t paired = 0;
    for (unsigned char turn = 0; turn < 4; ++turn) {
        for (int corner = 0; corner < 8; corner += 2) {
            std::vector<Bar> observed;
            std::vector<unsigned long> fieldIndexOf;
            for (std::size_t i = 0; i < fieldBars.size(); ++i) {
                const auto [x, y] = fieldBars[i]._position;
                if (x < corner || x >= corner + 5 || y < corner || y >= corner + 5) continue;
                Bar seen = Combination::rotateBar(fieldBars[i], turn);
                seen._position = {seen._position.x + 100, seen._position.y - 30};
                observed.push_back(seen);
                fieldIndexOf.push_back(i);
            }
            for (const auto& [key, indices] : FeatureCalculator::getCombinationsForBarsOnGrid(observed, true)) {
                const auto found = catalogue.find(key);
                if (found == catalogue.end()) continue;
                ASSERT_EQ(found->second.size(), indices.size());
                for (std::size_t k = 0; k < indices.size(); ++k) EXPECT_EQ(fieldIndexOf[indices[k]], found->second[k]);
                ++paired;
            }
        }
    }
    EXPECT_GT(paired, 0u);
}

TEST(FeatureCalculatorMembers, RegistrationRecordsKeysAndEmptiesRepeats) {
    const Field field;
    FeatureCalculator calculator(field, false);
    const std::vector<Bar> corner{bar(0, 0, 0), bar(1, 0, 1), bar(0, 1, 2)};
    EXPECT_TRUE(calculator.registerCombination(corner));
    ASSERT_EQ(calculator.features.size(), 1u);
    EXPECT_EQ(calculator.features[0], (std::vector<Bar>{bar(0, 0, 0), bar(0, 1, 2), bar(1, 0, 1)}));
    ASSERT_EQ(calculator.featuresByKey.size(), 4u);
    for (int turn = 0; turn < 4; ++turn) {
        const auto& entry = calculator.featuresByKey.at(Combination(corner, turn).key);
        EXPECT_EQ(entry.featureId, 0u);
        EXPECT_EQ(entry.rotation, turn);
    }

    // Ignored: empty, too many bars, too wide, turn-symmetric.
    EXPECT_TRUE(calculator.registerCombination({}));
    EXPECT_TRUE(calculator.registerCombination({bar(0, 0, 0), bar(1, 0, 0), bar(2, 0, 0), bar(3, 0, 0), bar(4, 0, 0)}));
    EXPECT_TRUE(calculator.registerCombination({bar(0, 0, 0), bar(6, 0, 1)}));
    EXPECT_TRUE(calculator.registerCombination({bar(0, 0, 0), bar(1, 0, 2)}));
    EXPECT_EQ(calculator.features.size(), 1u);
    EXPECT_EQ(calculator.featuresByKey.size(), 4u);

    // A turned, moved copy empties the first for good; its keys stay.
    std::vector<Bar> copy;
    for (const Bar& b : corner) copy.push_back(Combination::rotateBar(b, 3));
    EXPECT_TRUE(calculator.registerCombination(Testing::moved(copy, 9, 9)));
    EXPECT_EQ(calculator.features.size(), 1u);
    EXPECT_TRUE(calculator.features[0].empty());
    EXPECT_EQ(calculator.featuresByKey.size(), 4u);
    EXPECT_TRUE(calculator.getFeaturesWithoutRepeats().empty());
}

TEST(FeatureCalculatorMembers, InvalidatingAMaskWithoutAFlagIsRefused) {
    std::vector<bool> flags(8, true);
    EXPECT_THROW(FeatureCalculator::setCombinationInvalid(flags, 8, 3), std::out_of_range);
    FeatureCalculator::setCombinationInvalid(flags, 5, 3);
    EXPECT_EQ(flags, (std::vector<bool>{false, false, true, true, false, false, true, true}));
}

TEST(CatalogueWorkLimit, DenseLayoutsStopWithAClearError) {
    std::vector<Bar> dense;
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y) dense.push_back(bar(x, y, static_cast<std::uint8_t>((x * 7 + y * 3) % 4)));
    try {
        FeatureCalculator::getCombinationsForBarsOnGrid(dense, false, 1000);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(),
                     "environment too complex: its feature catalogue would examine more than 1000 bar groups");
    }
    const Field field(dense, {8, 8});
    EXPECT_THROW(FeatureCalculator(field, false, 1000), std::runtime_error);
    // Enough room: the same result as without a limit.
    const std::vector<Bar> few{bar(0, 0, 0), bar(1, 0, 1), bar(0, 1, 2)};
    EXPECT_EQ(FeatureCalculator::getCombinationsForBarsOnGrid(few, false, 7),
              FeatureCalculator::getCombinationsForBarsOnGrid(few, false));
    EXPECT_THROW(FeatureCalculator::getCombinationsForBarsOnGrid(few, false, 6), std::runtime_error);
}

}  // namespace
