#include <gtest/gtest.h>

#include <cmath>

#include "math/CrossLines.h"

using LumetraMath::crossLines;
using LumetraMath::vector;

TEST(CrossLines, SkewLinesMeetTheirCommonPerpendicular) {
    // The x axis, and a line along z through (2, 1, 0): nearest point (2, 0, 0).
    const vector<double, 3> point = crossLines({0, 0, 0}, {1, 0, 0}, {2, 1, -1}, {2, 1, 1});
    EXPECT_EQ(point, (vector<double, 3>{2, 0, 0}));
}

TEST(CrossLines, ConnectionOfNearestPointsIsPerpendicularToBothLines) {
    const vector<float, 3> a1{1, 2, 3}, a2{2, 3, 5}, b1{-1, 0, 4}, b2{0, 2, -1};
    const vector<double, 3> onA = crossLines(a1, a2, b1, b2);
    const vector<double, 3> onB = crossLines(b1, b2, a1, a2);
    const vector<double, 3> link = onA - onB;
    EXPECT_NEAR(dot(link, LumetraMath::vectorCast<double>(a2 - a1)), 0.0, 1e-5);
    EXPECT_NEAR(dot(link, LumetraMath::vectorCast<double>(b2 - b1)), 0.0, 1e-5);
    // onA lies on line A.
    const vector<double, 3> fromA1 = onA - LumetraMath::vectorCast<double>(a1);
    EXPECT_NEAR(length(cross(fromA1, LumetraMath::vectorCast<double>(a2 - a1))), 0.0, 1e-5);
}

TEST(CrossLines, ParallelLinesHaveNoNearestPoint) {
    const vector<double, 3> point = crossLines({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 1, 0});
    EXPECT_TRUE(std::isnan(point.x) && std::isnan(point.y) && std::isnan(point.z));
}
