// The ITrackingEnvironment face of a loaded environment: how it is found, what a success and a
// false result write, the report's size rule, and bad input answered with a code and nothing written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "simulation/TrackingScenarios.h"

namespace Lumetra::Testing {
namespace {

using InterfaceContract::IInterface;
using Vesk::Environment::HorizontalGrid::PoseMethodIdentify;
using Vesk::Environment::HorizontalGrid::PoseMethodRefine;
using Vesk::Environment::HorizontalGrid::PoseMethodTrack;

constexpr MarkerIndex notFound = 0xFFFFFFFE;
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

class TrackingFace : public ::testing::Test {
protected:
    TrackingFace() : scene(host, matchGeometries()[0], 20, 5) {
        std::mt19937_64 rng(9);
        view = drawView(scene.markers, scene.geometry, scene.layout, 0.2, FrameOptions{.fieldOfViewHalfAngle = 1.0}, 5,
                        1000, rng)
                   .value();
        truth = {LumetraMath::vectorCast<float>(view.pose.position),
                 {static_cast<float>(view.pose.rotation().x), static_cast<float>(view.pose.rotation().y),
                  static_cast<float>(view.pose.rotation().z), static_cast<float>(view.pose.rotation().w)}};
    }

    std::vector<MarkerIndex> trueNumbers() const {
        return {view.frame.markerNumbers.begin(), view.frame.markerNumbers.end()};
    }

