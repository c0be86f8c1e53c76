#include "environment/Environment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "interface/InterfacePtr.h"

namespace {

using Lumetra::InterfaceContract::InterfacePtr;
using Lumetra::Vesk::Environment::HorizontalGrid::Bar;
using Lumetra::Vesk::Environment::HorizontalGrid::Environment;
using Vector2 = Environment::Vector2;
using Vector3 = Environment::Vector3;

Bar bar(int x, int y, int rotation) { return Bar{{x, y}, static_cast<std::uint8_t>(rotation)}; }

struct Parameters {
    float barLength = 1.0f;
    float barProportion = 0.25f;
    float barSlope = 0.0f;
    Vector2 barOffset{0.0f, 0.0f};
    float cellSize = 0.6f;
    bool ceiling = false;
    float height = 0.0f;
};

const Parameters straight{};
const Parameters truss{1.275f, 0.4f, 0.0698131695f, {0.0f, 0.0f}, 0.6f, true, 2.5f};

InterfacePtr<Environment> makeEnvironment(const Parameters& p, std::vector<Bar> bars,
                                          LumetraMath::vector<unsigned long, 2> size) {
    return InterfacePtr<Environment>(new Environment(p.barLength, p.barProportion, p.barSlope, p.barOffset, p.cellSize,
                                                     std::move(bars), size, p.ceiling, p.height));
}

void expectNear(const Vector2& actual, const Vector2& expected, float tolerance = 1e-6f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
}

float smallestSpacing(const std::vector<Vector2>& markers) {
    float best = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < markers.size(); ++i)
        for (std::size_t j = i + 1; j < markers.size(); ++j) {
            const float d = (markers[i].x - markers[j].x) * (markers[i].x - markers[j].x) +
                            (markers[i].y - markers[j].y) * (markers[i].y - markers[j].y);
            if (d < best) best = d;
        }
    return std::sqrt(best);
}

TEST(EnvironmentLayout, StraightBarMarkersAndCellCentre) {
    const auto environment = makeEnvironment(straight, {}, {1, 1});
    const auto& layout = environment->getBarGeometries()[0];
    EXPECT_EQ(layout[0], (Vector2{-0.5f, 0.0f}));
    EXPECT_EQ(layout[1], (Vector2{-0.25f, 0.0f}));
    EXPECT_EQ(layout[2], (Vector2{0.5f, 0.0f}));
    EXPECT_EQ(environment->getCellCenterInBarFrame(), (Vector2{0.5f, 0.0f}));
}

TEST(EnvironmentLayout, MiddleMarkerIsComputedFromTheCentreOutwards) {
    // (1 − 2p)·(−L/2) and −L/2 + p·L round differently for these values; the first is the layout.
    Parameters level = truss;
    level.barSlope = 0.0f;
    const auto environment = makeEnvironment(level, {}, {1, 1});
    const float expected = (1.0f - 2.0f * level.barProportion) * (-level.barLength / 2.0f);
    ASSERT_NE(expected, -level.barLength / 2.0f + level.barProportion * level.barLength);
    EXPECT_EQ(environment->getBarGeometries()[0][1].x, expected);
}

TEST(EnvironmentLayout, RotationsTurnTheLayoutAboutTheCellCentre) {
    Parameters shifted = truss;
    shifted.barOffset = {0.3f, -0.1f};
    const auto environment = makeEnvironment(shifted, {}, {1, 1});
    const auto& layouts = environment->getBarGeometries();
    for (std::size_t k = 0; k < 3; ++k) {
        const Vector2 base = layouts[0][k];
        EXPECT_EQ(layouts[1][k], (Vector2{-base.y, base.x}));
        EXPECT_EQ(layouts[2][k], (Vector2{-base.x, -base.y}));
        EXPECT_EQ(layouts[3][k], (Vector2{base.y, -base.x}));
    }
    // The cell centre expressed in the bar's own frame leads back to the origin of the cell.
    const Vector2 first = layouts[0][0];
    const Vector2 axis = layouts[0][2] - first;
    const Vector2 ab = environment->getCellCenterInBarFrame();
    expectNear(first + ab.x * axis + ab.y * Vector2{-axis.y, axis.x}, {0.0f, 0.0f});
    // Rows (cos s, sin s), (−sin s, cos s): the bar direction turned by −s lies along +x.
    const Vector2 level = environment->getSlopeRotation() * axis;
    EXPECT_NEAR(level.y, 0.0f, 1e-6f);
    EXPECT_NEAR(level.x, shifted.barLength, 1e-6f);
}

TEST(EnvironmentMarkers, OneBarOnOneCell) {
    const auto environment = makeEnvironment(truss, {bar(0, 0, 0)}, {1, 1});
    const std::vector<Vector2> markers = environment->getMarkers2D();
    ASSERT_EQ(markers.size(), 3u);
    EXPECT_EQ(environment->getGridCenter(), (Vector2{0.0f, 0.0f}));
    for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(markers[k], environment->getBarGeometries()[0][k]);
    EXPECT_EQ(environment->getMinMarkerDistance(), smallestSpacing(markers));
    EXPECT_EQ(environment->getMarkerEllipse(), (Vector3{0.6f, 0.6f, 0.0f}));
    // A single bar is its own feature, under four keys.
    EXPECT_EQ(environment->getCombinations().size(), 4u);
    EXPECT_EQ(environment->getMinCombinationSize(), 1u);
}

