// Many trackers on one environment, one per thread: each follows its own walk as it would alone
// (the environment is shared and only read; each tracker is used by one thread).

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "simulation/TrackerScenarios.h"

namespace Lumetra::Testing {
namespace {

TEST(TrackerConcurrency, TrackersOnOneEnvironmentRunOnTheirOwnThreads) {
    const LibraryHost host;
    const TrackingScene scene(host, matchGeometries()[1], 20, 3);
    constexpr int threads = 4;
    std::vector<TrackerFigures> figures(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            TrackerScenario scenario;
            scenario.seconds = 1;
            scenario.inertial = t % 2 == 0;
            scenario.seed = 100 + static_cast<unsigned>(t);
            runTrackerScenario(scene, scenario, figures[static_cast<std::size_t>(t)]);
        });
    for (std::thread& worker : workers) worker.join();
    for (const TrackerFigures& f : figures) {
        EXPECT_GT(f.frames, 40);
        EXPECT_GE(f.trackingShare(), 0.99);
        EXPECT_EQ(f.wrongNumbers, 0);
    }
}

}  // namespace
}  // namespace Lumetra::Testing