    LibraryHost host;
    TrackingScene scene;
    View view;
    Pose truth{};
};

void expectNear(const Pose& found, const Pose& truth, float tolerance) {
    EXPECT_LT(LumetraMath::length(found.position - truth.position), tolerance);
    const float dot = std::fabs(found.rotation.x * truth.rotation.x + found.rotation.y * truth.rotation.y +
                                found.rotation.z * truth.rotation.z + found.rotation.w * truth.rotation.w);
    EXPECT_GT(dot, 1.0f - tolerance);
}

TEST_F(TrackingFace, IsFoundBesideIEnvironmentAndAnswersAllThreeCalls) {
    ITrackingEnvironment& face = *scene.tracking;
    // IEnvironment keeps answering for its bases; the faces lead to each other.
    void* asInterface = nullptr;
    ASSERT_EQ(scene.environment->QueryInterface(IInterface::interfaceId, &asInterface), ExceptionCode::Ok);
    EXPECT_EQ(asInterface, static_cast<void*>(scene.environment.get()));
    static_cast<IInterface*>(asInterface)->Release();
    void* back = nullptr;
    ASSERT_EQ(face.QueryInterface(IEnvironment::interfaceId, &back), ExceptionCode::Ok);
    EXPECT_EQ(back, static_cast<void*>(scene.environment.get()));
    static_cast<IInterface*>(back)->Release();

    const PoseOutcome identified = identify(face, view.frame.rays);
    ASSERT_TRUE(identified.found);
    EXPECT_EQ(identified.markerIndices, trueNumbers());
    expectNear(identified.pose, truth, 1e-3f);
    const std::uint32_t rays = static_cast<std::uint32_t>(view.frame.rays.size());
    EXPECT_EQ(identified.report.method, PoseMethodIdentify);
    EXPECT_EQ(identified.report.numberedRays, rays);
    EXPECT_EQ(identified.report.supportingRays, rays);
    EXPECT_LT(identified.report.rmsAngle, 1e-4f);
    EXPECT_GE(identified.report.maxAngle, identified.report.rmsAngle);
    for (std::size_t diagonal : {0, 6, 11, 15, 18, 20}) EXPECT_GE(identified.report.covariance[diagonal], 0.0f);

    Pose predicted = truth;
    predicted.position += Vector3{0.05f, 0.0f, -0.04f};
    const PoseOutcome tracked = track(face, view.frame.rays, predicted);
    ASSERT_TRUE(tracked.found);
    EXPECT_EQ(tracked.report.method, PoseMethodTrack);
    EXPECT_EQ(tracked.markerIndices, trueNumbers());
    expectNear(tracked.pose, truth, 1e-3f);

    std::vector<MarkerIndex> numbers = trueNumbers();
    numbers[0] = notFound;  // ignored, like any ray without a number
    const PoseOutcome refined = refinePose(face, view.frame.rays, numbers, predicted);
    ASSERT_TRUE(refined.found);
    EXPECT_EQ(refined.report.method, PoseMethodRefine);
    EXPECT_EQ(refined.report.numberedRays, rays - 1);
    expectNear(refined.pose, truth, 1e-3f);

    // A frame with nothing to find: False, the pose untouched, an empty array, a report of zeros.
    const std::vector<Vector3> nothing{{nan, -1, 0}, {0, 0, 0}, {0.1f, -1, 0}};
    OutArray<MarkerIndex> indices;
    Pose pose = predicted;
    PoseReport report{};
    std::memset(&report, 0xAB, sizeof report);
    report.structSize = sizeof report;
    LongBool found = LongBool::True;
    ASSERT_EQ(face.track(inArray(nothing), &predicted, indices.marshaler(), &pose, &report, &found), ExceptionCode::Ok);
    EXPECT_EQ(found, LongBool::False);
    EXPECT_EQ(std::memcmp(&pose, &predicted, sizeof pose), 0);
    EXPECT_EQ(indices.allocateCalls, 1);
    EXPECT_EQ(indices.requestedCount, 0u);
    EXPECT_EQ(report.method, Vesk::Environment::HorizontalGrid::PoseMethodTrackFellBack);
    EXPECT_EQ(report.numberedRays, 0u);
    EXPECT_EQ(report.covariance[20], 0.0f);
}

TEST_F(TrackingFace, ReportIsWrittenOnlyAsFarAsItsSize) {
    // The covariance array is one field: written whole or not at all.
    for (const std::uint32_t size : {0u, 3u, 12u, 14u, 30u, 107u, 108u, 200u}) {
        PoseReport report;
        std::memset(&report, 0xAB, sizeof report);
        report.structSize = size;
        OutArray<MarkerIndex> indices;
        Pose pose{};
        LongBool found{};
        ASSERT_EQ(scene.tracking->identify(inArray(view.frame.rays), indices.marshaler(), &pose, &report, &found),
                  ExceptionCode::Ok);
        EXPECT_EQ(found, LongBool::True);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&report);
        const std::size_t written = size >= sizeof report ? sizeof report : size < 8 ? 4 : std::min(size / 4 * 4, 24u);
        EXPECT_EQ(report.structSize, size);
        for (std::size_t i = written; i < sizeof report; ++i) ASSERT_EQ(bytes[i], 0xAB) << "size " << size << " byte " << i;
        if (size >= 12) {
            EXPECT_EQ(report.numberedRays, view.frame.rays.size());
        }
    }
}

TEST_F(TrackingFace, BadInputIsRefusedWithACodeAndNothingWritten) {
    ITrackingEnvironment& face = *scene.tracking;
    const auto rays = inArray(view.frame.rays);
    const std::vector<MarkerIndex> numbers = trueNumbers();
    const Pose untouched{{1, 2, 3}, {0, 0, 0, 1}};
    OutArray<MarkerIndex> indices;
    Pose pose = untouched;
    LongBool found = LongBool::True;
    PoseReport report{};
    report.structSize = sizeof report;
    const auto nothingWritten = [&] {
        EXPECT_EQ(indices.allocateCalls, 0);
        EXPECT_EQ(std::memcmp(&pose, &untouched, sizeof pose), 0);
        EXPECT_EQ(found, LongBool::True);
        EXPECT_EQ(report.numberedRays, 0u);
    };
    const ArrayOutMarshaler::Intermediate noAllocator{nullptr, nullptr};
    const ArrayInMarshaler::Intermediate nullRays{nullptr, 3};

    EXPECT_EQ(face.identify(rays, indices.marshaler(), nullptr, &report, &found), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face.identify(rays, indices.marshaler(), &pose, &report, nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face.identify(rays, noAllocator, &pose, &report, &found), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face.identify(nullRays, indices.marshaler(), &pose, &report, &found), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face.track(rays, nullptr, indices.marshaler(), &pose, &report, &found), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face.refinePose(rays, {nullptr, 2}, &pose, &report, &found), ExceptionCode::InvalidPointer);

    for (const Pose& predicted : {Pose{{nan, 0, 0}, {0, 0, 0, 1}}, Pose{{0, 0, 0}, {0, 0, 0, 1.1f}},
                                  Pose{{0, 0, 0}, {0, 0, 0, 0}}, Pose{{0, 0, 0}, {nan, 0, 0, 1}}}) {
        EXPECT_EQ(face.track(rays, &predicted, indices.marshaler(), &pose, &report, &found),
                  ExceptionCode::InvalidArgument);
        Pose start = predicted;
        EXPECT_EQ(face.refinePose(rays, inArray(numbers), &start, &report, &found), ExceptionCode::InvalidArgument);
    }
    EXPECT_NE(threadMessage(face).find("start pose"), std::string::npos);

    std::vector<MarkerIndex> beyond = numbers;
    beyond[1] = static_cast<MarkerIndex>(scene.markers.size());
    EXPECT_EQ(face.refinePose(rays, inArray(beyond), &pose, &report, &found), ExceptionCode::InvalidArgument);
    const std::vector<MarkerIndex> short_(numbers.begin(), numbers.end() - 1);
    EXPECT_EQ(face.refinePose(rays, inArray(short_), &pose, &report, &found), ExceptionCode::InvalidArgument);
    nothingWritten();

    // Rays that are not finite or of zero length are never numbered, and never make a NaN pose.
    std::vector<Vector3> spoiled = view.frame.rays;
    spoiled[0] = {nan, nan, nan};
    spoiled[1] = {0, 0, 0};
    spoiled[2] = {std::numeric_limits<float>::infinity(), -1, 0};
    for (const PoseOutcome& outcome : {identify(face, spoiled), track(face, spoiled, truth)}) {
        ASSERT_TRUE(outcome.found);
        EXPECT_EQ(outcome.markerIndices[0], notFound);
        EXPECT_EQ(outcome.markerIndices[1], notFound);
        EXPECT_EQ(outcome.markerIndices[2], notFound);
        expectNear(outcome.pose, truth, 1e-3f);
    }
    const PoseOutcome refined = refinePose(face, spoiled, numbers, truth);
    ASSERT_TRUE(refined.found);
    EXPECT_EQ(refined.report.numberedRays, view.frame.rays.size() - 3);
}

TEST_F(TrackingFace, RaysOfAnyLengthRepeatsAndRaysTurnedAwayAreHandled) {
    ITrackingEnvironment& face = *scene.tracking;
    // Lengths whose square leaves the float range are normalised like any other.
    std::vector<Vector3> scaled = view.frame.rays;
    for (std::size_t i = 0; i < scaled.size(); ++i) scaled[i] = scaled[i] * (i % 2 == 0 ? 1e19f : 1e-38f);
    const PoseOutcome fromScaled = identify(face, scaled);
    ASSERT_TRUE(fromScaled.found);
    EXPECT_EQ(fromScaled.markerIndices, trueNumbers());

    // Every ray given twice: the first of each pair is numbered, its repeat left unnumbered.
    std::vector<Vector3> twice = view.frame.rays;
    twice.insert(twice.end(), view.frame.rays.begin(), view.frame.rays.end());
    std::vector<MarkerIndex> expected = trueNumbers();
    expected.resize(twice.size(), notFound);
    for (const PoseOutcome& outcome : {identify(face, twice), track(face, twice, truth)}) {
        ASSERT_TRUE(outcome.found);
        EXPECT_EQ(outcome.markerIndices, expected);
    }
    const MatchOutcome matchedTwice = match(*scene.environment, twice);
    ASSERT_TRUE(matchedTwice.matched);
    EXPECT_EQ(matchedTwice.markerIndices, expected);

    // A ray pointing away from the markers shows none of them, and spoils nothing else.
    std::vector<Vector3> away = view.frame.rays;
    away.push_back(-away.front());
    const MatchOutcome matched = match(*scene.environment, away);
    ASSERT_TRUE(matched.matched);
    EXPECT_EQ(matched.markerIndices.back(), notFound);
}

}  // namespace
}  // namespace Lumetra::Testing