TEST(EnvironmentMarkers, EmptyBarList) {
    const auto environment = makeEnvironment(truss, {}, {3, 2});
    EXPECT_TRUE(environment->getMarkers2D().empty());
    EXPECT_TRUE(environment->getMarkers().empty());
    EXPECT_EQ(environment->getMinMarkerDistance(), 0.5f);
    EXPECT_EQ(environment->getMarkerEllipse(), (Vector3{0.6f, 0.6f, 0.0f}));
    EXPECT_TRUE(environment->getCombinations().empty());
    EXPECT_EQ(environment->getMinCombinationSize(), std::numeric_limits<unsigned long>::max());
    EXPECT_TRUE(environment->getMarkersSearch().getPointsInCircle({0.0f, 0.0f}, 100.0f).empty());
}

TEST(EnvironmentMarkers, FollowTheBarListWithCellsRelativeToTheGridCentre) {
    Parameters floor = straight;
    floor.height = 2.5f;
    const auto environment = makeEnvironment(floor, {bar(2, 1, 1), bar(0, 0, 0), bar(3, 2, 3)}, {4, 3});
    const Vector2 center = environment->getGridCenter();
    EXPECT_FLOAT_EQ(center.x, 0.9f);
    EXPECT_FLOAT_EQ(center.y, 0.6f);
    const std::vector<Vector3> markers = environment->getMarkers();
    const std::vector<Vector3> expected{
        {0.3f, 2.5f, -0.5f},  {0.3f, 2.5f, -0.25f}, {0.3f, 2.5f, 0.5f},    // (2, 1), rotation 1
        {-1.4f, 2.5f, -0.6f}, {-1.15f, 2.5f, -0.6f}, {-0.4f, 2.5f, -0.6f},  // (0, 0), rotation 0
        {0.9f, 2.5f, 1.1f},   {0.9f, 2.5f, 0.85f},  {0.9f, 2.5f, 0.1f}};   // (3, 2), rotation 3
    ASSERT_EQ(markers.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(markers[i].x, expected[i].x, 1e-6f) << i;
        EXPECT_EQ(markers[i].y, 2.5f) << i;
        EXPECT_NEAR(markers[i].z, expected[i].z, 1e-6f) << i;
    }
    // The search index numbers markers like the list.
    const std::vector<Vector2> markers2D = environment->getMarkers2D();
    for (std::size_t i = 0; i < markers2D.size(); ++i)
        EXPECT_EQ(environment->getMarkersSearch().getPointsInCircle(markers2D[i], 0.01f),
                  std::vector<int>{static_cast<int>(i)});
}

TEST(EnvironmentQueries, ContourIsTheGridOutline) {
    const auto environment = makeEnvironment(straight, {bar(1, 1, 0)}, {4, 3});
    EXPECT_EQ(environment->getContoursCount(), 1u);
    EXPECT_EQ(environment->getContourPointsCount(0), 4u);
    EXPECT_EQ(environment->getContourPointsCount(7), 4u);
    const Vector2 corners[4] = {{-1.2f, -0.9f}, {-1.2f, 0.9f}, {1.2f, 0.9f}, {1.2f, -0.9f}};
    for (std::uint32_t point = 0; point < 4; ++point) {
        EXPECT_FLOAT_EQ(environment->getContourPoint(0, point).x, corners[point].x);
        EXPECT_FLOAT_EQ(environment->getContourPoint(0, point).y, corners[point].y);
        EXPECT_EQ(environment->getContourPoint(5, point), environment->getContourPoint(0, point));
    }
    EXPECT_EQ(environment->getContourPoint(0, 4), (Vector2{0.0f, 0.0f}));
}

TEST(EnvironmentQueries, RayFilterDependsOnTheMounting) {
    const auto floor = makeEnvironment(straight, {}, {1, 1});
    const auto ceiling = makeEnvironment(truss, {}, {1, 1});
    const Vector3 zero{0.0f, 0.0f, 0.0f}, down{0.0f, -1.0f, 0.0f}, up{0.0f, 1.0f, 0.0f};
    const Vector3 nan{std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f};
    EXPECT_FALSE(floor->filterRay(zero, zero));
    EXPECT_TRUE(ceiling->filterRay(zero, zero));
    EXPECT_TRUE(floor->filterRay(down, up));
    EXPECT_FALSE(ceiling->filterRay(down, up));
    EXPECT_FALSE(floor->filterRay(up, up));
    EXPECT_TRUE(ceiling->filterRay(up, up));
    EXPECT_FALSE(floor->filterRay(nan, up));
    EXPECT_TRUE(ceiling->filterRay(nan, up));
    EXPECT_FALSE(floor->isMutable());
    EXPECT_EQ(floor->getUpdateId(), 0u);
    EXPECT_TRUE(ceiling->getCeiling());
    EXPECT_EQ(ceiling->getMarkersHeight(), 2.5f);
}

}  // namespace
