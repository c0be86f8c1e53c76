#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "serialization/Cursor.h"
#include "serialization/Pod.h"
#include "serialization/String.h"
#include "serialization/Structure.h"
#include "serialization/UVarint.h"
#include "serialization/Vector.h"

namespace {

using namespace LumetraSerialization;
using Bytes = std::vector<std::uint8_t>;

/// Reads one R from the whole of `bytes` and checks that every byte was used.
template <typename R>
typename R::Value readAll(const Bytes& bytes) {
    Cursor cursor(bytes);
    auto value = R::read(cursor);
    EXPECT_EQ(cursor.remaining(), 0u);
    return value;
}

template <typename R>
std::string failureOf(const Bytes& bytes) {
    try {
        Cursor cursor(bytes);
        R::read(cursor);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no failure";
}

struct x {};
struct y {};
struct name {};
struct point {};
struct flag {};
using Point = Structure<Field<x, UVarint>, Field<y, UVarint>>;
using Named = Structure<Field<name, String>, Field<point, Point>, Field<flag, Pod<bool>>>;

TEST(UVarintReading, DecodesBase128GroupsLeastSignificantFirst) {
    EXPECT_EQ(readAll<UVarint>({0x00}), 0u);
    EXPECT_EQ(readAll<UVarint>({0x7F}), 127u);
    EXPECT_EQ(readAll<UVarint>({0x80, 0x01}), 128u);
    EXPECT_EQ(readAll<UVarint>({0xAC, 0x02}), 300u);
    // Non-minimal encodings are still ten bytes at most and read as their value.
    EXPECT_EQ(readAll<UVarint>({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}), 0u);
}

TEST(UVarintReading, AcceptsTheLongestTenByteValue) {
    const Bytes max{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x42};
    std::uint64_t value = 0;
    EXPECT_EQ(UVarint::deserialize(value, Cursor(max)), 10u);
    EXPECT_EQ(value, std::numeric_limits<std::uint64_t>::max());
}

TEST(UVarintReading, RejectsOverlongOverflowingAndTruncatedValues) {
    const std::string prefix = "LumetraSerialization error ";
    EXPECT_EQ(failureOf<UVarint>({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}),
              prefix + "UVarint longer than 10 bytes");
    EXPECT_EQ(failureOf<UVarint>({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}),
              prefix + "UVarint overflows 64 bits");
    EXPECT_EQ(failureOf<UVarint>({0x80, 0x80}), prefix + "record truncated: UVarint needs 1 byte, 0 bytes left");
    EXPECT_EQ(failureOf<UVarint>({}), prefix + "buf != nullptr");
}

TEST(PodReading, CopiesLittleEndianBytes) {
    EXPECT_EQ(readAll<Pod<float>>({0x33, 0x33, 0xA3, 0x3F}), std::bit_cast<float>(0x3FA33333u));
    EXPECT_EQ(readAll<Pod<std::uint8_t>>({0xFE}), 0xFE);
    EXPECT_EQ(failureOf<Pod<float>>({0x33, 0x33, 0xA3}),
              "LumetraSerialization error record truncated: Pod value needs 4 bytes, 3 bytes left");
}

TEST(PodReading, ReadsAnyNonZeroBoolByteAsTrue) {
    EXPECT_FALSE(readAll<Pod<bool>>({0}));
    EXPECT_TRUE(readAll<Pod<bool>>({1}));
    EXPECT_TRUE(readAll<Pod<bool>>({2}));
    EXPECT_TRUE(readAll<Pod<bool>>({0xFF}));
}

TEST(StringReading, CopiesTheAnnouncedBytesAndRejectsLengthsBeyondTheData) {
    EXPECT_EQ(readAll<String>({3, 'a', 0, 'b'}), std::string("a\0b", 3));
    EXPECT_EQ(readAll<String>({0}), "");
    EXPECT_EQ(failureOf<String>({4, 'a', 'b', 'c'}),
              "LumetraSerialization error record truncated: String needs 4 bytes, 3 bytes left");
    EXPECT_NE(failureOf<String>({0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 'a'}).find("String needs 4294967295 bytes"),
              std::string::npos);
}

TEST(VectorReading, ReadsElementsBackToBack) {
    const auto points = readAll<Vector<Point>>({2, 1, 2, 0x80, 0x01, 3});
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].get<x>(), 128u);
    EXPECT_EQ(points[1].get<y>(), 3u);
    EXPECT_TRUE(readAll<Vector<Point>>({0}).empty());
}

TEST(VectorReading, RejectsCountsTheRemainingBytesCannotHoldBeforeMakingRoom) {
    // Two points need at least four bytes; three remain.
    EXPECT_EQ(failureOf<Vector<Point>>({2, 1, 2, 3}),
              "LumetraSerialization error Vector count 2 exceeds the 3 bytes that remain "
              "(each element takes at least 2 bytes)");
    // Four billion elements would reserve far more than memory; the count check fails first.
    EXPECT_NE(failureOf<Vector<Pod<float>>>({0x80, 0xD0, 0xAC, 0xF3, 0x0E, 1, 2, 3, 4}).find("Vector count 4000000000"),
              std::string::npos);
    // A count that fits the bytes but whose elements run short fails inside the element.
    EXPECT_NE(failureOf<Vector<Point>>({2, 1, 2, 0x80, 0x80}).find("record truncated: UVarint"), std::string::npos);
}

TEST(StructureReading, ReadsFieldsInDeclarationOrderWithNestedStructures) {
    const Named named = readAll<Named>({2, 'o', 'k', 5, 0xAC, 0x02, 1});
    EXPECT_EQ(named.get<name>(), "ok");
    EXPECT_EQ(named.get<point>().get<x>(), 5u);
    EXPECT_EQ(named.get<point>().get<y>(), 300u);
    EXPECT_TRUE(named.get<flag>());
    static_assert(Named::minimumSize == 4);
}

}  // namespace
