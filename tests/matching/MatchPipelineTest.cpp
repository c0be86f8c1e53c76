#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <random>
#include <vector>

#include "catalogue/FeatureCalculator.h"
#include "environment/Environment.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {
namespace {

using Vesk::Environment::MarkerIndex;
using Vesk::Environment::HorizontalGrid::Bar;
using Vesk::Environment::HorizontalGrid::directionToRotationId;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;
using Vesk::Environment::HorizontalGrid::FeatureCalculator;
using Pose = LumetraMath::poseP3Q<float>;

constexpr unsigned long openId = ~0ul;
constexpr double degree = 3.14159265358979323846 / 180.0;

Bar bar(int x, int y, int rotation) { return Bar{{x, y}, static_cast<std::uint8_t>(rotation)}; }

/// Short bars on a small floor grid: five bars in one 6 × 6 window, so every four of them form a
/// catalogued feature.
EnvironmentDescription smallFloor() {
    EnvironmentDescription d = matchGeometries()[2].geometry;
    d.size = {8, 8};
    d.bars = {bar(1, 1, 0), bar(3, 1, 1), bar(1, 4, 2), bar(5, 3, 3), bar(4, 6, 0)};
    return d;
}

/// A level view of a random short-bar layout that match identifies.
struct MatchedView {
    EnvironmentDescription layout;
    View view;
};

MatchedView matchedLevelView(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const MatchGeometry geometry = matchGeometries()[2];
    for (int attempt = 0; attempt < 100; ++attempt) {
        MatchedView found{randomMatchLayout(geometry, 16, 16, rng), {}};
        const auto environment = makeEnvironment(found.layout);
        const std::optional<View> view = drawView(environment->getMarkers(), geometry, found.layout, 0.0,
                                                  FrameOptions{.fieldOfViewHalfAngle = 60 * degree}, 6, 1000, rng);
        std::vector<MarkerIndex> indices;
        Pose pose;
        if (view && environment->match(view->frame.rays, indices, pose)) {
            found.view = *view;
            return found;
        }
    }
    throw std::runtime_error("no matched view found");
}

/// Outputs that match must leave alone when it fails early.
struct Untouched {
    std::vector<MarkerIndex> indices{7, 8, 9};
    Pose pose{{1, 2, 3}, {0.5f, 0.5f, 0.5f, 0.5f}};

