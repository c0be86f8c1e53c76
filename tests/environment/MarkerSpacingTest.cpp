#include "environment/MarkerSpacing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using Lumetra::Vesk::Environment::HorizontalGrid::smallestMarkerDistance;
using Point = LumetraMath::vector<float, 2>;

// The exhaustive definition the sweep must reproduce bit for bit.
float allPairsDistance(const std::vector<Point>& points) {
    if (points.size() < 2) return 0.5f;
    float best = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t j = i + 1; j < points.size(); ++j) {
            const float d = (points[i].x - points[j].x) * (points[i].x - points[j].x) +
                            (points[i].y - points[j].y) * (points[i].y - points[j].y);
            if (d < best) best = d;
        }
    return std::sqrt(best);
}

void expectSameBits(float expected, float actual) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual));
        return;
    }
    EXPECT_EQ(expected, actual);
    EXPECT_EQ(std::signbit(expected), std::signbit(actual));
}

TEST(MarkerSpacing, FewerThanTwoPointsGiveTheDefault) {
    EXPECT_EQ(smallestMarkerDistance({}), 0.5f);
    EXPECT_EQ(smallestMarkerDistance({{3.0f, 4.0f}}), 0.5f);
}

TEST(MarkerSpacing, CoincidingPointsGiveZero) {
    EXPECT_EQ(smallestMarkerDistance({{1.0f, 1.0f}, {5.0f, 5.0f}, {1.0f, 1.0f}}), 0.0f);
}

TEST(MarkerSpacing, MatchesAllPairsOnRandomLayouts) {
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::uniform_int_distribution<int> count(2, 300);
        std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f);
        std::vector<Point> points(static_cast<std::size_t>(count(random)));
        for (Point& p : points) p = {coordinate(random), coordinate(random)};
        expectSameBits(allPairsDistance(points), smallestMarkerDistance(points));
    }
}

TEST(MarkerSpacing, MatchesAllPairsOnGridLikeLayoutsWithTies) {
    // Markers of bars on a lattice: many equal x and y values and many equally short pairs.
    std::mt19937 random(777);
    for (int round = 0; round < 100; ++round) {
        std::vector<Point> points;
        std::uniform_int_distribution<int> cell(0, 20);
        std::uniform_int_distribution<int> rotation(0, 3);
        for (int bar = 0; bar < 60; ++bar) {
            const float cx = static_cast<float>(cell(random)) * 0.6f;
            const float cy = static_cast<float>(cell(random)) * 0.6f;
            const bool alongX = rotation(random) % 2 == 0;
            for (float t : {-0.6375f, -0.1275f, 0.6375f})
                points.push_back(alongX ? Point{cx + t, cy} : Point{cx, cy + t});
        }
        expectSameBits(allPairsDistance(points), smallestMarkerDistance(points));
    }
}

TEST(MarkerSpacing, MatchesAllPairsOnPointsSharingOneCoordinate) {
    std::vector<Point> column, row;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(0.0f, 1000.0f);
    for (int i = 0; i < 500; ++i) {
        column.push_back({2.5f, coordinate(random)});
        row.push_back({coordinate(random), -7.0f});
    }
    expectSameBits(allPairsDistance(column), smallestMarkerDistance(column));
    expectSameBits(allPairsDistance(row), smallestMarkerDistance(row));
}

TEST(MarkerSpacing, NonFiniteCoordinatesNeverGiveTheMinimum) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Point> points{{0.0f, 0.0f}, {inf, 0.0f}, {nan, 1.0f}, {3.0f, 4.0f}, {inf, 0.0f}, {0.5f, nan}};
    expectSameBits(allPairsDistance(points), smallestMarkerDistance(points));
    EXPECT_EQ(smallestMarkerDistance(points), 5.0f);
    // Only pairs without a finite squared distance: the exhaustive search keeps +inf.
    expectSameBits(allPairsDistance({{nan, 0.0f}, {1.0f, 1.0f}}), smallestMarkerDistance({{nan, 0.0f}, {1.0f, 1.0f}}));
    const std::vector<Point> overflowing{{-3e38f, 0.0f}, {3e38f, 0.0f}};
    EXPECT_EQ(smallestMarkerDistance(overflowing), inf);
}

}  // namespace
