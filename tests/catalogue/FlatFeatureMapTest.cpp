#include "catalogue/FlatFeatureMap.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "catalogue/Combination.h"
#include "catalogue/FeatureCalculator.h"
#include "catalogue/FeatureMapBuilder.h"
#include "simulation/RandomBars.h"
#include "tests/support/ReferenceDescent.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;
using Entry = FlatFeatureMap::Entry;

TEST(FlatFeatureMap, ReadsLikeTheOrderedMap) {
    const FlatFeatureMap map({Entry{3, {7}}, Entry{40, {1, 2}}, Entry{0xFFFFFFFF, {4, 3, 2, 1}}});
    ASSERT_EQ(map.size(), 3u);
    EXPECT_FALSE(map.empty());
    EXPECT_EQ(map.begin()->first, 3u);
    EXPECT_EQ(std::prev(map.end())->second.size(), 4u);
    EXPECT_EQ(std::prev(map.end())->second[0], 4ul);

    ASSERT_NE(map.find(40), map.end());
    EXPECT_EQ(map.find(40)->second, (FeatureBarIds{1, 2}));
    for (const unsigned long absent : {0ul, 4ul, 39ul, 41ul, 0xFFFFFFFEul, 0x1FFFFFFFFul, 0x100000003ul}) {
        EXPECT_EQ(map.find(absent), map.end()) << absent;
        EXPECT_FALSE(map.contains(absent)) << absent;
        EXPECT_EQ(map.count(absent), 0u) << absent;
    }
    EXPECT_EQ(map.count(0xFFFFFFFF), 1u);
    EXPECT_EQ(map.toFeatureMap(), (FeatureMap{{3, {7}}, {40, {1, 2}}, {0xFFFFFFFF, {4, 3, 2, 1}}}));

    const FlatFeatureMap empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.find(0), empty.end());
}

TEST(FlatFeatureMap, RefusesUnorderedKeysAndOverfullLists) {
    EXPECT_THROW(FlatFeatureMap({Entry{5, {0}}, Entry{4, {1}}}), std::invalid_argument);
    EXPECT_THROW(FlatFeatureMap({Entry{5, {0}}, Entry{5, {1}}}), std::invalid_argument);
    FeatureBarIds full{1, 2, 3, 4};
    EXPECT_THROW(full.push_back(5), std::length_error);
    EXPECT_EQ(full.size(), 4u);
}

TEST(FeatureMapBuilder, RefusesGroupsNoCatalogueHolds) {
    FeatureMapBuilder builder(3);
    const std::vector<Bar> five(5, Bar{});
    const std::vector<std::size_t> ids{0, 1, 2, 0, 1};
    EXPECT_THROW(builder.offer({}, {}), std::invalid_argument);
    EXPECT_THROW(builder.offer(five, ids), std::invalid_argument);
    const std::vector<Bar> wide{Bar{{0, 0}, 0}, Bar{{6, 0}, 1}};
    EXPECT_THROW(builder.offer(wide, std::span(ids).first(2)), std::invalid_argument);
    const std::vector<Bar> pair{Bar{{0, 0}, 0}, Bar{{1, 0}, 1}};
    const std::vector<std::size_t> unknown{0, 3};
    EXPECT_THROW(builder.offer(pair, unknown), std::invalid_argument);
    EXPECT_THROW(builder.offer(pair, std::span(ids).first(1)), std::invalid_argument);
    builder.offer(pair, std::span(ids).first(2));
    EXPECT_EQ(std::move(builder).build().size(), 4u);
}

void expectSameEntries(const FlatFeatureMap& flat, const FeatureMap& expected) {
    ASSERT_EQ(flat.size(), expected.size());
    auto wanted = expected.begin();
    for (const auto& [key, ids] : flat) {
        ASSERT_EQ(key, wanted->first);
        ASSERT_EQ(std::vector<unsigned long>(ids.begin(), ids.end()), wanted->second);
        ASSERT_EQ(flat.find(key)->second, ids);
        ++wanted;
    }
}

TEST(FlatCatalogue, EqualsTheLiteralDescentOnSparseLayouts) {
    std::mt19937 random(808);
    std::uniform_int_distribution<int> side(1, 12);
    std::uniform_real_distribution<double> density(0.05, 0.3);
    for (int round = 0; round < 40; ++round) {
        const auto bars = Testing::randomLayout(random, side(random), side(random), density(random));
        for (const bool largestOnly : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "round " << round << " largestOnly " << largestOnly);
            expectSameEntries(FeatureCalculator::getFlatCombinationsForBarsOnGrid(bars, largestOnly),
                              Reference::combinationsForBarsOnGrid(bars, largestOnly));
        }
    }
}

/// The catalogue as the calculator's registration lists it: its keys in ascending order, each with
/// the field indices of its feature's bars in the order of the key's turn.
FeatureMap registeredCatalogue(const std::vector<Bar>& bars, int side, bool largestOnly) {
    const Field field(bars, {static_cast<unsigned long>(side), static_cast<unsigned long>(side)});
    const FeatureCalculator calculator(field, largestOnly);
    FeatureMap result;
    for (const auto& [key, feature] : calculator.featuresByKey) {
        const std::vector<Bar>& featureBars = calculator.features[feature.featureId];
        if (featureBars.empty()) continue;
        std::vector<unsigned long>& ids = result[key];
        for (const Bar& bar : Combination(featureBars, feature.rotation).sourceBars)
            ids.push_back(static_cast<unsigned long>(field.barIdAt(bar._position)));
    }
    return result;
}

TEST(FlatCatalogue, EqualsTheRegisteredFeaturesOnDenseLayouts) {
    // Layouts too dense for the literal descent, as environments and observations have them.
    std::mt19937 random(909);
    for (const auto& [side, density] : {std::pair{14, 0.3}, std::pair{7, 0.5}}) {
        const auto bars = Testing::randomLayout(random, side, side, density);
        for (const bool largestOnly : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "side " << side << " largestOnly " << largestOnly);
            expectSameEntries(FeatureCalculator::getFlatCombinationsForBarsOnGrid(bars, largestOnly),
                              registeredCatalogue(bars, side, largestOnly));
        }
    }
}

}  // namespace