    void expectUnchanged() const {
        EXPECT_EQ(indices, (std::vector<MarkerIndex>{7, 8, 9}));
        EXPECT_EQ(pose.position, (Point3{1, 2, 3}));
        EXPECT_EQ(pose.rotation, (LumetraMath::quaternion<float>{0.5f, 0.5f, 0.5f, 0.5f}));
    }
};

TEST(DirectionToRotationId, QuantisesToTheNearestAxisWithTiesToY) {
    EXPECT_EQ(directionToRotationId({1.0f, 0.2f}), 0);
    EXPECT_EQ(directionToRotationId({-1.0f, 0.2f}), 2);
    EXPECT_EQ(directionToRotationId({0.2f, 1.0f}), 1);
    EXPECT_EQ(directionToRotationId({0.2f, -1.0f}), 3);
    EXPECT_EQ(directionToRotationId({1.0f, 1.0f}), 1);
    EXPECT_EQ(directionToRotationId({-1.0f, -1.0f}), 3);
    EXPECT_EQ(directionToRotationId({1.0f, -1.0f}), 3);
    EXPECT_EQ(directionToRotationId({0.0f, 0.0f}), 3);
    EXPECT_EQ(directionToRotationId({std::nanf(""), 1.0f}), 1);
}

TEST(MatchFailure, FewerRaysThanTheSmallestFeatureNeedsLeavesOutputsUntouched) {
    const auto environment = makeEnvironment(smallFloor());
    const unsigned long needed = 3 * environment->getMinCombinationSize();
    ASSERT_GE(needed, 3u);
    const MatchedView matched = matchedLevelView(3);
    const std::vector<Point3> rays(matched.view.frame.rays.begin(),
                                   matched.view.frame.rays.begin() + static_cast<long>(needed - 1));
    Untouched outputs;
    EXPECT_FALSE(environment->match(rays, outputs.indices, outputs.pose));
    outputs.expectUnchanged();
}

TEST(MatchFailure, AnEmptyCatalogueNeverMatches) {
    const MatchedView matched = matchedLevelView(4);
    EnvironmentDescription empty = matched.layout;
    empty.bars.clear();
    const auto environment = makeEnvironment(empty);
    ASSERT_EQ(environment->getMinCombinationSize(), std::numeric_limits<unsigned long>::max());
    Untouched outputs;
    EXPECT_FALSE(environment->match(matched.view.frame.rays, outputs.indices, outputs.pose));
    outputs.expectUnchanged();
}

TEST(MatchFailure, MoreThanSixtyFourPatternsAreRefused) {
    // Seventy bar-shaped triples, far apart on the plane one unit below the tracker.
    const auto environment = makeEnvironment(smallFloor());
    const float p = environment->barProportion;
    std::vector<Point3> rays;
    for (int i = 0; i < 70; ++i) {
        const float x = static_cast<float>(i % 10) * 8.0f - 36.0f, z = static_cast<float>(i / 10) * 8.0f - 28.0f;
        for (float along : {0.0f, p, 1.0f}) {
            const Point3 ray{x + along, -1.0f, z};
            rays.push_back(ray / LumetraMath::length(ray));
        }
    }
    std::vector<LumetraMath::vector<float, 2>> points;
    for (const Point3& ray : rays) points.push_back({-ray.x / ray.y, -ray.z / ray.y});
    ASSERT_GT(VeskEnvironment::findAllPossiblePatterns(points, p, environment->getMarkerEllipse(), 0.75f).size(), 64u);

    Untouched outputs;
    EXPECT_FALSE(environment->match(rays, outputs.indices, outputs.pose));
    outputs.expectUnchanged();
}

TEST(MatchFailure, FramesAboveTheRayLimitAreRefusedAtOnce) {
    const MatchedView matched = matchedLevelView(5);
    const auto environment = makeEnvironment(matched.layout);
    std::vector<Point3> rays = matched.view.frame.rays;
    while (rays.size() <= 512) rays.push_back({0.6f, -0.8f, 0.0f});
    Untouched outputs;
    EXPECT_FALSE(environment->match(rays, outputs.indices, outputs.pose));
    outputs.expectUnchanged();
}

TEST(MatchOutcome, CollidingRaysMakeTheResultFalseButKeepThePose) {
    const MatchedView matched = matchedLevelView(6);
    const auto environment = makeEnvironment(matched.layout);
    const Frame& frame = matched.view.frame;
    std::vector<MarkerIndex> indices;
    Pose pose;
    ASSERT_TRUE(environment->match(frame.rays, indices, pose));
    ASSERT_EQ(indices, frame.markerNumbers);

    // A second ray on a marker of an incompletely seen bar (turned by 1e-4 rad, so not the same ray
    // given twice) is numbered by reprojection, and collides.
    std::size_t lone = frame.rays.size();
    for (std::size_t i = 0; i < frame.rays.size() && lone == frame.rays.size(); ++i) {
        const MarkerIndex barStart = frame.markerNumbers[i] / 3 * 3;
        std::size_t seen = 0;
        for (MarkerIndex m : frame.markerNumbers) seen += m >= barStart && m < barStart + 3;
        if (seen < 3) lone = i;
    }
    if (lone == frame.rays.size()) GTEST_SKIP() << "every bar of the view is complete";
    std::vector<Point3> rays = frame.rays;
    const Point3 beside = rays[lone] + Point3{1e-4f, 0.0f, 0.0f};
    rays.push_back(beside / LumetraMath::length(beside));

    std::vector<MarkerIndex> collided;
    Pose collidedPose;
    EXPECT_FALSE(environment->match(rays, collided, collidedPose));
    // The pose is written, fitted to the frame's rays but the two that claim one marker.
    EXPECT_LT(LumetraMath::length(collidedPose.position - pose.position), 1e-5f);
    const auto turn = collidedPose.rotation * LumetraMath::conjugate(pose.rotation);
    EXPECT_LT(LumetraMath::length(Point3{turn.x, turn.y, turn.z}), 1e-6f);
    ASSERT_EQ(collided.size(), rays.size());
    EXPECT_EQ(collided[lone], 0xFFFFFFFFu);
    EXPECT_EQ(collided.back(), 0xFFFFFFFFu);
    for (std::size_t i = 0; i < frame.rays.size(); ++i)
        if (i != lone) {
            EXPECT_EQ(collided[i], frame.markerNumbers[i]);
        }
}

/// A view's rays with one more: towards a point `offset` (in units of the search radius) from a
/// marker that the view does not show and that has no other marker near it.
struct ViewWithStrayRay {
    std::vector<Point3> rays;
    MarkerIndex marker;
};

ViewWithStrayRay withRayNearUnseenMarker(const Vesk::Environment::HorizontalGrid::Environment& environment,
                                         const View& view, float offset) {
    const std::vector<LumetraMath::vector<float, 2>> markers = environment.getMarkers2D();
    const float radius = environment.getMinMarkerDistance() * environment.getMarkerSearchFactor();
    for (MarkerIndex m = 0; m < markers.size(); ++m) {
        if (std::find(view.frame.markerNumbers.begin(), view.frame.markerNumbers.end(), m) !=
            view.frame.markerNumbers.end())
            continue;
        const LumetraMath::vector<float, 2> target = markers[m] + LumetraMath::vector<float, 2>{offset * radius, 0.0f};
        const bool alone = std::none_of(markers.begin(), markers.end(), [&](const auto& other) {
            return &other != &markers[m] && LumetraMath::length(other - target) <= 2.0f * radius;
        });
        if (!alone) continue;
        const Point3d toTarget =
            Point3d{target.x, environment.getMarkersHeight(), target.y} - view.pose.position;
        const Point3d inTracker = LumetraMath::mul(LumetraMath::conjugate(view.pose.rotation()), toTarget);
        ViewWithStrayRay result{view.frame.rays, m};
        result.rays.push_back(LumetraMath::vectorCast<float>(inTracker / LumetraMath::length(inTracker)));
        return result;
    }
    throw std::runtime_error("no lone unseen marker");
}

TEST(MatchOutcome, ANumberThePoseCannotConfirmIsWithdrawn) {
    // A ray outside the group that the refined pose passes close to an unseen marker takes its
    // number; one that passes it beyond the confirmation margin (but inside the search radius)
    // keeps MarkerNotFound, and the rest of the frame stands.
    const MatchedView matched = matchedLevelView(9);
    const auto environment = makeEnvironment(matched.layout);

    const ViewWithStrayRay near = withRayNearUnseenMarker(*environment, matched.view, 0.1f);
    std::vector<MarkerIndex> indices;
    Pose pose;
    ASSERT_TRUE(environment->match(near.rays, indices, pose));
    EXPECT_EQ(indices.back(), near.marker);

    const ViewWithStrayRay far = withRayNearUnseenMarker(*environment, matched.view, 0.5f);
    ASSERT_TRUE(environment->match(far.rays, indices, pose));
    EXPECT_EQ(indices.back(), Vesk::Environment::MarkerNotFound);
    indices.pop_back();
    EXPECT_EQ(indices, matched.view.frame.markerNumbers);
}

TEST(MatchOutcome, AGrazingRayOnAnUnseenMarkerIsLeftUnnumbered) {
    // Noise moves a grazing ray's point on the marker plane by h / cos^2 of the incidence: where two
    // sigmas of it reach beyond half the marker spacing the number is ambiguous, even for a ray that
    // points at a marker exactly. The rays get noise near the 0.05 degree prior.
    const MatchedView matched = matchedLevelView(9);
    const auto environment = makeEnvironment(matched.layout);
    const auto markers = environment->getMarkers2D();
    const Point3d eye = matched.view.pose.position;
    const double height = std::abs(environment->getMarkersHeight() - eye.y);
    MarkerIndex farthest = 0;
    double farthestRange = 0;
    for (MarkerIndex m = 0; m < markers.size(); ++m) {
        const double range = std::hypot(markers[m].x - eye.x, markers[m].y - eye.z);
        if (range > farthestRange) farthest = m, farthestRange = range;
    }
    constexpr double noise = 8.7e-4;
    const double reach = 2 * noise * (height * height + farthestRange * farthestRange) / height;
    ASSERT_GT(reach, 0.5 * environment->getMinMarkerDistance());
    const Point3d toMarker = Point3d{markers[farthest].x, environment->getMarkersHeight(), markers[farthest].y} - eye;
    const Point3d inTracker = LumetraMath::mul(LumetraMath::conjugate(matched.view.pose.rotation()), toMarker);
    std::vector<Point3> noisy = matched.view.frame.rays;
    std::mt19937_64 rng(4);
    std::normal_distribution<float> jitter(0.0f, static_cast<float>(0.6 * noise));
    for (Point3& ray : noisy) ray = ray / LumetraMath::length(ray) + Point3{jitter(rng), jitter(rng), jitter(rng)};
    noisy.push_back(LumetraMath::vectorCast<float>(inTracker / LumetraMath::length(inTracker)));
    std::vector<MarkerIndex> indices;
    Pose pose;
    ASSERT_TRUE(environment->match(noisy, indices, pose));
    EXPECT_EQ(indices.back(), Vesk::Environment::MarkerNotFound);
    for (std::size_t i = 0; i + 1 < indices.size(); ++i)
        if (indices[i] != Vesk::Environment::MarkerNotFound) {
            EXPECT_EQ(indices[i], matched.view.frame.markerNumbers[i]);
        }
}

TEST(MatchRobustness, NeverThrowsOnDegenerateRays) {
    const MatchedView matched = matchedLevelView(7);
    const auto environment = makeEnvironment(matched.layout);
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Point3> oddities{{0, 0, 0},    {1, 0, 0},          {nan, -1, 0},    {0, nan, 0},
                                       {inf, -1, 0}, {0, -inf, 0},       {0, inf, 0},     {1e30f, -1e-30f, 0},
                                       {0, -1e-38f, 1e38f}, {-1e30f, 1e30f, 1e30f}, {0, -1, 0}, {0, 1, 0}};
    std::mt19937_64 rng(8);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<Point3> rays = matched.view.frame.rays;
        const std::size_t changes = std::uniform_int_distribution<std::size_t>(1, 6)(rng);
        for (std::size_t c = 0; c < changes; ++c) {
            const Point3 odd = oddities[std::uniform_int_distribution<std::size_t>(0, oddities.size() - 1)(rng)];
            const std::size_t at = std::uniform_int_distribution<std::size_t>(0, rays.size() - 1)(rng);
            // Replace a ray, repeat one, or add an odd one.
            switch (trial % 3) {
                case 0: rays[at] = odd; break;
                case 1: rays.push_back(rays[at]); break;
                default: rays.insert(rays.begin() + static_cast<long>(at), odd); break;
            }
        }
        std::vector<MarkerIndex> indices;
        Pose pose;
        bool matchedRays = false;
        ASSERT_NO_THROW(matchedRays = environment->match(rays, indices, pose)) << "trial " << trial;
        if (matchedRays) {
            EXPECT_EQ(indices.size(), rays.size());
        }
    }
    // Frames made only of degenerate rays.
    for (const Point3& odd : oddities) {
        std::vector<MarkerIndex> indices;
        Pose pose;
        EXPECT_NO_THROW(environment->match(std::vector<Point3>(30, odd), indices, pose));
    }
}

