#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <tuple>

#include "math/Grid2DSearch.h"

using namespace LumetraMath;
using Point = vector<float, 2>;
using Search = Grid2DSearch<float>;

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float infinity = std::numeric_limits<float>::infinity();

std::vector<Point> lattice(int columns, int rows, float pitch) {
    std::vector<Point> points;
    for (int x = 0; x < columns; ++x)
        for (int y = 0; y < rows; ++y) points.push_back({static_cast<float>(x) * pitch, static_cast<float>(y) * pitch});
    return points;
}

int bucketOf(float value, float origin, float size, int cells) {
    const float cell = std::floor((value - origin) / size);
    if (!(cell >= 0)) return 0;
    return cell >= float(cells - 1) ? cells - 1 : int(cell);
}

/// Indices within the radius, in the documented order: bucket x, bucket y, index.
std::vector<int> bruteForce(const Search& search, Point center, float radius) {
    std::vector<std::tuple<int, int, int>> keyed;
    const auto& points = search.getPoints();
    for (int i = 0; i < int(points.size()); ++i) {
        const float dx = points[i].x - center.x, dy = points[i].y - center.y;
        if (radius * radius >= dx * dx + dy * dy)
            keyed.emplace_back(bucketOf(points[i].x, search.getOrigin().x, search.getBucketSize().x, search.getCellsX()),
                               bucketOf(points[i].y, search.getOrigin().y, search.getBucketSize().y, search.getCellsY()),
                               i);
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<int> indices;
    for (const auto& key : keyed) indices.push_back(std::get<2>(key));
    return indices;
}

}  // namespace

TEST(Grid2DSearchShape, LatticeOfTwelvePointsGivesThreeByTwoUnitBuckets) {
    const Search search(lattice(4, 3, 1.f), 1.5f);
    EXPECT_EQ(search.getCellsX(), 3);
    EXPECT_EQ(search.getCellsY(), 2);
    EXPECT_EQ(search.getOrigin(), (Point{0, 0}));
    EXPECT_EQ(search.getBucketSize(), (Point{1, 1}));
}

TEST(Grid2DSearchShape, ThinSetsGetOneRowOrColumnOfBuckets) {
    std::vector<Point> alongX, alongY;
    for (int i = 0; i < 10; ++i) {
        alongX.push_back({float(i), 0.f});
        alongY.push_back({2.f, float(i) * 0.5f});
    }
    const Search wide(alongX, 2.f);
    EXPECT_EQ(wide.getCellsX(), 5);
    EXPECT_EQ(wide.getCellsY(), 1);
    EXPECT_EQ(wide.getBucketSize(), (Point{9.f / 5.f, 0.f}));
    const Search tall(alongY, 2.f);
    EXPECT_EQ(tall.getCellsX(), 1);
    EXPECT_EQ(tall.getCellsY(), 5);
    EXPECT_EQ(tall.getOrigin(), (Point{2.f, 0.f}));
}

TEST(Grid2DSearchShape, FewPointsOverAWideAreaStillGetOneBucketPerAxis) {
    const Search search({{0, 0}, {10, 10}}, 8.f);  // N / k = 0.25 rounds to no buckets
    EXPECT_EQ(search.getCellsX(), 1);
    EXPECT_EQ(search.getCellsY(), 1);
    EXPECT_EQ(search.getPointsInCircle({10, 10}, 0.f), (std::vector<int>{1}));
}

TEST(Grid2DSearchShape, RejectsANonPositiveAverage) {
    for (const float k : {0.f, -0.f, -1.5f}) {
        try {
            Search({{0, 0}}, k);
            FAIL() << k;
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "Invalid argument: averagePointsPerCell");
        }
    }
}

TEST(Grid2DSearchQuery, EmptySetFindsNothing) {
    const Search search({}, 1.5f);
    EXPECT_EQ(search.getCellsX(), 1);
    EXPECT_EQ(search.getCellsY(), 1);
    EXPECT_TRUE(search.getPointsInCircle({0, 0}, 100.f).empty());
}

TEST(Grid2DSearchQuery, CoincidentPointsShareOneBucketAndAZeroRadiusFindsThemAll) {
    const std::vector<Point> points{{1, 1}, {1.00005f, 1}, {1, 1}, {1, 0.99995f}, {1, 1}};
    const Search search(points, 1.5f);
    EXPECT_EQ(search.getCellsX(), 1);
    EXPECT_EQ(search.getCellsY(), 1);
    EXPECT_EQ(search.getPointsInCircle({1, 1}, 0.f), (std::vector<int>{0, 2, 4}));
}

TEST(Grid2DSearchQuery, PointOnTheCircleIsIncluded) {
    const Search search(lattice(4, 3, 1.f), 1.5f);
    // (1, 1) is at index 4; radius 1 around it reaches exactly (0,1), (2,1), (1,0), (1,2).
    EXPECT_EQ(search.getPointsInCircle({1, 1}, 1.f), (std::vector<int>{1, 3, 4, 5, 7}));
    EXPECT_EQ(search.getPointsInCircle({1, 1}, std::nextafter(1.f, 0.f)), (std::vector<int>{4}));
}

