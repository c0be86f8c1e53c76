// Environment codes turned into environments by the loaded library, as a host sees them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "tests/support/RefusedCodeTest.h"

namespace Lumetra::Testing {
namespace {

using LumetraTest::EnvironmentDescription;
using Vesk::Environment::HorizontalGrid::Bar;

// Version 2, "truss", 3 × 2 cells, ceiling at 2.5, bars (1, 0) turned twice and (2, 1) unturned.
const std::string trussCode = "AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAgEAAgIBAA==";
const std::vector<std::uint8_t> trussRecord{0x02, 0x05, 0x74, 0x72, 0x75, 0x73, 0x73, 0x03, 0x02, 0x33, 0x33, 0xA3,
                                            0x3F, 0xCD, 0xCC, 0xCC, 0x3E, 0x35, 0xFA, 0x8E, 0x3D, 0x00, 0x00, 0x00,
                                            0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x20, 0x40, 0x9A, 0x99,
                                            0x19, 0x3F, 0x00, 0x02, 0x01, 0x00, 0x02, 0x02, 0x01, 0x00};
// Version 0, scheme "yellow", 4 × 3 cells, one bar at (2, 1) turned once.
const std::string yellowCode = "AAZ5ZWxsb3cEAwECAQE=";

Bar bar(int x, int y, int rotation) { return Bar{{x, y}, static_cast<std::uint8_t>(rotation)}; }

// Simple numbers: bar length 1, middle marker at a quarter, level bars shifted by (0.1, −0.05)
// in cells of 0.5 on a 2 × 2 floor grid at height 1.5, one bar in each rotation.
EnvironmentDescription shiftedBars() {
    EnvironmentDescription description;
    description.schemeName = "test";
    description.size = {2, 2};
    description.barLength = 1.0f;
    description.barProportion = 0.25f;
    description.barSlope = 0.0f;
    description.barOffset = {0.1f, -0.05f};
    description.ceiling = false;
    description.height = 1.5f;
    description.cellSize = 0.5f;
    description.bars = {bar(0, 0, 1), bar(1, 0, 3), bar(1, 1, 2), bar(0, 1, 0)};
    return description;
}

void expectMarkers(const std::vector<Vector3>& actual, const std::vector<Vector3>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i].x, expected[i].x, 2e-6f) << "marker " << i;
        EXPECT_EQ(actual[i].y, expected[i].y) << "marker " << i;
        EXPECT_NEAR(actual[i].z, expected[i].z, 2e-6f) << "marker " << i;
    }
}

class EnvironmentCode : public RefusedCodeTest {
protected:
    void expectFailure(const std::string& code, const std::string& message) {
        const CallFailed failure = failureOf(code);
        EXPECT_EQ(failure.code, ExceptionCode::Failed) << code;
        EXPECT_EQ(failure.message, message) << code;
    }
};

TEST_F(EnvironmentCode, TrussExampleGivesItsMarkersUnderACeiling) {
    const InterfacePtr<IEnvironment> environment = host.createEnvironment(trussCode);
    expectMarkers(getMarkers(*environment), {{0.6359471f, 2.5f, -0.2555303f},
                                             {0.1271894f, 2.5f, -0.2911061f},
                                             {-0.6359471f, 2.5f, -0.3444698f},
                                             {-0.0359470f, 2.5f, 0.2555303f},
                                             {0.4728106f, 2.5f, 0.2911061f},
                                             {1.2359471f, 2.5f, 0.3444698f}});
    EXPECT_FALSE(isMutable(*environment));
    // Under a ceiling a ray is kept when it does not point against the reference.
    EXPECT_TRUE(filterRay(*environment, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}));
    EXPECT_TRUE(filterRay(*environment, {0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}));
    EXPECT_FALSE(filterRay(*environment, {0.0f, -1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}));
}

TEST_F(EnvironmentCode, VersionZeroYellowExampleTakesTheSchemeGeometryOnTheFloor) {
    const InterfacePtr<IEnvironment> environment = host.createEnvironment(yellowCode);
    expectMarkers(getMarkers(*environment),
                  {{0.2702132f, 0.0f, -0.2356061f}, {0.2888622f, 0.0f, 0.0997268f}, {0.3297868f, 0.0f, 0.8356061f}});
    EXPECT_FALSE(isMutable(*environment));
    EXPECT_FALSE(filterRay(*environment, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}));
    EXPECT_FALSE(filterRay(*environment, {0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}));
    EXPECT_TRUE(filterRay(*environment, {0.0f, -1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}));
}

