// The ITrackerFactory and ITracker faces of a loaded library: how they are found and counted, a
// tracker outliving the host's last reference to its environment, the size rules of the state and
// the report, and bad input answered with its code and nothing written.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/TrackerScenarios.h"

namespace Lumetra::Testing {
namespace {

using InterfaceContract::IInterface;
using Vesk::Environment::HorizontalGrid::PoseMethodTrackerIdentified;
using Vesk::Environment::HorizontalGrid::PoseMethodTrackerPredicted;
using Vesk::Environment::HorizontalGrid::TrackerLost;
using Vesk::Environment::HorizontalGrid::TrackerTracking;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

/// A sample of a tracker resting level (the accelerometer reads gravity straight up).
InertialSample restingSample(double time) { return {time, {0, 0, 0}, {0, 9.80665f, 0}}; }

class TrackerFace : public ::testing::Test {
protected:
    TrackerFace() : scene(host, matchGeometries()[0], 20, 5) {
        std::mt19937_64 rng(9);
        view = drawView(scene.markers, scene.geometry, scene.layout, 0.2, FrameOptions{.fieldOfViewHalfAngle = 1.0}, 5,
                        1000, rng)
                   .value();
    }

    /// A tracker that has fused one frame at time 1 after samples of the view's pose at rest up to 1.
    InterfacePtr<ITracker> lockedTracker() {
        InterfacePtr<ITracker> tracker = createTracker(*scene.environment);
        const Point3d up = LumetraMath::mul(LumetraMath::conjugate(view.pose.rotation()), Point3d{0, 9.80665, 0});
        std::vector<InertialSample> samples;
        for (int k = 1; k <= 100; ++k)
            samples.push_back({0.9 + 0.001 * k, {0, 0, 0},
                               {static_cast<float>(up.x), static_cast<float>(up.y), static_cast<float>(up.z)}});
        addInertial(*tracker, samples);
        EXPECT_TRUE(addFrame(*tracker, 1.0, 0, view.frame.rays).fused);
        return tracker;
    }

    LibraryHost host;
    TrackingScene scene;
    View view;
};

TEST_F(TrackerFace, IsFoundOnTheEnvironmentAndATrackerOutlivesIt) {
    // The environment's other faces keep their answers and lead to the factory.
    void* asInterface = nullptr;
    ASSERT_EQ(scene.environment->QueryInterface(IInterface::interfaceId, &asInterface), ExceptionCode::Ok);
    EXPECT_EQ(asInterface, static_cast<void*>(scene.environment.get()));
    static_cast<IInterface*>(asInterface)->Release();
    void* factoryFromTracking = nullptr;
    ASSERT_EQ(scene.tracking->QueryInterface(ITrackerFactory::interfaceId, &factoryFromTracking), ExceptionCode::Ok);
    const InterfacePtr<ITrackerFactory> factory = trackerFactory(*scene.environment);
    EXPECT_EQ(factoryFromTracking, static_cast<void*>(factory.get()));
    static_cast<IInterface*>(factoryFromTracking)->Release();

    // A tracker is its own counted object; its faces answer for IInterface.
    const InterfacePtr<IEnvironment> environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(scene.layout));
    InterfacePtr<ITracker> tracker = createTracker(*environment);
    EXPECT_EQ(tracker->AddRef(), 2u);
    EXPECT_EQ(tracker->Release(), 1u);
    void* base = nullptr;
    ASSERT_EQ(tracker->QueryInterface(IInterface::interfaceId, &base), ExceptionCode::Ok);
    EXPECT_EQ(base, static_cast<void*>(tracker.get()));
    static_cast<IInterface*>(base)->Release();
    void* notATracker = &base;
    EXPECT_EQ(tracker->QueryInterface(IEnvironment::interfaceId, &notATracker), ExceptionCode::NoInterface);
    EXPECT_EQ(notATracker, nullptr);