TEST(DetectFeatures, UsesTheSmallestObservedKeyThatIsCatalogued) {
    const auto environment = makeEnvironment(smallFloor());
    // The field's bars moved elsewhere: every four of the five form a catalogued feature.
    std::vector<Bar> observed = environment->getField().bars();
    for (Bar& b : observed) b._position = {b._position.x + 20, b._position.y - 7};

    const auto keys = FeatureCalculator::getCombinationsForBarsOnGrid(observed, true);
    std::size_t catalogued = 0;
    const std::vector<unsigned long>* first = nullptr;
    for (const auto& [key, places] : keys)
        if (environment->getCombinations().count(key) && catalogued++ == 0) first = &places;
    ASSERT_GE(catalogued, 2u);

    const auto ids = environment->detectFeatures(observed);
    ASSERT_TRUE(ids.has_value());
    ASSERT_EQ(ids->size(), observed.size());
    for (std::size_t i = 0; i < observed.size(); ++i) {
        const bool inFirst = std::find(first->begin(), first->end(), i) != first->end();
        EXPECT_EQ((*ids)[i], inFirst ? i : openId) << "bar " << i;
    }
}

TEST(DetectFeatures, FindsNothingForAnUnknownArrangement) {
    const auto environment = makeEnvironment(smallFloor());
    EXPECT_FALSE(environment->detectFeatures({bar(0, 0, 0), bar(1, 0, 2)}).has_value());
    EXPECT_FALSE(environment->detectFeatures({}).has_value());
}

