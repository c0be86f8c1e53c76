// The direct enumeration of groups against the literal subset descent, on many random layouts.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "catalogue/FeatureCalculator.h"
#include "simulation/RandomBars.h"
#include "tests/support/ReferenceDescent.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;

/// Whether every 6 × 6 window holds few enough bars for the reference descent.
bool sparseEnough(const std::vector<Bar>& bars, std::size_t limit) {
    for (const Bar& corner : bars) {
        std::size_t inWindow = 0;
        for (const Bar& other : bars)
            inWindow += other._position.x >= corner._position.x - 5 && other._position.x <= corner._position.x + 5 &&
                        other._position.y >= corner._position.y - 5 && other._position.y <= corner._position.y + 5;
        if (inWindow > limit) return false;
    }
    return true;
}

struct Layout {
    std::vector<Bar> bars;
    int width = 0, height = 0;
};

Layout randomSparseLayout(std::mt19937& random) {
    std::uniform_int_distribution<int> side(1, 13);
    std::uniform_real_distribution<double> density(0.05, 0.45);
    while (true) {
        Layout layout;
        layout.width = side(random);
        layout.height = side(random);
        layout.bars = Testing::randomLayout(random, layout.width, layout.height, density(random));
        // The reference's neighbourhood spans 11 × 11 cells; its windows 6 × 6, so this is generous.
        if (sparseEnough(layout.bars, 16)) return layout;
    }
}

Field fieldOf(const Layout& layout) {
    return Field(layout.bars, {static_cast<unsigned long>(layout.width), static_cast<unsigned long>(layout.height)});
}

void expectSameCatalogue(const FeatureCalculator& fast, const Reference::Catalogue& literal) {
    ASSERT_EQ(fast.features, literal.features);
    ASSERT_EQ(fast.featuresByKey.size(), literal.featuresByKey.size());
    for (const auto& [key, value] : literal.featuresByKey) {
        const auto found = fast.featuresByKey.find(key);
        ASSERT_NE(found, fast.featuresByKey.end());
        EXPECT_EQ(found->second.featureId, value.featureId);
        EXPECT_EQ(found->second.rotation, value.rotation);
    }
}

TEST(CatalogueEquivalence, CalculatorMatchesTheLiteralDescentGroupForGroup) {
    std::mt19937 random(2024);
    for (int round = 0; round < 150; ++round) {
        const Layout layout = randomSparseLayout(random);
        const Field field = fieldOf(layout);
        for (const bool largestOnly : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "round " << round << " largestOnly " << largestOnly);
            expectSameCatalogue(FeatureCalculator(field, largestOnly), Reference::catalogue(field, largestOnly));
            ASSERT_EQ(FeatureCalculator::getCombinationsForBarsOnGrid(layout.bars, largestOnly),
                      Reference::combinationsForBarsOnGrid(layout.bars, largestOnly));
        }
    }
}

TEST(CatalogueEquivalence, ObservedClustersWithWideGapsMatchTheLiteralField) {
    // Clusters of bars separated by gaps of 0 to 20 cells in both directions, the way bars observed
    // far apart arrive; the library shrinks the gaps, the reference keeps them.
    std::mt19937 random(99);
    std::uniform_int_distribution<int> clusters(1, 4), gap(0, 20), count(1, 7), origin(-50, 50);
    for (int round = 0; round < 150; ++round) {
        std::vector<Bar> bars;
        int x = origin(random), y = origin(random);
        const int clusterCount = clusters(random);
        for (int c = 0; c < clusterCount; ++c) {
            for (const Bar& b : Testing::randomBars(random, 4, 4, static_cast<std::size_t>(count(random)))) {
                const bool taken = std::any_of(bars.begin(), bars.end(), [&](const Bar& other) {
                    return other._position == LumetraMath::vector<int, 2>{b._position.x + x, b._position.y + y};
                });
                if (!taken) bars.push_back(Bar{{b._position.x + x, b._position.y + y}, b._properties});
            }
            x += gap(random) * (random() % 2 ? 1 : -1);
            y += gap(random) * (random() % 2 ? 1 : -1);
        }
        for (const bool largestOnly : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "round " << round << " largestOnly " << largestOnly);
            ASSERT_EQ(FeatureCalculator::getCombinationsForBarsOnGrid(bars, largestOnly),
                      Reference::combinationsForBarsOnGrid(bars, largestOnly));
        }
    }
}