    // The host lets its environment go; the tracker keeps it and goes on working.
    const_cast<InterfacePtr<IEnvironment>&>(environment).reset();
    const FrameOutcome first = addFrame(*tracker, 1.0, 0, view.frame.rays);
    ASSERT_TRUE(first.fused);
    EXPECT_EQ(first.report.method, PoseMethodTrackerIdentified);
    EXPECT_EQ(first.markerIndices, std::vector<MarkerIndex>(view.frame.markerNumbers.begin(), view.frame.markerNumbers.end()));
    // Without inertial samples the motion is learnt from the first frames; then the prediction numbers.
    ASSERT_TRUE(addFrame(*tracker, 1.02, 0, view.frame.rays).fused);
    const FrameOutcome third = addFrame(*tracker, 1.04, 0, view.frame.rays);
    ASSERT_TRUE(third.fused);
    EXPECT_EQ(third.report.method, PoseMethodTrackerPredicted);
    EXPECT_EQ(third.report.numberedRays, view.frame.rays.size());
    const TrackerState state = getState(*tracker, 1.05);
    EXPECT_EQ(state.status, TrackerTracking);
    EXPECT_LT(std::hypot(state.pose.position.x - view.pose.position.x, state.pose.position.z - view.pose.position.z), 0.01);
    for (std::size_t diagonal : {0, 6, 11, 15, 18, 20}) EXPECT_GT(state.covariance[diagonal], 0.0f);
}

TEST_F(TrackerFace, WritesWholeFieldsWithinTheHostsSizes) {
    const InterfacePtr<ITracker> tracker = lockedTracker();
    // A state of 12 bytes takes the status but not the 8-byte time; 0 takes nothing.
    for (const std::uint32_t size : {0u, 12u, 20u}) {
        TrackerState state;
        std::memset(static_cast<void*>(&state), 0xAB, sizeof(state));
        state.structSize = size;
        ASSERT_EQ(tracker->getState(1.01, &state), ExceptionCode::Ok);
        unsigned char pattern[sizeof(TrackerState)];
        std::memset(pattern, 0xAB, sizeof(pattern));
        const std::size_t written = size == 0 ? 4 : size == 12 ? 8 : 20;
        EXPECT_EQ(std::memcmp(reinterpret_cast<unsigned char*>(&state) + written, pattern + written,
                              sizeof(TrackerState) - written), 0)
            << size;
        if (size >= 12) {
            EXPECT_EQ(state.status, TrackerTracking);
        }
        if (size >= 20) {
            EXPECT_EQ(state.time, 1.01);
        }
    }
    // Before any input, and after reset, the answer is Lost with zeros for any finite time.
    ASSERT_EQ(tracker->reset(), ExceptionCode::Ok);
    const TrackerState lost = getState(*tracker, -1e9);
    EXPECT_EQ(lost.status, TrackerLost);
    EXPECT_EQ(lost.pose.rotation.w, 0.0f);
    // The ordering rules start afresh: an earlier sample is taken.
    addInertial(*tracker, {restingSample(0.5)});
}

// A view at the edge of the marker field may show two markers for several frames: a tight
// prediction numbers and fuses them, and the report carries the fused estimate's covariance (two
// rays fix no pose of their own).
TEST_F(TrackerFace, FusesTwoRaysItsPredictionNumbers) {
    const InterfacePtr<ITracker> tracker = lockedTracker();
    std::vector<Point3> rays;
    std::vector<std::uint32_t> shown;
    for (std::size_t i = 0; i < view.frame.rays.size() && rays.size() < 2; ++i)
        if (view.frame.markerNumbers[i] != spuriousMarker) {
            rays.push_back(view.frame.rays[i]);
            shown.push_back(view.frame.markerNumbers[i]);
        }
    const FrameOutcome outcome = addFrame(*tracker, 1.0, 0, rays);
    ASSERT_TRUE(outcome.fused);
    EXPECT_EQ(outcome.report.method, PoseMethodTrackerPredicted);
    EXPECT_EQ(outcome.report.numberedRays, 2u);
    EXPECT_EQ(outcome.markerIndices, std::vector<MarkerIndex>(shown.begin(), shown.end()));
    const TrackerState state = getState(*tracker, 1.0);
    EXPECT_EQ(state.status, TrackerTracking);
    for (const std::size_t diagonal : {0, 6, 11, 15, 18, 20})
        EXPECT_EQ(outcome.report.covariance[diagonal], state.covariance[diagonal]) << diagonal;
}

TEST_F(TrackerFace, RefusesBadInputAndWritesNothing) {
    const auto refused = [](ExceptionCode code) { return code == ExceptionCode::InvalidArgument; };
    // Settings: nine cameras, a camera rotation off unit length, a negative noise.
    TrackerSettings settings{};
    settings.structSize = sizeof(settings);
    settings.cameraCount = 9;
    ITracker* slot = nullptr;
    const InterfacePtr<ITrackerFactory> factory = trackerFactory(*scene.environment);
    EXPECT_TRUE(refused(factory->createTracker(&settings, &slot)));
    settings.cameraCount = 2;
    settings.cameras[1].rotation = {0, 0, 0, 1.1f};
    EXPECT_TRUE(refused(factory->createTracker(&settings, &slot)));
    settings.cameras[1].rotation = {0, 0, 0, 1};
    settings.rayNoise = -1;
    EXPECT_TRUE(refused(factory->createTracker(&settings, &slot)));
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(factory->createTracker(nullptr, nullptr), ExceptionCode::InvalidPointer);
    // structSize 0 and a size larger than known take the defaults / the known part.
    unsigned char larger[512] = {};
    TrackerSettings zero{};
    std::memcpy(larger, &zero, sizeof(zero));
    reinterpret_cast<TrackerSettings*>(larger)->structSize = sizeof(larger);
    for (const TrackerSettings* given : {static_cast<const TrackerSettings*>(&zero), reinterpret_cast<const TrackerSettings*>(larger)}) {
        ASSERT_EQ(factory->createTracker(given, &slot), ExceptionCode::Ok);
        slot->Release();
        slot = nullptr;
    }

    const InterfacePtr<ITracker> tracker = lockedTracker();
    // Samples: repeated or earlier times, NaN, absurd magnitudes; none of a batch is taken.
    const std::vector<std::vector<InertialSample>> badBatches{
        {restingSample(1.0)},
        {restingSample(1.2), restingSample(1.2)},
        {restingSample(1.2), {nan, {}, {}}},
        {restingSample(1.2), {1.3, {1e30f, 0, 0}, {0, 9.8f, 0}}},
        {restingSample(1.2), {1.3, {0, 0, 0}, {0, std::numeric_limits<float>::infinity(), 0}}}};
    for (const auto& batch : badBatches) EXPECT_TRUE(refused(tracker->addInertial(inArray(batch))));
    EXPECT_EQ(tracker->addInertial({nullptr, 3}), ExceptionCode::InvalidPointer);
    addInertial(*tracker, {restingSample(1.2)});  // the first good batch's first sample was not taken

    // Frames: unknown camera, NaN time, earlier than the last frame, lagging the newest sample too much.
    PoseReport report;
    std::memset(static_cast<void*>(&report), 0xCD, sizeof(report));
    report.structSize = sizeof(report);
    const PoseReport untouched = report;
    LongBool result = static_cast<LongBool>(7);
    OutArray<MarkerIndex> indices;
    for (const auto& [time, camera] : std::vector<std::pair<double, std::uint32_t>>{{1.1, 1}, {nan, 0}, {0.99, 0}}) {
        EXPECT_TRUE(refused(tracker->addFrame(time, camera, inArray(view.frame.rays), indices.marshaler(), &report, &result)));
    }
    addInertial(*tracker, {restingSample(1.5)});
    EXPECT_TRUE(refused(tracker->addFrame(1.2, 0, inArray(view.frame.rays), indices.marshaler(), &report, &result)));
    EXPECT_EQ(tracker->addFrame(1.3, 0, inArray(view.frame.rays), indices.marshaler(), &report, nullptr),
              ExceptionCode::InvalidPointer);
    EXPECT_EQ(tracker->addFrame(1.3, 0, inArray(view.frame.rays), {nullptr, nullptr}, &report, &result),
              ExceptionCode::InvalidPointer);
    EXPECT_EQ(std::memcmp(&report, &untouched, sizeof(report)), 0);
    EXPECT_EQ(result, static_cast<LongBool>(7));
    EXPECT_EQ(indices.allocateCalls, 0);

    // getState: before the newest frame, beyond 0.1 s past the newest input, NaN, a null state.
    TrackerState state;
    std::memset(static_cast<void*>(&state), 0xEE, sizeof(state));
    state.structSize = sizeof(state);
    const TrackerState before = state;
    for (const double time : {0.99, 1.61, nan}) EXPECT_TRUE(refused(tracker->getState(time, &state))) << time;
    EXPECT_EQ(std::memcmp(&state, &before, sizeof(state)), 0);
    EXPECT_EQ(tracker->getState(1.5, nullptr), ExceptionCode::InvalidPointer);

    // Rays that are not finite or absurd are never numbered; the state stays finite.
    const std::vector<Vector3> garbage{{std::numeric_limits<float>::quiet_NaN(), 0, 0}, {0, 0, 0}, {1e30f, -1e30f, 1e-30f}};
    const FrameOutcome outcome = addFrame(*tracker, 1.4, 0, garbage);
    EXPECT_FALSE(outcome.fused);
    const TrackerState after = getState(*tracker, 1.45);
    for (const float value : after.covariance) EXPECT_TRUE(std::isfinite(value));
    EXPECT_TRUE(std::isfinite(after.pose.position.x));
}

}  // namespace
}  // namespace Lumetra::Testing
