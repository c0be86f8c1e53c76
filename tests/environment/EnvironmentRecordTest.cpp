#include "environment/EnvironmentRecord.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "environment/Scheme.h"
#include "serialization/Base64Converter.h"
#include "simulation/EnvironmentCodeWriter.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;
namespace V2 = Serialization::SerializationVersion2;
using Bytes = std::vector<std::uint8_t>;
using LumetraSerialization::Base64Converter::decode;

const std::string TrussCode = "AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAgEAAgIBAA==";
const Bytes TrussRecord{0x02, 0x05, 0x74, 0x72, 0x75, 0x73, 0x73, 0x03, 0x02, 0x33, 0x33, 0xA3, 0x3F, 0xCD, 0xCC, 0xCC,
                        0x3E, 0x35, 0xFA, 0x8E, 0x3D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
                        0x20, 0x40, 0x9A, 0x99, 0x19, 0x3F, 0x00, 0x02, 0x01, 0x00, 0x02, 0x02, 0x01, 0x00};

std::uint32_t bits(float value) { return std::bit_cast<std::uint32_t>(value); }

template <typename Action>
std::string failureOf(Action action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no failure";
}

std::string decodeFailure(const std::string& code) {
    return failureOf([&] { decodeEnvironmentCode(code); });
}

std::string validationFailure(const EnvironmentDescription& description) {
    return failureOf([&] { validateEnvironmentDescription(description); });
}

/// A small valid description to vary.
EnvironmentDescription smallGrid() {
    EnvironmentDescription description;
    description.schemeName = "truss";
    description.size = {4, 3};
    description.barLength = 1.25f;
    description.barProportion = 0.4f;
    description.barSlope = -0.05f;
    description.barOffset = {0.25f, -0.125f};
    description.ceiling = true;
    description.height = 2.5f;
    description.cellSize = 0.6f;
    description.connectors = true;
    description.bars = {Bar{{0, 0}, 1}, Bar{{3, 2}, 6}, Bar{{1, 2}, 3}};
    return description;
}

void expectSameBars(const std::vector<Bar>& actual, const std::vector<Bar>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i]._position, expected[i]._position) << "bar " << i;
        EXPECT_EQ(actual[i]._properties, expected[i]._properties) << "bar " << i;
    }
}

TEST(EnvironmentCodeDecoding, ReadsTheVersion2Example) {
    ASSERT_EQ(decode(TrussCode), TrussRecord);
    const V2::Record record = Serialization::Versioned::deserialize(TrussRecord);
    EXPECT_EQ(record.get<V2::schemeName>(), "truss");
    EXPECT_FALSE(record.get<V2::connectors>());

    const EnvironmentDescription description = decodeEnvironmentCode(TrussCode);
    EXPECT_EQ(description.schemeName, "truss");
    EXPECT_EQ(description.size, (LumetraMath::vector<unsigned long, 2>{3, 2}));
    EXPECT_EQ(bits(description.barLength), 0x3FA33333u);
    EXPECT_EQ(bits(description.barProportion), 0x3ECCCCCDu);
    EXPECT_EQ(bits(description.barSlope), 0x3D8EFA35u);
    EXPECT_EQ(description.barOffset, (LumetraMath::vector<float, 2>{0.0f, 0.0f}));
    EXPECT_TRUE(description.ceiling);
    EXPECT_EQ(bits(description.height), 0x40200000u);
    EXPECT_EQ(bits(description.cellSize), 0x3F19999Au);
    EXPECT_FALSE(description.connectors);
    expectSameBars(description.bars, {Bar{{1, 0}, 2}, Bar{{2, 1}, 0}});
}

TEST(EnvironmentCodeDecoding, UpgradesVersion0WithTheNamedSchemesValues) {
    const EnvironmentDescription description = decodeEnvironmentCode("AAZ5ZWxsb3cEAwECAQE=");
    const Scheme yellow = Scheme::getSchemes()[0];
    EXPECT_EQ(description.schemeName, "yellow");
    EXPECT_EQ(description.size, (LumetraMath::vector<unsigned long, 2>{4, 3}));
    EXPECT_EQ(bits(description.barLength), bits(yellow.barLength));
    EXPECT_EQ(bits(description.barSlope), bits(yellow.barSlope));
    EXPECT_EQ(bits(description.barProportion), bits(yellow.barProportion));
    EXPECT_EQ(bits(description.cellSize), bits(yellow.cellSize));
    EXPECT_EQ(description.barOffset, yellow.barOffset);
    EXPECT_FALSE(description.ceiling);
    EXPECT_EQ(bits(description.height), 0u);
    EXPECT_TRUE(description.connectors);
    expectSameBars(description.bars, {Bar{{2, 1}, 1}});
}

