#include "environment/Scheme.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <stdexcept>

namespace {

using Lumetra::Vesk::Environment::HorizontalGrid::Scheme;

std::uint32_t bits(float value) { return std::bit_cast<std::uint32_t>(value); }

TEST(SchemeTable, HoldsTheThreeSchemesInOrderBitForBit) {
    const auto schemes = Scheme::getSchemes();
    ASSERT_EQ(schemes.size(), 3u);

    struct Expected {
        const char* name;
        std::uint32_t barLength, barSlope, barProportion, cellSize, offsetX;
        bool connectors, ceiling;
        std::uint32_t attribute0, attribute1;
    };
    const Expected expected[] = {
        {"yellow", 0x3F8953B8, 0xBD638EAF, 0x3EA046DC, 0x3F19999A, 0x3E99999A, true, false, 10, 8},
        {"ceiling", 0x3F5F0508, 0xBDCE8E26, 0x3ECCCCCD, 0x3F19999A, 0x3E99999A, false, true, 8, 0},
        {"truss", 0x3FA33333, 0x3D8EFA35, 0x3ECCCCCD, 0x3F19999A, 0x00000000, false, true, 10, 0},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const Scheme& scheme = schemes[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(scheme.name, e.name);
        EXPECT_EQ(bits(scheme.barLength), e.barLength);
        EXPECT_EQ(bits(scheme.barSlope), e.barSlope);
        EXPECT_EQ(bits(scheme.barProportion), e.barProportion);
        EXPECT_EQ(bits(scheme.cellSize), e.cellSize);
        EXPECT_EQ(bits(scheme.barOffset.x), e.offsetX);
        EXPECT_EQ(bits(scheme.barOffset.y), 0u);
        EXPECT_EQ(scheme.connectors, e.connectors);
        EXPECT_EQ(scheme.ceiling, e.ceiling);
        ASSERT_EQ(scheme.cellAttributes.size(), 3u);
        EXPECT_EQ(scheme.cellAttributes[0].value, e.attribute0);
        EXPECT_EQ(scheme.cellAttributes[1].value, e.attribute1);
        EXPECT_EQ(scheme.cellAttributes[2].value, 0u);
        EXPECT_EQ(scheme.cellMasks[0], (std::array<std::int32_t, 7>{}));
        EXPECT_EQ(scheme.cellMasks[6], (std::array<std::int32_t, 7>{}));
    }
    EXPECT_EQ(schemes[0].cellMasks[3], (std::array<std::int32_t, 7>{0, 1, 47, 31, 31, 47, 4}));
    EXPECT_EQ(schemes[1].cellMasks[2], (std::array<std::int32_t, 7>{0, 0, 0, 8, 8, 0, 0}));
    EXPECT_EQ(schemes[2].cellMasks[4], (std::array<std::int32_t, 7>{0, 0, 10, 10, 10, 0, 0}));
}

TEST(SchemeTable, EachCallBuildsAnIndependentTable) {
    auto first = Scheme::getSchemes();
    const auto second = Scheme::getSchemes();
    EXPECT_EQ(first, second);
    first[0].name = "changed";
    first[0].cellAttributes.clear();
    EXPECT_EQ(Scheme::getSchemes(), second);
}

TEST(SchemeLookup, MatchesNamesExactly) {
    ASSERT_TRUE(Scheme::findByName("truss"));
    EXPECT_EQ(Scheme::findByName("truss")->name, "truss");
    EXPECT_FALSE(Scheme::findByName("Yellow"));
    EXPECT_FALSE(Scheme::findByName("yellow "));
    EXPECT_FALSE(Scheme::findByName("yel"));
    EXPECT_FALSE(Scheme::findByName(""));
    try {
        Scheme::getByName("Yellow");
        FAIL() << "an unknown name was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "non-existent scheme name: Yellow");
    }
}

}  // namespace
