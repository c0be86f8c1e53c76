// Many threads tracking and identifying on one environment get exactly the single-thread answers.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "simulation/TrackingScenarios.h"

namespace Lumetra::Testing {
namespace {

bool same(const PoseOutcome& a, const PoseOutcome& b) {
    return a.found == b.found && a.markerIndices == b.markerIndices && std::memcmp(&a.pose, &b.pose, sizeof(Pose)) == 0 &&
           std::memcmp(&a.report, &b.report, sizeof(PoseReport)) == 0;
}

TEST(TrackingConcurrency, ThreadsTrackingOneEnvironmentGetTheSingleThreadResults) {
    const LibraryHost host;
    const TrackingScene scene(host, matchGeometries()[1], 16, 51);
    const std::vector<TrackerPose> poses = walk(scene, 0.25, 120.0, 53);
    std::vector<std::vector<Vector3>> frames;
    std::vector<Pose> predictions;
    std::mt19937_64 rng(55);
    for (const TrackerPose& truth : poses) {
        FrameOptions options{.fieldOfViewHalfAngle = 0.8, .angularNoise = 0.001, .dropProbability = 0.05,
                             .spuriousRays = 2, .seed = rng()};
        frames.push_back(generateFrame(scene.markers, truth, options).rays);
        const auto q = truth.rotation();
        predictions.push_back({LumetraMath::vectorCast<float>(truth.position),
                               {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z),
                                static_cast<float>(q.w)}});
    }
    std::vector<PoseOutcome> expectedTrack, expectedIdentify;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        expectedTrack.push_back(track(*scene.tracking, frames[i], predictions[i]));
        if (i % 5 == 0) expectedIdentify.push_back(identify(*scene.tracking, frames[i]));
    }

    std::atomic<int> mismatches{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            try {
                for (std::size_t k = 0; k < frames.size(); ++k) {
                    const std::size_t i = (k + static_cast<std::size_t>(t) * 11) % frames.size();
                    mismatches += !same(track(*scene.tracking, frames[i], predictions[i]), expectedTrack[i]);
                    if (i % 5 == 0) mismatches += !same(identify(*scene.tracking, frames[i]), expectedIdentify[i / 5]);
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
