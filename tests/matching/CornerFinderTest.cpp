#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <stdexcept>

#include "matching/VeskEnvironmentWithCorners.h"

using LumetraMath::vector;

namespace {

using Bars = std::vector<vector<int, 3>>;
using Points = std::vector<vector<float, 3>>;

const vector<float, 3> up{0, 1, 0};

/// Bars in the x-z plane, each given by its first and last marker; the middle marker sits
/// between them and is not read.
struct Scene {
    Bars bars;
    Points points;

    Scene& bar(vector<float, 3> first, vector<float, 3> last) {
        const int base = static_cast<int>(points.size());
        points.insert(points.end(), {first, (first + last) * 0.5f, last});
        bars.push_back({base, base + 1, base + 2});
        return *this;
    }

    bool findCorners(std::vector<int>& corners) const {
        return VeskEnvironmentWithCorners::findCorners(bars, points, up, corners);
    }
};

}  // namespace

TEST(CornerFinder, NoBarsIsTrivialyConsistent) {
    std::vector<int> corners{5, 6};
    EXPECT_TRUE(Scene{}.findCorners(corners));
    EXPECT_TRUE(corners.empty());
}

TEST(CornerFinder, LoneBarFormsNoCorner) {
    std::vector<int> corners;
    EXPECT_FALSE(Scene{}.bar({0, 0, 0}, {1, 0, 0}).findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{-1}));
}

TEST(CornerFinder, PerpendicularBarsGetTurnAndSideCodes) {
    std::vector<int> corners;
    // L at the origin: +z turns clockwise from +x about +y; both bars start at the crossing.
    EXPECT_TRUE(Scene{}.bar({0, 0, 0}, {1, 0, 0}).bar({0, 0, 0}, {0, 0, 1}).findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{0, 1}));

    // The second bar runs towards the first one's line: its centre lies behind the crossing.
    EXPECT_TRUE(Scene{}.bar({0, 0, 0}, {1, 0, 0}).bar({0.5f, 0, 2}, {0.5f, 0, 1}).findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{3, 0}));
}

TEST(CornerFinder, BarOrderDoesNotChangeEachBarsCode) {
    std::vector<int> corners;
    EXPECT_TRUE(Scene{}.bar({0.5f, 0, 2}, {0.5f, 0, 1}).bar({0, 0, 0}, {1, 0, 0}).findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{0, 3}));
}

TEST(CornerFinder, BarsWithinFortyFiveDegreesFormNoCorner) {
    std::vector<int> corners;
    EXPECT_FALSE(Scene{}.bar({0, 0, 0}, {1, 0, 0}).bar({0, 0, 1}, {1, 0, 1}).findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{-1, -1}));
    EXPECT_FALSE(Scene{}.bar({0, 0, 0}, {1, 0, 0}).bar({0, 0, 0}, {1, 0, 0.98f}).findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{-1, -1}));
    // Just beyond 45 degrees the pair counts.
    EXPECT_TRUE(Scene{}.bar({0, 0, 0}, {1, 0, 0}).bar({0, 0, 0}, {0.99f, 0, 1}).findCorners(corners));
}

TEST(CornerFinder, ContradictingCornersStopAtOnceKeepingEarlierCodes) {
    std::vector<int> corners;
    // The first bar turns one way at its start and the other way at its end.
    EXPECT_FALSE(Scene{}
                     .bar({0, 0, 0}, {1, 0, 0})
                     .bar({0, 0, 0}, {0, 0, 1})
                     .bar({1, 0, 0}, {1, 0, -1})
                     .findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{0, 1, -1}));
}

TEST(CornerFinder, BarWithoutDirectionNeverGetsACode) {
    std::vector<int> corners;
    EXPECT_FALSE(Scene{}
                     .bar({0, 0, 0}, {1, 0, 0})
                     .bar({0, 0, 0}, {0, 0, 1})
                     .bar({2, 0, 2}, {2, 0, 2})
                     .findCorners(corners));
    EXPECT_EQ(corners, (std::vector<int>{0, 1, -1}));
}

TEST(CornerFinder, PointIndexOutsideThePointsIsRejected) {
    std::vector<int> corners;
    const Points points{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    EXPECT_THROW(VeskEnvironmentWithCorners::findCorners({{0, 1, 3}}, points, up, corners), std::out_of_range);
    EXPECT_THROW(VeskEnvironmentWithCorners::findCorners({{-1, 1, 2}}, points, up, corners), std::out_of_range);
}

TEST(BarQueries, MarkersFollowPoseAndOffsets) {
    const VeskEnvironmentWithCorners environment({{{1, 2}, {0, 1}}, {{-1, 0}, {1, 0}}}, {0.0f, 0.25f, 1.0f});
    EXPECT_EQ(environment.getBarPosition(1), (vector<float, 2>{-1, 0}));
    EXPECT_EQ(environment.getBarDirection(0), (vector<float, 2>{0, 1}));
    EXPECT_EQ(environment.getBarMarker(0, 1), (vector<float, 2>{1, 2.25f}));
    EXPECT_EQ(environment.getBarMarker(1, 2), (vector<float, 2>{0, 0}));
}

TEST(BarQueries, BadIndicesAreRejectedButUnknownMarkersAreNaN) {
    const VeskEnvironmentWithCorners environment({{{1, 2}, {0, 1}}}, {0.0f, 0.5f, 1.0f});
    EXPECT_THROW(environment.getBarPosition(1), std::out_of_range);
    EXPECT_THROW(environment.getBarDirection(1), std::out_of_range);
    EXPECT_THROW(environment.getBarMarker(1, 0), std::out_of_range);
    const vector<float, 2> marker = environment.getBarMarker(99, 3);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(marker.x), 0x7FC00000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(marker.y), 0x7FC00000u);
}
