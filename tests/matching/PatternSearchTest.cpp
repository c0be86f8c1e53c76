#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "environment/VeskEnvironment.h"
#include "matching/ConflictMatrix.h"

using LumetraMath::vector;
using Pattern = VeskEnvironment::Pattern;
using Points = std::vector<vector<float, 2>>;
using Patterns = std::vector<Pattern>;

namespace {

const vector<float, 3> markerEllipse{0.6f, 0.6f, 0.0f};  // search ellipse ((0.575, 0), (0, 0.45))

Patterns findPatterns(const Points& points, float proportion = 0.25f) {
    return VeskEnvironment::findAllPossiblePatterns(points, proportion, markerEllipse, 0.75f);
}

/// A bar from `start` along `direction` (its full length), middle marker at `proportion`.
void addBar(Points& points, vector<float, 2> start, vector<float, 2> direction, float proportion = 0.25f) {
    points.insert(points.end(), {start, start + direction * proportion, start + direction});
}

}  // namespace

TEST(PatternSearch, PatternStartsAtTheEndNearerTheMiddleMarker) {
    EXPECT_EQ(findPatterns({{0, 0}, {0.25f, 0}, {1, 0}}), (Patterns{{0, 1, 2}}));
    EXPECT_EQ(findPatterns({{1, 0}, {0.25f, 0}, {0, 0}}), (Patterns{{2, 1, 0}}));
    EXPECT_EQ(findPatterns({{0, 0}, {0.75f, 0}, {1, 0}}), (Patterns{{2, 1, 0}}));
    // A middle marker exactly half way keeps the listing order.
    EXPECT_EQ(findPatterns({{0, 0}, {1, 0}, {0.5f, 0}}, 0.5f), (Patterns{{0, 2, 1}}));
}

TEST(PatternSearch, SecondPointInsideTheEllipseDropsThePair) {
    EXPECT_TRUE(findPatterns({{0, 0}, {0.25f, 0}, {1, 0}, {0.5f, 0.05f}}).empty());
}

TEST(PatternSearch, MiddleMarkerMustLieOnTheSegmentAtTheProportion) {
    EXPECT_TRUE(findPatterns({{0, 0}, {0.25f, 0.02f}, {1, 0}}).empty());
    EXPECT_TRUE(findPatterns({{0, 0}, {0.32f, 0}, {1, 0}}).empty());
    EXPECT_EQ(findPatterns({{0, 0}, {0.28f, 0.005f}, {1, 0}}), (Patterns{{0, 1, 2}}));
}

TEST(PatternSearch, StrayTolerantTestWidensWithTheNoiseOfFarPoints) {
    // The same bar, middle marker 0.04 spans off its segment, near the projection's foot and far
    // out, where 0.05 degrees of ray noise moves a point ten times as far.
    const auto find = [](vector<float, 2> start, float rayNoise) {
        Points points;
        addBar(points, start, {0, 0.5f});
        points[1].x += 0.02f;
        return VeskEnvironment::findPatternsToleratingStrays(points, 0.25f, markerEllipse, 0.75f, rayNoise);
    };
    constexpr float noise = 8.7e-4f;
    EXPECT_TRUE(find({3, 0}, 0.0f).empty());
    EXPECT_EQ(find({3, 0}, noise), (Patterns{{0, 1, 2}}));
    EXPECT_TRUE(find({0, 0}, noise).empty());
}

TEST(PatternSearch, ProportionsBeyondTheMidpointNeverMatch) {
    for (const float where : {0.45f, 0.5f, 0.55f, 0.6f})
        EXPECT_TRUE(findPatterns({{0, 0}, {where, 0}, {1, 0}}, 0.55f).empty()) << where;
}

TEST(PatternSearch, NonFiniteHugeAndCoincidentPointsAreHarmless) {
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    Points points{{nan, 0}, {inf, inf}, {-inf, 1}, {3e38f, -3e38f}, {1, 1}, {1, 1}, {1, 1}, {0, nan}};
    addBar(points, {5, 5}, {1, 0});
    const Patterns patterns = findPatterns(points);
    for (const Pattern& pattern : patterns)
        for (std::size_t k = 0; k < 3; ++k) EXPECT_LT(pattern[k], points.size());
    EXPECT_EQ(patterns, (Patterns{{8, 9, 10}}));

    // The rest of the chain on everything such points may yield.
    const Patterns all{{0, 1, 2}, {3, 4, 5}, {4, 5, 6}, {7, 8, 9}};
    const auto lengths = VeskEnvironment::calculateLengthsForPatterns(points, all);
    const auto angles = VeskEnvironment::calcQuadAngleSinCosForPatterns(points, all);
    auto matrix = VeskEnvironment::buildMarkersConflictMatrix(all, points.size());
    ASSERT_TRUE(matrix);
    VeskEnvironment::addLengthConflictsToMatrix(*matrix, lengths, 0.5f);
    VeskEnvironment::addQuadAngleConflictsToMatrix(*matrix, angles, 0.0f);
    // Non-finite measures never compare as conflicts; only the shared rays 4 and 5 separate.
    EXPECT_EQ(matrix->solve(), (std::vector<std::vector<unsigned long>>{{0, 1, 3}, {0, 2, 3}}));
}