TEST(CatalogueEquivalence, PotentialFeaturesMatchTheLiteralDescentWithFlags) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> properties(0, 255);
    for (int round = 0; round < 120; ++round) {
        const Layout layout = randomSparseLayout(random);
        const Field field = fieldOf(layout);
        for (const bool largestOnly : {false, true}) {
            const FeatureCalculator calculator(field, largestOnly);
            const Reference::Catalogue literal = Reference::catalogue(field, largestOnly);
            std::uniform_int_distribution<int> cx(-2, layout.width + 1), cy(-2, layout.height + 1);
            for (int candidateRound = 0; candidateRound < 6; ++candidateRound) {
                const Bar candidate{{cx(random), cy(random)}, static_cast<std::uint8_t>(properties(random))};
                const Field::BarsWithinAreaSearch search(field);
                const auto around = search.getBars({{candidate._position.x - 5, candidate._position.y - 5},
                                                    {candidate._position.x + 5, candidate._position.y + 5}});
                if (around.size() + 1 > Reference::largestList) continue;
                SCOPED_TRACE(::testing::Message() << "round " << round << " largestOnly " << largestOnly
                                                  << " candidate " << candidate._position.x << ","
                                                  << candidate._position.y);
                FeatureSet fastNew, fastMatched, literalNew, literalMatched;
                calculator.getPotentialFeatures(candidate, fastNew, fastMatched);
                Reference::potentialFeatures(literal, field, largestOnly, candidate, literalNew, literalMatched);
                ASSERT_EQ(fastNew, literalNew);
                ASSERT_EQ(fastMatched, literalMatched);
            }
        }
    }
}

TEST(CatalogueEquivalence, FirstCataloguedCombinationIsTheFirstOfTheWholeObservedCatalogue) {
    std::mt19937 random(29);
    std::uniform_real_distribution<double> density(0.1, 0.8);
    std::uniform_int_distribution<int> corner(0, 5), extent(1, 8);
    int found = 0;
    for (int round = 0; round < 120; ++round) {
        // Observed: the bars of a part of the layout, moved; every fourth round a foreign layout.
        const std::vector<Bar> layout = Testing::randomLayout(random, 12, 12, density(random));
        const FlatFeatureMap catalogue = FeatureCalculator::getFlatCombinationsForBarsOnGrid(
            round % 4 == 3 ? Testing::randomLayout(random, 12, 12, 0.3) : layout, false);
        const int x0 = corner(random), y0 = corner(random), x1 = x0 + extent(random), y1 = y0 + extent(random);
        std::vector<Bar> observed;
        for (const Bar& bar : layout)
            if (bar._position.x >= x0 && bar._position.x <= x1 && bar._position.y >= y0 && bar._position.y <= y1)
                observed.push_back(bar);
        observed = Testing::moved(observed, -100, 37);

        std::optional<FlatFeatureMap::Entry> expected;
        for (const FlatFeatureMap::Entry& entry : FeatureCalculator::getFlatCombinationsForBarsOnGrid(observed, true))
            if (catalogue.contains(entry.first)) {
                expected = entry;
                break;
            }
        EXPECT_EQ(FeatureCalculator::firstCataloguedCombination(observed, catalogue), expected) << "round " << round;
        found += expected.has_value();
    }
    EXPECT_GT(found, 40);
}

TEST(CatalogueEquivalence, InvalidatingMasksClearsExactlyTheSubMasks) {
    std::mt19937 random(3);
    for (int round = 0; round < 120; ++round) {
        const unsigned long count = 1 + random() % 12;
        std::vector<bool> fast(1ul << count, true);
        // Some flags already clear together with their sub-masks, as left by earlier calls.
        const unsigned long earlier = random() % (1ul << count);
        Reference::setCombinationInvalid(fast, earlier, count);
        std::vector<bool> literal = fast;
        const unsigned long mask = random() % (1ul << count);
        FeatureCalculator::setCombinationInvalid(fast, mask, count);
        Reference::setCombinationInvalid(literal, mask, count);
        ASSERT_EQ(fast, literal);
    }
}

}  // namespace
