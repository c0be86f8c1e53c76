// One environment matched from several threads at once answers exactly as it does for one thread.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {
namespace {

constexpr double degree = 3.14159265358979323846 / 180.0;

bool sameOutcome(const MatchOutcome& a, const MatchOutcome& b) {
    return a.matched == b.matched && a.markerIndices == b.markerIndices &&
           std::memcmp(&a.pose, &b.pose, sizeof(Pose)) == 0;
}

TEST(MatchConcurrency, ThreadsSharingAnEnvironmentGetTheSingleThreadResults) {
    LibraryHost host;
    std::mt19937_64 rng(31);
    const MatchGeometry geometry = matchGeometries()[1];
    const auto layout = randomMatchLayout(geometry, 24, 24, rng);
    const auto environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
    const std::vector<Point3> markers = getMarkers(*environment);

    std::vector<View> views;
    for (int v = 0; v < 24; ++v) {
        const std::optional<View> view = drawView(markers, geometry, layout, 10 * degree,
                                                  FrameOptions{.fieldOfViewHalfAngle = 60 * degree}, 4, 1000, rng);
        ASSERT_TRUE(view.has_value());
        views.push_back(*view);
    }
    std::vector<MatchOutcome> expected;
    std::vector<std::vector<MarkerIndex>> expectedByPosition;
    for (const View& view : views) {
        expected.push_back(match(*environment, view.frame.rays));
        expectedByPosition.push_back(
            matchByPosition(*environment, view.frame.worldRays, LumetraMath::vectorCast<float>(view.pose.position)));
    }

    constexpr int threadCount = 4;
    constexpr int rounds = 5;
    std::atomic<int> mismatches{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            try {
                for (int round = 0; round < rounds; ++round)
                    for (std::size_t k = 0; k < views.size(); ++k) {
                        // Each thread walks the views from a different start.
                        const std::size_t i = (k + static_cast<std::size_t>(t) * 7) % views.size();
                        const View& view = views[i];
                        if (!sameOutcome(match(*environment, view.frame.rays), expected[i])) ++mismatches;
                        const Point3 position = LumetraMath::vectorCast<float>(view.pose.position);
                        if (matchByPosition(*environment, view.frame.worldRays, position) != expectedByPosition[i])
                            ++mismatches;
                    }
            } catch (...) {
                ++failures;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace Lumetra::Testing