TEST(EnvironmentCodeDecoding, ConsultsTheSchemeTableOnlyForOlderVersions) {
    EnvironmentDescription description = smallGrid();
    description.schemeName = "purple";
    EXPECT_EQ(decodeFailure(LumetraTest::writeEnvironmentCode(description, 0)), "non-existent scheme name: purple");

    const EnvironmentDescription version1 = decodeEnvironmentCode(LumetraTest::writeEnvironmentCode(description, 1));
    EXPECT_FALSE(version1.connectors);
    EXPECT_EQ(version1.schemeName, "purple");
    EXPECT_EQ(bits(version1.barLength), bits(description.barLength));

    description.schemeName = "yellow";
    description.connectors = false;
    EXPECT_TRUE(decodeEnvironmentCode(LumetraTest::writeEnvironmentCode(description, 1)).connectors);
    EXPECT_FALSE(decodeEnvironmentCode(LumetraTest::writeEnvironmentCode(description, 2)).connectors);
}

TEST(EnvironmentCodeDecoding, RoundTripsEveryFieldOfTheCurrentVersion) {
    const EnvironmentDescription description = smallGrid();
    const EnvironmentDescription decoded = decodeEnvironmentCode(LumetraTest::writeEnvironmentCode(description));
    EXPECT_EQ(decoded.schemeName, description.schemeName);
    EXPECT_EQ(decoded.size, description.size);
    EXPECT_EQ(bits(decoded.barLength), bits(description.barLength));
    EXPECT_EQ(bits(decoded.barProportion), bits(description.barProportion));
    EXPECT_EQ(bits(decoded.barSlope), bits(description.barSlope));
    EXPECT_EQ(decoded.barOffset, description.barOffset);
    EXPECT_EQ(decoded.ceiling, description.ceiling);
    EXPECT_EQ(bits(decoded.height), bits(description.height));
    EXPECT_EQ(bits(decoded.cellSize), bits(description.cellSize));
    EXPECT_EQ(decoded.connectors, description.connectors);
    expectSameBars(decoded.bars, description.bars);
}

TEST(EnvironmentCodeDecoding, RefusesVersionsWithoutAConverterAndEmptyCodes) {
    Bytes record = TrussRecord;
    record[0] = 3;
    EXPECT_EQ(decodeFailure(LumetraTest::encodeBase64(record)), "need VersionConverter implementation");
    EXPECT_EQ(decodeFailure(""), "LumetraSerialization error buf != nullptr");
    EXPECT_EQ(decodeFailure("Q"), "LumetraSerialization error buf != nullptr");
}

/// The record of `description` without bars, with one bar at (2^32 + 5, 2^32 - 1) appended.
Bytes withFarOffBar(EnvironmentDescription description, unsigned version) {
    description.bars.clear();
    Bytes record = LumetraTest::writeEnvironmentRecord(description, version);
    record.back() = 1;  // the bar count ends the record
    LumetraTest::appendUVarint(record, (std::uint64_t{1} << 32) + 5);
    LumetraTest::appendUVarint(record, 4294967295u);
    record.push_back(7);
    return record;
}

TEST(EnvironmentCodeDecoding, KeepsTheLow32BitsOfBarPositionsAsSignedValues) {
    const Bytes record = withFarOffBar(smallGrid(), 2);
    const V2::Record decoded = Serialization::Versioned::deserialize(record);
    expectSameBars(Serialization::toBars(decoded.get<V2::bars>()), {Bar{{5, -1}, 7}});
    EXPECT_EQ(decodeFailure(LumetraTest::encodeBase64(record)), "bar 0 at cell (5, -1) lies outside the 4 x 3 grid");

    // The upgrade from older versions already passes positions through 32 signed bits.
    EnvironmentDescription yellow = smallGrid();
    yellow.schemeName = "yellow";
    const V2::Record upgraded = Serialization::Versioned::deserialize(withFarOffBar(yellow, 0));
    const auto& position = upgraded.get<V2::bars>().at(0).get<Bar::SerializerInternal::_position>();
    EXPECT_EQ(position.get<Bar::SerializerInternal::x>(), 5u);
    EXPECT_EQ(position.get<Bar::SerializerInternal::y>(), std::numeric_limits<std::uint64_t>::max());
}

