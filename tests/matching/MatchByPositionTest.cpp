#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {
namespace {

using Vesk::Environment::MarkerIndex;
using Vesk::Environment::HorizontalGrid::Bar;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

constexpr MarkerIndex notFound = 0xFFFFFFFE;
constexpr MarkerIndex cleared = 0xFFFFFFFF;

/// Two short bars on the floor, side by side.
EnvironmentDescription twoBars() {
    EnvironmentDescription d = matchGeometries()[2].geometry;
    d.size = {4, 3};
    d.bars = {Bar{{1, 1}, 0}, Bar{{2, 1}, 1}};
    return d;
}

class MatchByPosition : public ::testing::Test {
protected:
    const InterfaceContract::InterfacePtr<Vesk::Environment::HorizontalGrid::Environment> environment =
        makeEnvironment(twoBars());
    const std::vector<Point3> markers = environment->getMarkers();
    const Point3 position{0.1f, 1.0f, -0.2f};

    Point3 towards(std::size_t marker) const { return markers[marker] - position; }
};

TEST_F(MatchByPosition, NumbersEachRayByTheMarkerItHits) {
    std::vector<Point3> rays;
    for (std::size_t i = markers.size(); i-- > 0;) rays.push_back(towards(i));
    const std::vector<MarkerIndex> found = environment->matchByPosition(rays, position);
    ASSERT_EQ(found.size(), markers.size());
    for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i], markers.size() - 1 - i);
    // Ray length does not matter.
    EXPECT_EQ(environment->matchByPosition({towards(4) * 3.5f}, position), (std::vector<MarkerIndex>{4}));
}

TEST_F(MatchByPosition, RaysOnOneMarkerCancelInPairs) {
    EXPECT_EQ(environment->matchByPosition({towards(2), towards(1), towards(2)}, position),
              (std::vector<MarkerIndex>{cleared, 1, cleared}));
    EXPECT_EQ(environment->matchByPosition({towards(2), towards(2), towards(5), towards(2)}, position),
              (std::vector<MarkerIndex>{cleared, cleared, 5, 2}));
}

TEST_F(MatchByPosition, AmbiguousOrMissedHitsFindNothing) {
    // Midway between the two closest markers both lie within the search radius.
    float closest = std::numeric_limits<float>::infinity();
    std::size_t a = 0, b = 1;
    for (std::size_t i = 0; i < markers.size(); ++i)
        for (std::size_t j = i + 1; j < markers.size(); ++j)
            if (const float d = LumetraMath::length(markers[i] - markers[j]); d < closest) {
                closest = d;
                a = i;
                b = j;
            }
    const Point3 midway = (markers[a] + markers[b]) * 0.5f - position;
    const Point3 faraway = Point3{5.0f, 0.0f, 5.0f} - position;
    const std::vector<MarkerIndex> found =
        environment->matchByPosition({midway, faraway, towards(0), faraway}, position);
    EXPECT_EQ(found, (std::vector<MarkerIndex>{notFound, notFound, 0, notFound}));
}

TEST_F(MatchByPosition, DegenerateRaysAndPositionsFindNothing) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Point3> rays{{1, 0, 0}, {0, 0, 0}, {nan, -1, 0}, {inf, -1, 0}, {0, -inf, 0}, {1e30f, -1e-30f, 0}};
    EXPECT_EQ(environment->matchByPosition(rays, position), std::vector<MarkerIndex>(rays.size(), notFound));
    for (const Point3& odd : {Point3{nan, 1, 0}, Point3{0, inf, 0}, Point3{-1e38f, 1e38f, 0}})
        EXPECT_EQ(environment->matchByPosition({towards(0)}, odd), (std::vector<MarkerIndex>{notFound}));
    EXPECT_TRUE(environment->matchByPosition({}, position).empty());
}

}  // namespace
}  // namespace Lumetra::Testing