TEST(Juxtapose, LaysATurnedArrangementOntoTheField) {
    const auto environment = makeEnvironment(smallFloor());
    const std::vector<Bar>& fieldBars = environment->getField().bars();
    // The field's bars turned by a quarter turn and moved, as a camera turned the other way sees them.
    std::vector<Bar> observed;
    for (const Bar& b : fieldBars)
        observed.push_back(bar(-b._position.y + 3, b._position.x - 2, static_cast<int>((b._properties + 1) & 3)));
    std::vector<unsigned long> ids(observed.size(), openId);
    ids[2] = 2;

    const auto placed = environment->juxtapose(observed, ids);
    ASSERT_TRUE(placed.success);
    EXPECT_EQ(placed.rotation, 3);
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], i);
}

TEST(Juxtapose, FailsOnABarMissingFromTheField) {
    const auto environment = makeEnvironment(smallFloor());
    const std::vector<Bar>& fieldBars = environment->getField().bars();
    // Bar 0 as anchor, bar 1 where the field has it, then a cell that holds no bar.
    std::vector<Bar> observed{fieldBars[0], fieldBars[1], bar(7, 7, 0)};
    std::vector<unsigned long> ids{0, openId, openId};
    EXPECT_FALSE(environment->juxtapose(observed, ids).success);
    EXPECT_EQ(ids, (std::vector<unsigned long>{0, 1, openId}));

    std::vector<unsigned long> noAnchor(observed.size(), openId);
    EXPECT_FALSE(environment->juxtapose(observed, noAnchor).success);
    std::vector<unsigned long> wrongLength{0};
    EXPECT_FALSE(environment->juxtapose(observed, wrongLength).success);
}

TEST(Juxtapose, HandlesCellsAtTheLimitsOfInt) {
    const auto environment = makeEnvironment(smallFloor());
    const int big = std::numeric_limits<int>::max(), small = std::numeric_limits<int>::min();
    // The anchor's turn of a half turn negates the extreme cells.
    const Bar anchor = environment->getField().bars()[0];
    std::vector<Bar> observed{bar(anchor._position.x, anchor._position.y, (anchor._properties + 2) & 3),
                              bar(big, small, 1), bar(small, big, 2)};
    std::vector<unsigned long> ids{0, openId, openId};
    EXPECT_FALSE(environment->juxtapose(observed, ids).success);
}

}  // namespace
}  // namespace Lumetra::Testing
