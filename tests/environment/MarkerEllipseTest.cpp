#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "environment/Environment.h"

namespace {

using Lumetra::Vesk::Environment::HorizontalGrid::Bar;
using Lumetra::Vesk::Environment::HorizontalGrid::BarGeometry;
using Lumetra::Vesk::Environment::HorizontalGrid::Environment;
using Lumetra::Vesk::Environment::HorizontalGrid::turnByQuarters;
using Vector2 = Environment::Vector2;
using Vector3 = Environment::Vector3;
using Matrix2 = Environment::Matrix2;

Bar bar(int x, int y, int rotation) { return Bar{{x, y}, static_cast<std::uint8_t>(rotation)}; }

// Layouts and slope rotation of a bar of the given length along the slope through its cell centre.
struct Geometry {
    BarGeometry layouts[4];
    Matrix2 slopeRotation;
    float cellSize;
    float barLength;

    Geometry(float length, float proportion, float slope, float cell) : cellSize(cell), barLength(length) {
        const float c = std::cos(slope), s = std::sin(slope);
        slopeRotation = Matrix2{{c, s, -s, c}};
        const float along[3] = {-length / 2, -length / 2 + proportion * length, length / 2};
        for (int k = 0; k < 3; ++k) layouts[0][static_cast<std::size_t>(k)] = {along[k] * c, along[k] * s};
        for (unsigned r = 1; r < 4; ++r)
            for (std::size_t k = 0; k < 3; ++k) layouts[r][k] = turnByQuarters(layouts[0][k], r);
    }

    std::vector<Vector2> relativeMarkers(const std::vector<Bar>& bars) const {
        return Environment::getAllRelativeMarkers(bars, layouts, slopeRotation, cellSize, barLength);
    }
    Vector3 ellipse(const std::vector<Bar>& bars) const {
        return Environment::computeEllipse(bars, layouts, slopeRotation, cellSize, barLength);
    }
};

const Geometry truss(1.275f, 0.4f, 0.0698131695f, 0.6f);

// The neighbour table over every unordered pair, in list order: the definition the cell lookup
// must reproduce.
std::vector<Vector2> relativeMarkersOverAllPairs(const std::vector<Bar>& bars, const Geometry& g) {
    static constexpr int turns[4][4] = {{1, 0, 0, 1}, {0, -1, 1, 0}, {-1, 0, 0, -1}, {0, 1, -1, 0}};
    unsigned table[13][13] = {};
    const auto add = [&](const Bar& a, const Bar& b) {
        const int dx = b._position.x - a._position.x, dy = b._position.y - a._position.y;
        if (std::abs(dx) > 6 || std::abs(dy) > 6) return;
        const int* m = turns[(4 - a.rotation()) & 3];
        table[m[2] * dx + m[3] * dy + 6][m[0] * dx + m[1] * dy + 6] |= 1u << ((b.rotation() - a.rotation()) & 3);
    };
    for (std::size_t i = 0; i < bars.size(); ++i)
        for (std::size_t j = i + 1; j < bars.size(); ++j) {
            add(bars[i], bars[j]);
            add(bars[j], bars[i]);
        }
    const Vector2 center = (g.layouts[0][0] + g.layouts[0][2]) * 0.5f;
    std::vector<Vector2> result;
    for (int v = -6; v <= 6; ++v)
        for (int u = -6; u <= 6; ++u)
            for (unsigned k = 0; k < 4; ++k)
                if (table[v + 6][u + 6] & (1u << k))
                    for (std::size_t m = 0; m < 3; ++m) {
                        const Vector2 e{static_cast<float>(u) * g.cellSize + g.layouts[k][m].x - center.x,
                                        static_cast<float>(v) * g.cellSize + g.layouts[k][m].y - center.y};
                        result.push_back((g.slopeRotation * e) / g.barLength);
                    }
    return result;
}

TEST(RelativeMarkers, MatchTheAllPairsDefinitionOnRandomLayouts) {
    std::mt19937 random(2024);
    for (int round = 0; round < 60; ++round) {
        std::uniform_int_distribution<int> coordinate(-12, 12), rotation(0, 3), count(0, 40);
        std::vector<Bar> bars;
        for (int i = count(random); i > 0; --i) bars.push_back(bar(coordinate(random), coordinate(random), rotation(random)));
        const std::vector<Vector2> expected = relativeMarkersOverAllPairs(bars, truss);
        const std::vector<Vector2> actual = truss.relativeMarkers(bars);
        ASSERT_EQ(expected.size(), actual.size());
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], actual[i]) << i;
    }
}

TEST(RelativeMarkers, SeeNeighboursFromTheReferenceBarsFrame) {
    // A bar and its neighbour one cell further along the bar: from either bar the other lies one
    // cell ahead or behind, whatever the common rotation; a bar's own markers are never listed.
    const Geometry straight(1.0f, 0.25f, 0.0f, 0.6f);
    for (int rotation = 0; rotation < 4; ++rotation) {
        const Vector2 step = turnByQuarters({1.0f, 0.0f}, static_cast<unsigned>(rotation));
        const std::vector<Vector2> markers = straight.relativeMarkers(
            {bar(0, 0, rotation), bar(static_cast<int>(step.x), static_cast<int>(step.y), rotation)});
        const std::vector<Vector2> expected{{-1.1f, 0.0f}, {-0.85f, 0.0f}, {-0.1f, 0.0f},
                                            {0.1f, 0.0f},  {0.35f, 0.0f},  {1.1f, 0.0f}};
        ASSERT_EQ(markers.size(), expected.size()) << rotation;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_NEAR(markers[i].x, expected[i].x, 1e-6f) << rotation << " " << i;
            EXPECT_NEAR(markers[i].y, expected[i].y, 1e-6f) << rotation << " " << i;
        }
    }
    EXPECT_TRUE(straight.relativeMarkers({bar(0, 0, 0)}).empty());
    EXPECT_TRUE(straight.relativeMarkers({bar(0, 0, 0), bar(7, 0, 0), bar(0, -7, 1)}).empty());
}

