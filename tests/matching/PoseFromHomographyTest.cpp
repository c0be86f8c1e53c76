#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "matching/PoseFromHomography.h"

using namespace Lumetra::Vesk::Environment::HorizontalGrid;
using LumetraMath::quaternion;
using Vector3 = LumetraMath::vector<float, 3>;
using Pattern = LumetraMath::vector<unsigned long, 3>;

namespace {

struct BarPlacement {
    Vector3 firstEnd;
    bool alongX;
};

/// What the tracker sees of a set of bars: unit rays in its own frame (stored in reverse order so
/// that patterns really index into them), one pattern per bar and the exact marker distances.
struct Observation {
    std::vector<Vector3> rays;
    std::vector<Vector3> rayLengths;
    std::vector<Pattern> patterns;
    std::vector<unsigned long> group;
    std::vector<Vector3> markers;  // world positions, three per pattern
};

Observation observe(const std::vector<BarPlacement>& bars, const Vector3& trackerPosition,
                    const quaternion<float>& trackerToWorld, float barLength = 0.6f, float middle = 0.35f) {
    Observation o;
    const std::size_t rayCount = 3 * bars.size();
    o.rays.resize(rayCount);
    for (std::size_t b = 0; b < bars.size(); ++b) {
        const Vector3 direction = bars[b].alongX ? Vector3{1, 0, 0} : Vector3{0, 0, 1};
        Pattern pattern;
        Vector3 lengths;
        for (std::size_t k = 0; k < 3; ++k) {
            const float along = (k == 0 ? 0.f : k == 1 ? middle : 1.f) * barLength;
            const Vector3 marker = bars[b].firstEnd + direction * along;
            const Vector3 toMarker = marker - trackerPosition;
            const float distance = LumetraMath::length(toMarker);
            const std::size_t rayIndex = rayCount - 1 - (3 * b + k);
            o.rays[rayIndex] = LumetraMath::mul(LumetraMath::conjugate(trackerToWorld), toMarker / distance);
            pattern[k] = rayIndex;
            lengths[k] = distance;
            o.markers.push_back(marker);
        }
        o.patterns.push_back(pattern);
        o.rayLengths.push_back(lengths);
        o.group.push_back(b);
    }
    return o;
}

quaternion<float> yawRotation(float yaw) { return LumetraMath::quaternionFromAxisAngle(Vector3{0, 1, 0}, yaw); }

/// Largest minus smallest marker height in the frame that `rotation` levels the tracker into.
float heightSpread(const Observation& o, const quaternion<float>& rotation) {
    float lowest = INFINITY, highest = -INFINITY;
    for (std::size_t p = 0; p < o.patterns.size(); ++p)
        for (std::size_t k = 0; k < 3; ++k) {
            const float y = LumetraMath::mul(rotation, o.rays[o.patterns[p][k]]).y * o.rayLengths[p][k];
            lowest = std::min(lowest, y);
            highest = std::max(highest, y);
        }
    return highest - lowest;
}

/// Angle between two rotations, radians.
double angleBetween(const quaternion<float>& a, const quaternion<float>& b) {
    const double d = std::abs(double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z + double(a.w) * b.w);
    return 2 * std::acos(std::min(1.0, d));
}

bool finite(const HomographyResult& r) {
    for (const float v : {r.rotation.x, r.rotation.y, r.rotation.z, r.rotation.w, r.offset.x, r.offset.y, r.offset.z})
        if (!std::isfinite(v)) return false;
    return true;
}

// Bars at varied distances on the floor plane y = 0, some along x and some along z.
const std::vector<BarPlacement> floorBars{{{-1.2f, 0, -0.3f}, true},
                                           {{0.6f, 0, -0.9f}, false},
                                           {{0.0f, 0, 0.6f}, true},
                                           {{-2.4f, 0, 1.8f}, false},
                                           {{3.0f, 0, 2.4f}, true}};

}  // namespace

TEST(PoseFromHomography, LevelTrackerOverAxisParallelBarsNeedsNoCorrection) {
    const float yaw = 0.4f;
    const Vector3 tracker{0.3f, 1.7f, -0.2f};
    const Observation o = observe(floorBars, tracker, yawRotation(yaw));
    const HomographyResult result = findHomography(o.rays, o.rayLengths, o.patterns, o.group, yaw);

    const quaternion<float> q0 = yawRotation(yaw);
    EXPECT_NEAR(result.rotation.x, q0.x, 1e-6);
    EXPECT_NEAR(result.rotation.y, q0.y, 1e-6);
    EXPECT_NEAR(result.rotation.z, q0.z, 1e-6);
    EXPECT_NEAR(result.rotation.w, q0.w, 1e-6);

    // Offset: minus the centroid of (marker - tracker) weighted by |r0 x r2|^4 of each bar.
    Vector3 weightedSum{};
    double weightSum = 0;
    for (std::size_t p = 0; p < o.patterns.size(); ++p) {
        const Vector3 r0 = (o.markers[3 * p] - tracker) / o.rayLengths[p].x;
        const Vector3 r2 = (o.markers[3 * p + 2] - tracker) / o.rayLengths[p].z;
        const float squaredSize = LumetraMath::squaredLength(LumetraMath::cross(r0, r2));
        const float weight = squaredSize * squaredSize;
        for (std::size_t k = 0; k < 3; ++k) weightedSum += (o.markers[3 * p + k] - tracker) * weight;
        weightSum += 3 * weight;
    }
    const Vector3 expected = -weightedSum / float(weightSum);
    EXPECT_NEAR(result.offset.x, expected.x, 1e-4);
    EXPECT_NEAR(result.offset.y, expected.y, 1e-4);
    EXPECT_NEAR(result.offset.z, expected.z, 1e-4);
    EXPECT_NEAR(result.offset.y, 1.7f, 1e-4);
}

