// The synthetic frames the matching tests rely on must be what a tracker would see.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "simulation/FrameGenerator.h"

namespace Lumetra::Testing {
namespace {

constexpr double degree = 3.14159265358979323846 / 180.0;

std::vector<Point3> markerLattice() {
    std::vector<Point3> markers;
    for (int x = -10; x <= 10; ++x)
        for (int z = -10; z <= 10; ++z)
            markers.push_back({0.3f * static_cast<float>(x), 0.0f, 0.3f * static_cast<float>(z)});
    return markers;
}

TEST(FrameGenerator, RaysPointFromThePoseAtTheirMarkers) {
    const std::vector<Point3> markers = markerLattice();
    TrackerPose pose{{0.2, 1.8, -0.4}, 0.7, {0.6, 0.0, 0.8}, 12 * degree};
    const Frame frame = generateFrame(markers, pose, FrameOptions{.fieldOfViewHalfAngle = 50 * degree});
    ASSERT_GT(frame.rays.size(), 20u);
    ASSERT_EQ(frame.markerNumbers.size(), frame.rays.size());

    const auto rotation = pose.rotation();
    for (std::size_t i = 0; i < frame.rays.size(); ++i) {
        const Point3d tracker = LumetraMath::vectorCast<double>(frame.rays[i]);
        EXPECT_NEAR(LumetraMath::length(tracker), 1.0, 1e-6);
        // Cast from the pose, the ray passes through its marker.
        const Point3d world = LumetraMath::mul(rotation, tracker);
        const Point3d toMarker = LumetraMath::vectorCast<double>(markers[frame.markerNumbers[i]]) - pose.position;
        EXPECT_NEAR(LumetraMath::length(LumetraMath::cross(world, toMarker)), 0.0, 1e-5);
        EXPECT_GT(LumetraMath::dot(world, toMarker), 0.0);
        EXPECT_NEAR(LumetraMath::length(LumetraMath::vectorCast<double>(frame.worldRays[i]) - world), 0.0, 1e-6);
        // Inside the cone about the tracker's downward axis.
        EXPECT_LE(-tracker.y, 1.0);
        EXPECT_GE(-tracker.y, std::cos(50 * degree) - 1e-6);
    }
    // Each marker at most once, in shuffled order.
    std::vector<std::uint32_t> numbers = frame.markerNumbers;
    EXPECT_FALSE(std::is_sorted(numbers.begin(), numbers.end()));
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
}

TEST(FrameGenerator, OptionsDropAddAndDisturbRays) {
    const std::vector<Point3> markers = markerLattice();
    const TrackerPose pose{{0.0, 2.0, 0.0}};
    const FrameOptions exact{.fieldOfViewHalfAngle = 40 * degree, .seed = 3};
    const std::size_t visible = generateFrame(markers, pose, exact).rays.size();

    FrameOptions dropAll = exact;
    dropAll.dropProbability = 1.0;
    dropAll.spuriousRays = 5;
    const Frame spurious = generateFrame(markers, pose, dropAll);
    ASSERT_EQ(spurious.rays.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(spurious.markerNumbers[i], spuriousMarker);
        EXPECT_GE(-spurious.rays[i].y, std::cos(40 * degree) - 1e-6);
    }

    FrameOptions noisy = exact;
    noisy.angularNoise = 0.01;
    const Frame disturbed = generateFrame(markers, pose, noisy);
    ASSERT_EQ(disturbed.rays.size(), visible);
    double largest = 0;
    for (std::size_t i = 0; i < disturbed.rays.size(); ++i) {
        const Point3d toMarker =
            LumetraMath::vectorCast<double>(markers[disturbed.markerNumbers[i]]) - pose.position;
        const Point3d ray = LumetraMath::vectorCast<double>(disturbed.worldRays[i]);
        const double cosine = LumetraMath::dot(ray, toMarker) / LumetraMath::length(toMarker);
        largest = std::max(largest, std::acos(std::min(1.0, cosine)));
    }
    EXPECT_GT(largest, 0.005);
    EXPECT_LT(largest, 0.08);
}

TEST(FrameGenerator, RandomLayoutsKeepTheirSpacing) {
    std::mt19937_64 rng(4);
    for (int spacing : {0, 1, 2}) {
        const auto layout = randomLayout({}, 20, 15, 0.8, spacing, rng);
        EXPECT_EQ(layout.size.x, 20u);
        EXPECT_EQ(layout.size.y, 15u);
        ASSERT_GT(layout.bars.size(), 10u);
        for (std::size_t i = 0; i < layout.bars.size(); ++i) {
            const auto& a = layout.bars[i]._position;
            EXPECT_TRUE(a.x >= 0 && a.x < 20 && a.y >= 0 && a.y < 15);
            EXPECT_LT(layout.bars[i]._properties, 4);
            for (std::size_t j = i + 1; j < layout.bars.size(); ++j) {
                const auto& b = layout.bars[j]._position;
                EXPECT_GT(std::max(std::abs(a.x - b.x), std::abs(a.y - b.y)), spacing);
            }
        }
    }
    // Bars in line (along either one: rotations 0 and 2 along x) keep two cells free between them.
    const auto layout = randomLayout({}, 20, 15, 1.0, 1, rng, 2);
    ASSERT_GT(layout.bars.size(), 10u);
    for (const auto& a : layout.bars)
        for (const auto& b : layout.bars) {
            if (&a == &b) continue;
            const int dx = std::abs(a._position.x - b._position.x), dy = std::abs(a._position.y - b._position.y);
            const bool alongX = a._properties % 2 == 0 || b._properties % 2 == 0;
            const bool alongY = a._properties % 2 == 1 || b._properties % 2 == 1;
            EXPECT_GT(std::max(dx, dy), 1);
            EXPECT_FALSE((alongX && dy <= 1 && dx <= 2) || (alongY && dx <= 1 && dy <= 2));
        }
}

}  // namespace
}  // namespace Lumetra::Testing
