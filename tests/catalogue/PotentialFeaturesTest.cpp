#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "catalogue/FeatureCalculator.h"
#include "simulation/RandomBars.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;

Bar bar(int x, int y, std::uint8_t rotation) { return Bar{{x, y}, rotation}; }

bool fitsInSixBySix(const std::vector<Bar>& group) {
    const auto [minX, maxX] = std::minmax_element(group.begin(), group.end(), [](const Bar& a, const Bar& b) {
        return a._position.x < b._position.x;
    });
    const auto [minY, maxY] = std::minmax_element(group.begin(), group.end(), [](const Bar& a, const Bar& b) {
        return a._position.y < b._position.y;
    });
    return maxX->_position.x - minX->_position.x < 6 && maxY->_position.y - minY->_position.y < 6;
}

TEST(FeaturesWithoutRepeats, ListsOnlyFeaturesStillUnique) {
    const Field repeated({bar(0, 0, 1), bar(8, 8, 1)}, {9, 9});
    EXPECT_TRUE(FeatureCalculator(repeated, false).getFeaturesWithoutRepeats().empty());

    const Field pair({bar(0, 0, 0), bar(1, 0, 1)}, {2, 1});
    EXPECT_EQ(FeatureCalculator(pair, false).getFeaturesWithoutRepeats(),
              (FeatureSet{{bar(0, 0, 0), bar(1, 0, 1)}}));
}

TEST(PotentialFeatures, ALoneCandidateAgainstTheSingleBarFeature) {
    const Bar candidate = bar(2, 2, 3);
    {  // nothing catalogued: the candidate alone is new
        const Field empty({10, 10});
        FeatureSet newFeatures, matched;
        FeatureCalculator(empty, false).getPotentialFeatures(candidate, newFeatures, matched);
        EXPECT_EQ(newFeatures, (FeatureSet{{candidate}}));
        EXPECT_TRUE(matched.empty());
    }
    {  // one bar far away is the unique single-bar feature
        const Field one({bar(9, 9, 1)}, {10, 10});
        FeatureSet newFeatures, matched;
        FeatureCalculator(one, false).getPotentialFeatures(candidate, newFeatures, matched);
        EXPECT_TRUE(newFeatures.empty());
        EXPECT_EQ(matched, (FeatureSet{{bar(9, 9, 1)}}));
    }
    {  // two far bars emptied the single-bar feature
        const Field two({bar(9, 9, 1), bar(9, 0, 0)}, {10, 10});
        FeatureSet newFeatures, matched;
        FeatureCalculator(two, false).getPotentialFeatures(candidate, newFeatures, matched);
        EXPECT_TRUE(newFeatures.empty());
        EXPECT_TRUE(matched.empty());
    }
}

TEST(PotentialFeatures, GroupsAroundTheCandidateHoldItAndFitTheWindow) {
    std::mt19937 random(8);
    for (int round = 0; round < 30; ++round) {
        const auto bars = Testing::randomLayout(random, 14, 14, 0.12);
        const Field field(bars, {14, 14});
        const FeatureCalculator calculator(field, round % 2 == 1);
        const Bar candidate = bar(static_cast<int>(random() % 14), static_cast<int>(random() % 14),
                                  static_cast<std::uint8_t>(random() % 4));
        FeatureSet newFeatures, matched;
        calculator.getPotentialFeatures(candidate, newFeatures, matched);
        const FeatureSet unique = calculator.getFeaturesWithoutRepeats();
        for (const auto& group : newFeatures) {
            EXPECT_TRUE(fitsInSixBySix(group));
            EXPECT_LE(group.size(), 4u);
            EXPECT_NE(std::find(group.begin(), group.end(), candidate), group.end());
        }
        for (const auto& feature : matched) EXPECT_TRUE(unique.contains(feature));

        // A second call adds nothing.
        const FeatureSet firstNew = newFeatures, firstMatched = matched;
        calculator.getPotentialFeatures(candidate, newFeatures, matched);
        EXPECT_EQ(newFeatures, firstNew);
        EXPECT_EQ(matched, firstMatched);
    }
}

TEST(PotentialFeatures, DenseNeighbourhoodOfAHundredAndTwentyOneBars) {
    // Far beyond any subset table: the groups are enumerated directly.
    std::vector<Bar> dense;
    for (int x = 0; x < 11; ++x)
        for (int y = 0; y < 11; ++y) dense.push_back(bar(x, y, static_cast<std::uint8_t>((x * x + 3 * y) % 4)));
    const Field field(dense, {11, 11});
    const FeatureCalculator calculator(field, false);
    const Bar candidate = bar(5, 5, 2);
    FeatureSet newFeatures, matched;
    calculator.getPotentialFeatures(candidate, newFeatures, matched);
    EXPECT_FALSE(newFeatures.empty());
    for (const auto& group : newFeatures) {
        EXPECT_TRUE(fitsInSixBySix(group));
        EXPECT_NE(std::find(group.begin(), group.end(), candidate), group.end());
    }
}

}  // namespace
