// The host helper's calls of the tracking and tracker faces on the built library, as a host makes
// them: results, unpacked covariances, the reasons of failures, and reports that would stay empty.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGridHost.h"
#include "simulation/FrameGenerator.h"

namespace {

namespace Host = Lumetra::Host;
using Lumetra::Testing::TrackerPose;

struct Scene {
    Host::Library library;
    // A 10 x 8 grid of 0.6 cells with seven well separated bars under a ceiling at 2.5.
    Host::Ref<Host::IEnvironment> environment = library.createEnvironment(
        "AgV0cnVzcwoIMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8ABwYEAQgAAgUHAwIFAwkGAgkDAwUBAg==");
    std::vector<Host::Vector3> markers = Host::markerPositions(*environment);

    Lumetra::Testing::Frame frame(const TrackerPose& pose) const {
        Lumetra::Testing::FrameOptions options;
        options.ceiling = true;
        options.fieldOfViewHalfAngle = 1.2;
        options.angularNoise = 0.0005;
        return Lumetra::Testing::generateFrame(markers, pose, options);
    }
};

Host::Pose poseOf(const TrackerPose& truth) {
    const auto q = truth.rotation();
    return {LumetraMath::vectorCast<float>(truth.position),
            {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z), static_cast<float>(q.w)}};
}

TEST(HostHelperTest, IdentifyTrackAndRefineGiveIndicesPosesAndFullCovariances) {
    const Scene scene;
    const TrackerPose truth{{0.3, 1.3, -0.2}, 0.4};
    const auto frame = scene.frame(truth);
    const Host::Ref<Host::ITrackingEnvironment> tracking = Host::trackingFace(*scene.environment);

    const Host::PoseResult identified = Host::identify(*tracking, frame.rays);
    ASSERT_TRUE(identified.found);
    EXPECT_EQ(identified.markerIndices, frame.markerNumbers);
    EXPECT_EQ(identified.report.method, Lumetra::Vesk::Environment::HorizontalGrid::PoseMethodIdentify);
    EXPECT_NEAR(identified.pose.position.y, 1.3f, 0.01f);
    const Host::Covariance& c = identified.report.covariance;
    for (int i = 0; i < 6; ++i) {
        EXPECT_GT(c[i][i], 0.0f);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(c[i][j], c[j][i]);
    }

    const Host::PoseResult tracked = Host::track(*tracking, frame.rays, poseOf(truth));
    EXPECT_TRUE(tracked.found);
    EXPECT_EQ(tracked.report.method, Lumetra::Vesk::Environment::HorizontalGrid::PoseMethodTrack);

    // Too few numbered rays: no pose, the start kept, the method told.
    const std::vector<Host::Vector3> two(frame.rays.begin(), frame.rays.begin() + 2);
    const std::vector<Host::MarkerIndex> twoNumbers(frame.markerNumbers.begin(), frame.markerNumbers.begin() + 2);
    const Host::PoseResult refused = Host::refinePose(*tracking, two, twoNumbers, poseOf(truth));
    EXPECT_FALSE(refused.found);
    EXPECT_EQ(refused.report.method, Lumetra::Vesk::Environment::HorizontalGrid::PoseMethodRefine);
    EXPECT_EQ(refused.pose.position, poseOf(truth).position);

    // A failing call throws its code with the library's message.
    Host::Pose notUnit = poseOf(truth);
    notUnit.rotation.w = 2;
    try {
        Host::track(*tracking, frame.rays, notUnit);
        FAIL() << "track accepted a rotation that is not a unit quaternion";
    } catch (const Host::Error& error) {
        EXPECT_EQ(error.code(), Host::ExceptionCode::InvalidArgument);
        EXPECT_FALSE(error.message().empty());
    }

    // A report left at structSize 0 is never filled: reading it is refused, not taken as zeros.
    EXPECT_THROW(Host::Report::of(Host::PoseReport{}), std::invalid_argument);
    float packed[21];
    for (int k = 0; k < 21; ++k) packed[k] = static_cast<float>(k);
    const Host::Covariance unpacked = Host::unpackCovariance(packed);
    EXPECT_EQ(unpacked[0][5], 5.0f);
    EXPECT_EQ(unpacked[5][1], 10.0f);
    EXPECT_EQ(unpacked[5][5], 20.0f);
}

TEST(HostHelperTest, TrackerFusesFramesOrNamesTheMissingFace) {
    const Scene scene;
    try {
        Host::Tracker tracker(*scene.environment, {Host::Camera::pinhole({300, 300, 320, 240}, {}, {{0, 0, 0}, Host::cameraLookingUp})});
        bool fused = false;
        for (int i = 0; i < 10; ++i) {
            const TrackerPose truth{{0.3 + 0.01 * i, 1.3, -0.2}, 0.4};
            // The camera looks up along the tracker's +y: its own frame is the tracker's turned back.
            std::vector<Host::Vector3> rays;
            for (const auto& ray : scene.frame(truth).rays)
                rays.push_back(LumetraMath::mul(LumetraMath::conjugate(Host::cameraLookingUp), ray));
            fused = tracker.addFrame(i / 60.0, 0, rays).found || fused;
        }
        EXPECT_TRUE(fused);
        const Host::State state = tracker.state(9 / 60.0);
        EXPECT_EQ(state.status, Lumetra::Vesk::Environment::HorizontalGrid::TrackerTracking);
        EXPECT_GT(state.covariance[0][0], 0.0f);
        EXPECT_THROW(tracker.addFrame(0, 1, {}), Host::Error);  // one camera only
    } catch (const Host::Error& error) {
        if (error.code() != Host::ExceptionCode::NoInterface) throw;
        EXPECT_NE(std::string(error.what()).find("inertial tracker (ITrackerFactory)"), std::string::npos);
        GTEST_SKIP() << "the library has no tracker yet: " << error.what();
    }
}

}  // namespace