TEST(PatternMeasures, LengthAndQuadAngle) {
    const Points points{{0, 0}, {0, 0.5f}, {0, 2}, {1, 1}, {2, 2}};
    const Patterns patterns{{0, 1, 2}, {0, 3, 4}};
    EXPECT_EQ(VeskEnvironment::calculateLengthsForPatterns(points, patterns), (std::vector<float>{2, std::sqrt(8.0f)}));
    const auto angles = VeskEnvironment::calcQuadAngleSinCosForPatterns(points, patterns);
    ASSERT_EQ(angles.size(), 2u);
    EXPECT_NEAR(angles[0].x, 1, 1e-6);   // 90 degrees: four times is a full turn
    EXPECT_NEAR(angles[0].y, 0, 1e-6);
    EXPECT_NEAR(angles[1].x, -1, 1e-6);  // 45 degrees: half a turn
    EXPECT_NEAR(angles[1].y, 0, 1e-6);
    EXPECT_THROW(VeskEnvironment::calculateLengthsForPatterns(points, {{0, 1, 5}}), std::out_of_range);
}

TEST(PatternConflicts, PatternsSharingARayConflict) {
    const Patterns patterns{{0, 1, 2}, {2, 3, 4}, {5, 6, 7}, {100, 130, 200}, {8, 9, 200}};
    const auto matrix = VeskEnvironment::buildMarkersConflictMatrix(patterns, 201);
    ASSERT_TRUE(matrix);
    for (unsigned long i = 0; i < 5; ++i)
        for (unsigned long j = i + 1; j < 5; ++j)
            EXPECT_EQ(matrix->isConflict(i, j), (i == 0 && j == 1) || (i == 3 && j == 4)) << i << ',' << j;
}

TEST(PatternConflicts, RayIndicesBeyondTheRayCountAreNotShared) {
    const Patterns patterns{{0, 1, 2}, {2, 3, 4}, {7, 8, 9}, {9, 10, 11}};
    const auto none = VeskEnvironment::buildMarkersConflictMatrix(patterns, 0);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->isConflict(0, 1));
    const auto some = VeskEnvironment::buildMarkersConflictMatrix(patterns, 5);
    EXPECT_TRUE(some->isConflict(0, 1));
    EXPECT_FALSE(some->isConflict(2, 3));
    EXPECT_TRUE(VeskEnvironment::buildMarkersConflictMatrix({{0, 1, std::numeric_limits<unsigned long>::max()}},
                                                            std::numeric_limits<unsigned long>::max()));
}

TEST(PatternConflicts, MoreThanSixtyFourPatternsGiveNoMatrix) {
    EXPECT_TRUE(VeskEnvironment::buildMarkersConflictMatrix(Patterns(64, Pattern{0, 1, 2}), 3));
    EXPECT_FALSE(VeskEnvironment::buildMarkersConflictMatrix(Patterns(65, Pattern{0, 1, 2}), 3));
}

TEST(PatternConflicts, LengthsMayDifferByHalfTheShorterOne) {
    ConflictMatrix matrix(4);
    VeskEnvironment::addLengthConflictsToMatrix(matrix, {1.0f, 1.5f, 1.6f, 1.0f}, 0.5f);
    EXPECT_FALSE(matrix.isConflict(0, 1));
    EXPECT_TRUE(matrix.isConflict(0, 2));
    EXPECT_FALSE(matrix.isConflict(0, 3));
    EXPECT_FALSE(matrix.isConflict(1, 2));
    EXPECT_TRUE(matrix.isConflict(2, 3));
    EXPECT_THROW(VeskEnvironment::addLengthConflictsToMatrix(matrix, {1.0f}, 0.5f), std::invalid_argument);
}

TEST(PatternConflicts, DirectionsMustAgreeModuloAQuarterTurn) {
    Points points;
    addBar(points, {0, 0}, {1, 0});
    addBar(points, {5, 0}, {0, 1});                      // 90 degrees to the first
    addBar(points, {0, 5}, {std::sqrt(0.5f), std::sqrt(0.5f)});  // 45 degrees to both
    const Patterns patterns{{0, 1, 2}, {3, 4, 5}, {6, 7, 8}};
    ConflictMatrix matrix(3);
    VeskEnvironment::addQuadAngleConflictsToMatrix(
        matrix, VeskEnvironment::calcQuadAngleSinCosForPatterns(points, patterns), 0.0f);
    EXPECT_FALSE(matrix.isConflict(0, 1));
    EXPECT_TRUE(matrix.isConflict(0, 2));
    EXPECT_TRUE(matrix.isConflict(1, 2));
}

TEST(PatternGroups, GridViewFormsOneGroupAndAStrayPatternIsLeftOut) {
    Points points;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            addBar(points, {static_cast<float>(column) * 3, static_cast<float>(row) * 3},
                   (row + column) % 2 ? vector<float, 2>{0, 1} : vector<float, 2>{-1, 0});
    addBar(points, {20, 20}, {2, 1});  // turned and longer: conflicts with every bar of the grid
    const Patterns patterns = findPatterns(points);
    ASSERT_EQ(patterns.size(), 10u);
    auto matrix = VeskEnvironment::buildMarkersConflictMatrix(patterns, points.size());
    ASSERT_TRUE(matrix);
    VeskEnvironment::addLengthConflictsToMatrix(
        *matrix, VeskEnvironment::calculateLengthsForPatterns(points, patterns), 0.5f);
    VeskEnvironment::addQuadAngleConflictsToMatrix(
        *matrix, VeskEnvironment::calcQuadAngleSinCosForPatterns(points, patterns), 0.0f);
    EXPECT_EQ(matrix->solve(), (std::vector<std::vector<unsigned long>>{{0, 1, 2, 3, 4, 5, 6, 7, 8}}));
}