TEST(EllipseFromAxis, MapsTheUnitCircleOntoTheGivenSemiAxes) {
    const Matrix2 diagonal = Environment::ellipseFromAxis({2.0f, 0.0f}, {0.0f, 0.5f});
    EXPECT_FLOAT_EQ(diagonal(0, 0), 2.0f);
    EXPECT_FLOAT_EQ(diagonal(1, 1), 0.5f);
    EXPECT_FLOAT_EQ(diagonal(0, 1), 0.0f);
    EXPECT_FLOAT_EQ(diagonal(1, 0), 0.0f);

    const Vector2 a{1.5f, 1.5f}, b{-0.25f, 0.25f};
    const Matrix2 turned = Environment::ellipseFromAxis(a, b);
    const Vector2 imageA = turned * (a / std::sqrt(a.x * a.x + a.y * a.y));
    const Vector2 imageB = turned * (b / std::sqrt(b.x * b.x + b.y * b.y));
    EXPECT_NEAR(imageA.x, a.x, 1e-6f);
    EXPECT_NEAR(imageA.y, a.y, 1e-6f);
    EXPECT_NEAR(imageB.x, b.x, 1e-6f);
    EXPECT_NEAR(imageB.y, b.y, 1e-6f);
}

TEST(MarkerEllipse, IsTheDefaultCircleWithoutNeighbours) {
    const Vector3 defaultEllipse{0.6f, 0.6f, 0.0f};
    EXPECT_EQ(truss.ellipse({}), defaultEllipse);
    EXPECT_EQ(truss.ellipse({bar(3, 4, 1)}), defaultEllipse);
    EXPECT_EQ(truss.ellipse({bar(0, 0, 0), bar(7, 0, 0)}), defaultEllipse);
    EXPECT_EQ(truss.ellipse({bar(0, 0, 0), bar(3, -7, 2), bar(-4, 7, 3)}), defaultEllipse);
}

TEST(MarkerEllipse, IsEmptyWhenANeighbourMarkerSitsOnTheBarCentre) {
    // Cells of half a bar length: the neighbour's first marker lands on the bar's centre.
    const Geometry crowded(1.0f, 0.25f, 0.0f, 0.5f);
    EXPECT_EQ(crowded.ellipse({bar(0, 0, 0), bar(1, 0, 0)}), (Vector3{0.0f, 0.0f, 0.0f}));
}

// No neighbour marker lies strictly inside, the aspect ratio is at most 3, and the area is at least
// that of the circle through the nearest neighbour marker.
void expectLargestEmptyEllipse(const Geometry& g, const std::vector<Bar>& bars) {
    const Vector3 t = g.ellipse(bars);
    const std::vector<Vector2> markers = g.relativeMarkers(bars);
    ASSERT_FALSE(markers.empty());
    EXPECT_GE(t.x, 0.0f);
    EXPECT_GT(t.y, 0.0f);
    float nearest = INFINITY;
    for (const Vector2& p : markers) {
        // w = T⁻¹ p with T = ((t00, t01), (0, t11)).
        const float wy = p.y / t.y;
        const float wx = (p.x - t.z * wy) / t.x;
        EXPECT_GE(wx * wx + wy * wy, 1.0f - 1e-4f) << p.x << " " << p.y;
        nearest = std::min(nearest, std::sqrt(p.x * p.x + p.y * p.y));
    }
    // Semi-axes are the singular values of T.
    const double a = t.x, b = t.z, d = t.y;
    const double sum = a * a + b * b + d * d, det = a * d;
    const double root = std::sqrt(sum * sum - 4 * det * det);
    const double longAxis = std::sqrt((sum + root) / 2), shortAxis = std::sqrt((sum - root) / 2);
    EXPECT_LE(longAxis / shortAxis, 3.0 + 1e-4);
    EXPECT_GE(det, double(nearest) * nearest * (1 - 1e-5));
}

TEST(MarkerEllipse, HoldsNoNeighbourMarkerAndStaysWithinTheAspectLimit) {
    std::vector<Bar> parallel, mixed;
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) {
            parallel.push_back(bar(x, y, 0));
            mixed.push_back(bar(x, y, (x + 2 * y) % 4));
        }
    expectLargestEmptyEllipse(truss, parallel);
    expectLargestEmptyEllipse(truss, mixed);
    expectLargestEmptyEllipse(Geometry(1.0f, 0.25f, 0.0f, 0.6f), parallel);
    expectLargestEmptyEllipse(Geometry(1.07286739f, 0.313040614f, -0.0555559956f, 0.6f), mixed);
}

TEST(MarkerEllipse, IsElongatedAlongTheBarBetweenParallelRows) {
    // Bars side by side across their length, one cell apart: the ellipse stretches along the bar
    // (x) as far as the aspect limit allows and is narrow across it.
    const Geometry straight(1.0f, 0.25f, 0.0f, 0.6f);
    const Vector3 t = straight.ellipse({bar(0, 0, 0), bar(0, 1, 0)});
    EXPECT_GT(t.x, t.y);
    EXPECT_NEAR(t.z, 0.0f, 1e-5f);
    EXPECT_LE(t.y, 0.6f + 1e-5f);
    expectLargestEmptyEllipse(straight, {bar(0, 0, 0), bar(0, 1, 0)});
}

}  // namespace