TEST_F(EnvironmentCode, EveryRotationAndTheBarOffsetPlaceTheMarkers) {
    for (unsigned version : {1u, 2u}) {
        const InterfacePtr<IEnvironment> environment =
            host.createEnvironment(LumetraTest::writeEnvironmentCode(shiftedBars(), version));
        expectMarkers(getMarkers(*environment), {{-0.2f, 1.5f, -0.65f},
                                                 {-0.2f, 1.5f, -0.4f},
                                                 {-0.2f, 1.5f, 0.35f},  // (0, 0), one quarter turn
                                                 {0.2f, 1.5f, 0.15f},
                                                 {0.2f, 1.5f, -0.1f},
                                                 {0.2f, 1.5f, -0.85f},  // (1, 0), three quarter turns
                                                 {0.65f, 1.5f, 0.3f},
                                                 {0.4f, 1.5f, 0.3f},
                                                 {-0.35f, 1.5f, 0.3f},  // (1, 1), half a turn
                                                 {-0.65f, 1.5f, 0.2f},
                                                 {-0.4f, 1.5f, 0.2f},
                                                 {0.35f, 1.5f, 0.2f}});  // (0, 1), unturned
    }
}

TEST_F(EnvironmentCode, DecodingFailuresReportTheirMessages) {
    expectFailure("", "LumetraSerialization error buf != nullptr");
    expectFailure("Q===", "LumetraSerialization error buf != nullptr");
    expectFailure("AgV0!nVz", "Wrong base64 string");
    expectFailure("=AAA", "LumetraSerialization error itemsCountToProcess <= ProcessingRawBufferBytesCount");
    expectFailure("Aw==", "need VersionConverter implementation");
    EnvironmentDescription unknownScheme = shiftedBars();
    unknownScheme.schemeName = "Yellow";
    expectFailure(LumetraTest::writeEnvironmentCode(unknownScheme, 0), "non-existent scheme name: Yellow");
    // A version 1 code needs no scheme: an unknown name is accepted.
    EXPECT_TRUE(host.createEnvironment(LumetraTest::writeEnvironmentCode(unknownScheme, 1)));
}

TEST_F(EnvironmentCode, EveryTruncationOfTheExampleFailsCleanly) {
    ASSERT_EQ(LumetraTest::encodeBase64(trussRecord), trussCode);
    for (std::size_t length = 0; length < trussRecord.size(); ++length) {
        const CallFailed failure =
            failureOf(LumetraTest::encodeBase64(std::span<const std::uint8_t>(trussRecord).first(length)));
        EXPECT_EQ(failure.code, ExceptionCode::Failed) << length;
        EXPECT_FALSE(failure.message.empty()) << length;
    }
}

TEST_F(EnvironmentCode, LayoutsThatCannotBeBuiltAreRefused) {
    const auto refused = [&](const EnvironmentDescription& description, const std::string& reason) {
        const CallFailed failure = failureOf(LumetraTest::writeEnvironmentCode(description));
        EXPECT_EQ(failure.code, ExceptionCode::Failed) << reason;
        EXPECT_NE(failure.message.find(reason), std::string::npos) << failure.message;
    };
    EnvironmentDescription outside = shiftedBars();
    outside.bars.push_back(bar(2, 0, 0));
    refused(outside, "outside");
    EnvironmentDescription negative = shiftedBars();
    negative.bars.push_back(bar(-1, 1, 0));
    refused(negative, "outside");
    EnvironmentDescription twice = shiftedBars();
    twice.bars.push_back(bar(1, 1, 3));
    refused(twice, "both lie at cell");
    EnvironmentDescription huge = shiftedBars();
    huge.size = {4097, 4096};
    refused(huge, "more than");
    EnvironmentDescription wide = shiftedBars();
    wide.size = {1ul << 31, 1};
    refused(wide, "2^31");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float EnvironmentDescription::*value :
         {&EnvironmentDescription::barLength, &EnvironmentDescription::barProportion,
          &EnvironmentDescription::barSlope, &EnvironmentDescription::height, &EnvironmentDescription::cellSize}) {
        for (float bad : {nan, inf, -inf}) {
            EnvironmentDescription description = shiftedBars();
            description.*value = bad;
            refused(description, "not a finite number");
        }
    }
    EnvironmentDescription zeroCells = shiftedBars();
    zeroCells.cellSize = 0.0f;
    refused(zeroCells, "greater than 0");
}

TEST_F(EnvironmentCode, EmptyAndSingleCellGridsAreAccepted) {
    EnvironmentDescription empty = shiftedBars();
    empty.bars.clear();
    EXPECT_TRUE(getMarkers(*host.createEnvironment(LumetraTest::writeEnvironmentCode(empty))).empty());
    EnvironmentDescription single = shiftedBars();
    single.size = {1, 1};
    single.bars = {bar(0, 0, 2)};
    EXPECT_EQ(getMarkers(*host.createEnvironment(LumetraTest::writeEnvironmentCode(single))).size(), 3u);
}

}  // namespace
}  // namespace Lumetra::Testing