TEST(Grid2DSearchQuery, CentreFarOutsideOnlyFindsPointsTrulyWithinTheRadius) {
    const Search search(lattice(4, 3, 1.f), 1.5f);
    EXPECT_TRUE(search.getPointsInCircle({100, 100}, 5.f).empty());
    EXPECT_EQ(search.getPointsInCircle({-100, 0}, 100.f), (std::vector<int>{0}));
}

TEST(Grid2DSearchQuery, InvalidCentreOrRadiusFindsNothing) {
    const Search search(lattice(4, 3, 1.f), 1.5f);
    EXPECT_TRUE(search.getPointsInCircle({notANumber, 1}, 10.f).empty());
    EXPECT_TRUE(search.getPointsInCircle({1, notANumber}, 10.f).empty());
    EXPECT_TRUE(search.getPointsInCircle({1, 1}, notANumber).empty());
    EXPECT_TRUE(search.getPointsInCircle({0, 0}, -0.5f).empty());
    EXPECT_EQ(search.getPointsInCircle({1, 1}, infinity).size(), 12u);
}

TEST(Grid2DSearchQuery, AgreesWithBruteForceIncludingOrder) {
    std::mt19937 random(1);
    const std::vector<std::tuple<int, float, float, float>> setups{
        {1, 1.5f, 1.f, 1.f},  {7, 1.5f, 3.f, 2.f},    {200, 1.5f, 10.f, 10.f},
        {500, 0.3f, 5.f, 1.f}, {1000, 4.f, 100.f, 0.01f}, {1000, 1.5f, 0.f, 50.f}};
    for (const auto& [count, k, width, height] : setups) {
        std::uniform_real_distribution<float> x(-width, width), y(-height, height);
        std::vector<Point> points;
        for (int i = 0; i < count; ++i) points.push_back({x(random), y(random)});
        points.push_back(points.front());  // a duplicate
        const Search search(points, k);
        ASSERT_GE(search.getCellsX(), 1);
        ASSERT_GE(search.getCellsY(), 1);

        std::uniform_real_distribution<float> radius(0.f, 0.3f * (width + height) + 0.1f);
        for (int q = 0; q < 200; ++q) {
            const Point center{1.2f * x(random), 1.2f * y(random)};
            const float r = radius(random);
            EXPECT_EQ(search.getPointsInCircle(center, r), bruteForce(search, center, r)) << count << " points";
        }
    }
}

TEST(Grid2DSearchQuery, CopiesAndMovesAnswerAlike) {
    const Search original(lattice(5, 5, 0.6f), 1.5f);
    const auto expected = original.getPointsInCircle({1.2f, 1.2f}, 0.7f);
    Search copy = original;
    EXPECT_EQ(copy.getPointsInCircle({1.2f, 1.2f}, 0.7f), expected);
    Search moved = std::move(copy);
    EXPECT_EQ(moved.getPointsInCircle({1.2f, 1.2f}, 0.7f), expected);
    Search assigned({}, 1.f);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.getPointsInCircle({1.2f, 1.2f}, 0.7f), expected);
}

TEST(Grid2DSearchPathological, NonFiniteCoordinatesAreIndexedButNeverFound) {
    std::vector<Point> points = lattice(4, 3, 1.f);
    points.push_back({notANumber, 1});
    points.push_back({infinity, 0});
    points.push_back({1, -infinity});
    points.push_back({notANumber, notANumber});
    const Search search(points, 1.5f);
    EXPECT_LE(std::int64_t{search.getCellsX()} * search.getCellsY(), 4096);
    EXPECT_EQ(search.getPointsInCircle({1, 1}, 1.f), bruteForce(search, {1, 1}, 1.f));
    EXPECT_EQ(search.getPointsInCircle({3, 2}, 100.f).size(), 12u);
}

TEST(Grid2DSearchPathological, AllCoordinatesNotANumber) {
    const Search search({{notANumber, notANumber}, {notANumber, 2}}, 1.5f);
    EXPECT_EQ(search.getCellsX(), 1);
    EXPECT_EQ(search.getCellsY(), 1);
    EXPECT_TRUE(search.getPointsInCircle({0, 2}, infinity).empty());
}

TEST(Grid2DSearchPathological, ExtremeAveragesKeepTheBucketTableBounded) {
    const std::vector<Point> points = lattice(20, 20, 1.f);
    for (const float k : {1e-30f, std::numeric_limits<float>::denorm_min(), infinity, notANumber}) {
        const Search search(points, k);
        EXPECT_GE(search.getCellsX(), 1) << k;
        EXPECT_GE(search.getCellsY(), 1) << k;
        EXPECT_LE(std::int64_t{search.getCellsX()} * search.getCellsY(), 400 * 64) << k;
        EXPECT_LE(std::max(search.getCellsX(), search.getCellsY()), 1000) << "lopsided for " << k;
        EXPECT_EQ(search.getPointsInCircle({5, 5}, 1.5f), bruteForce(search, {5, 5}, 1.5f)) << k;
    }
}

TEST(Grid2DSearchPathological, HugeExtentWithFewPoints) {
    // The width overflows to infinity; the requested 40000 buckets along it are capped.
    const Search search({{-3e38f, 0}, {3e38f, 0}, {0, 0}, {0, 1}}, 0.0001f);
    EXPECT_EQ(search.getCellsX(), 4096);
    EXPECT_EQ(search.getCellsY(), 1);
    EXPECT_EQ(search.getPointsInCircle({0, 0}, 1.f), (std::vector<int>{2, 3}));
}