TEST(PoseFromHomography, TiltedTrackerIsLevelledAndItsYawSnapsToTheBars) {
    const float yaw = -0.7f;
    const Vector3 tracker{-0.4f, 2.1f, 0.5f};
    for (const Vector3& tiltAxis : {Vector3{1, 0, 0}, Vector3{0, 0, 1}, Vector3{1, 0.3f, -0.6f}}) {
        // Tilted by 4 degrees, and turned 2 degrees away from the yaw guess.
        const quaternion<float> truth = LumetraMath::quaternionFromAxisAngle(tiltAxis, 0.07f) * yawRotation(yaw + 0.035f);
        const Observation o = observe(floorBars, tracker, truth);
        const HomographyResult result = findHomography(o.rays, o.rayLengths, o.patterns, o.group, yaw);

        const float before = heightSpread(o, yawRotation(yaw));
        const float after = heightSpread(o, result.rotation);
        EXPECT_GT(before, 0.05f);
        EXPECT_LT(after, before * 1e-3f);
        EXPECT_LT(angleBetween(result.rotation, truth), 1e-4);
        EXPECT_NEAR(result.offset.y, 2.1f, 1e-3);
    }
}

TEST(PoseFromHomography, OffsetHeightIsPositiveOverAFloorAndNegativeUnderACeiling) {
    const Vector3 tracker{0.1f, 1.0f, 0.2f};
    std::vector<BarPlacement> ceilingBars = floorBars;
    for (auto& bar : ceilingBars) bar.firstEnd.y = 2.5f;
    const Observation floor = observe(floorBars, tracker, yawRotation(0.f));
    const Observation ceiling = observe(ceilingBars, tracker, yawRotation(0.f));
    EXPECT_NEAR(findHomography(floor.rays, floor.rayLengths, floor.patterns, floor.group, 0.f).offset.y, 1.0f, 1e-4);
    EXPECT_NEAR(findHomography(ceiling.rays, ceiling.rayLengths, ceiling.patterns, ceiling.group, 0.f).offset.y,
                -1.5f, 1e-4);
}

TEST(PoseFromHomography, SingleBarGivesAFiniteStep) {
    const quaternion<float> truth = LumetraMath::quaternionFromAxisAngle(Vector3{1, 0, 1}, 0.05f);
    for (const bool alongX : {true, false}) {
        const Observation o = observe({{{0.4f, 0, -0.5f}, alongX}}, {0, 1.5f, 0}, truth);
        const HomographyResult result = findHomography(o.rays, o.rayLengths, o.patterns, o.group, 0.f);
        EXPECT_TRUE(finite(result));
        EXPECT_NEAR(LumetraMath::length(result.offset), 1.5f, 0.3f);
    }
}

TEST(PoseFromHomography, OnlyTheGroupsPatternsCount) {
    const Vector3 tracker{0.3f, 1.7f, -0.2f};
    Observation o = observe(floorBars, tracker, yawRotation(0.f));
    const HomographyResult all = findHomography(o.rays, o.rayLengths, o.patterns, o.group, 0.f);
    // A wildly wrong extra pattern outside the group changes nothing.
    o.patterns.push_back({0, 4, 8});
    o.rayLengths.push_back({100, 0.01f, 7});
    const HomographyResult same = findHomography(o.rays, o.rayLengths, o.patterns, o.group, 0.f);
    EXPECT_EQ(all.offset, same.offset);
    EXPECT_EQ(all.rotation, same.rotation);
}

TEST(PoseFromHomography, DegenerateInputDoesNotCrash) {
    const std::vector<Vector3> rays{{0, -1, 0}, {0, -1, 0}, {0, -1, 0}};
    const std::vector<Vector3> lengths{{1, 1, 1}};
    const std::vector<Pattern> patterns{{0, 1, 2}};
    findHomography(rays, lengths, patterns, {0}, 0.f);  // parallel rays: all weights zero
    findHomography(rays, lengths, patterns, {}, 0.f);   // empty group
    EXPECT_THROW(findHomography(rays, lengths, patterns, {1}, 0.f), std::out_of_range);
    EXPECT_THROW(findHomography(rays, lengths, {{0, 1, 3}}, {0}, 0.f), std::out_of_range);
}