TEST(EnvironmentCodeDecoding, MutatedRecordsDecodeOrFailWithRuntimeError) {
    for (std::size_t at = 0; at < TrussRecord.size(); ++at) {
        for (const std::uint8_t value : Bytes{0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            Bytes record = TrussRecord;
            record[at] = value;
            // Anything but a decoded description or a runtime_error escapes and fails the test.
            failureOf([&] { decodeEnvironmentCode(LumetraTest::encodeBase64(record)); });
        }
    }
}

TEST(EnvironmentCodeDecoding, RejectsTheExampleCutAtAnyLength) {
    for (std::size_t length = 0; length < TrussRecord.size(); ++length) {
        const Bytes cut(TrussRecord.begin(), TrussRecord.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_NE(failureOf([&] { Serialization::Versioned::deserialize(cut); }), "no failure") << "length " << length;
    }
}

TEST(EnvironmentCodeDecoding, RejectsAnAnnouncedBarCountTheDataCannotHold) {
    Bytes record = TrussRecord;
    record.resize(39);  // up to the bar count
    LumetraTest::appendUVarint(record, 4000000000u);
    record.insert(record.end(), {1, 0, 2, 2, 1, 0});
    EXPECT_EQ(decodeFailure(LumetraTest::encodeBase64(record)),
              "LumetraSerialization error Vector count 4000000000 exceeds the 6 bytes that remain "
              "(each element takes at least 3 bytes)");
}

TEST(EnvironmentValidation, RejectsBarsOutsideTheGridOrOnAnOccupiedCell) {
    EnvironmentDescription description = smallGrid();
    description.bars.push_back(Bar{{7, -1}, 0});
    EXPECT_EQ(validationFailure(description), "bar 3 at cell (7, -1) lies outside the 4 x 3 grid");
    description.bars.back() = Bar{{4, 0}, 0};
    EXPECT_EQ(validationFailure(description), "bar 3 at cell (4, 0) lies outside the 4 x 3 grid");
    description.bars.back() = Bar{{0, 3}, 0};
    EXPECT_EQ(validationFailure(description), "bar 3 at cell (0, 3) lies outside the 4 x 3 grid");

    description.bars.back() = Bar{{1, 2}, 0};
    description.bars.push_back(Bar{{1, 2}, 0});
    EXPECT_EQ(validationFailure(description), "bars 2 and 3 both lie at cell (1, 2)");
}

TEST(EnvironmentValidation, LimitsTheGridSize) {
    EnvironmentDescription description = smallGrid();
    description.bars.clear();
    description.size = {4096, 4096};
    EXPECT_EQ(validationFailure(description), "no failure");
    description.size = {4097, 4096};
    EXPECT_EQ(validationFailure(description),
              "grid size 4097 x 4096 has 16781312 cells, more than the 16777216 allowed");
    description.size = {2147483648ul, 0};
    EXPECT_EQ(validationFailure(description), "grid size 2147483648 x 0 has a side of 2^31 cells or more");
    description.size = {1, std::numeric_limits<unsigned long>::max()};
    EXPECT_EQ(validationFailure(description),
              "grid size 1 x 18446744073709551615 has a side of 2^31 cells or more");

    description.size = {0, 5};
    EXPECT_EQ(validationFailure(description), "no failure");
    description.bars = {Bar{{0, 0}, 0}};
    EXPECT_EQ(validationFailure(description), "bar 0 at cell (0, 0) lies outside the 0 x 5 grid");
}

TEST(EnvironmentValidation, RejectsNonFiniteOrNonPositiveGeometry) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        void (*spoil)(EnvironmentDescription&, float);
        float value;
        const char* message;
    };
    const Case cases[] = {
        {[](EnvironmentDescription& d, float v) { d.barLength = v; }, nan, "barLength is not a finite number"},
        {[](EnvironmentDescription& d, float v) { d.barLength = v; }, 0.0f, "barLength must be greater than 0"},
        {[](EnvironmentDescription& d, float v) { d.barProportion = v; }, inf, "barProportion is not a finite number"},
        {[](EnvironmentDescription& d, float v) { d.barSlope = v; }, -inf, "barSlope is not a finite number"},
        {[](EnvironmentDescription& d, float v) { d.barOffset.x = v; }, nan, "barOffset.x is not a finite number"},
        {[](EnvironmentDescription& d, float v) { d.barOffset.y = v; }, inf, "barOffset.y is not a finite number"},
        {[](EnvironmentDescription& d, float v) { d.height = v; }, nan, "height is not a finite number"},
        {[](EnvironmentDescription& d, float v) { d.cellSize = v; }, -0.5f, "cellSize must be greater than 0"},
        {[](EnvironmentDescription& d, float v) { d.cellSize = v; }, inf, "cellSize is not a finite number"},
        {[](EnvironmentDescription& d, float v) { d.cellSize = v; }, 2e38f, "cellSize must lie within -1e6 .. 1e6"},
        {[](EnvironmentDescription& d, float v) { d.barLength = v; }, 1e-30f, "barLength must be at least 1e-6"},
        {[](EnvironmentDescription& d, float v) { d.barProportion = v; }, -1.9e38f,
         "barProportion must lie within -1e6 .. 1e6"},
        {[](EnvironmentDescription& d, float v) { d.height = v; }, 1e7f, "height must lie within -1e6 .. 1e6"},
    };
    for (const Case& c : cases) {
        EnvironmentDescription description = smallGrid();
        c.spoil(description, c.value);
        EXPECT_EQ(validationFailure(description), c.message);
    }
}

}  // namespace
