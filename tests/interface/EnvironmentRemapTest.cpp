// The IEnvironment face over a scripted environment: arguments reach the environment unchanged,
// results come back in the boundary's encodings, and every failure becomes a code, a message
// and untouched outputs.

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "interface/EnvironmentRemap.h"
#include "interface/Exception.h"
#include "interface/InterfacedObject.h"
#include "simulation/LibraryHost.h"

namespace Lumetra::Testing {
namespace {

using InterfaceContract::Exception;
using InterfaceContract::IExceptionData;
using InterfaceContract::IInterface;
using InterfaceContract::InterfaceFace;
using InterfaceContract::IUnsafe;

constexpr MarkerIndex markerNotFound = Vesk::Environment::MarkerNotFound;

/// An environment whose answers the test sets, recording what it was asked.
class ScriptedEnvironment final : public InterfaceContract::InterfacedObject {
public:
    bool isMutable() const { return fail(), mutableAnswer; }
    std::vector<Vector3> getMarkers() const { return fail(), markers; }
    bool filterRay(const Vector3& ray, const Vector3& reference) const {
        fail();
        filteredRays.assign({ray, reference});
        return filterAnswer;
    }
    bool match(const std::vector<Vector3>& rays, std::vector<MarkerIndex>& markerIndices, Pose& pose) const {
        fail();
        receivedRays = rays;
        markerIndices = indices;
        pose = matchedPose;
        return matchAnswer;
    }
    std::vector<MarkerIndex> matchByPosition(const std::vector<Vector3>& rays, const Vector3& position) const {
        fail();
        receivedRays = rays;
        receivedPosition = position;
        return indices;
    }

    bool mutableAnswer = false;
    std::vector<Vector3> markers;
    bool filterAnswer = false;
    bool matchAnswer = false;
    std::vector<MarkerIndex> indices;
    Pose matchedPose{};
    std::function<void()> failure;  ///< thrown from every operation when set

    mutable int calls = 0;
    mutable std::vector<Vector3> filteredRays;
    mutable std::vector<Vector3> receivedRays;
    mutable Vector3 receivedPosition{};

private:
    void fail() const {
        ++calls;
        if (failure) failure();
    }

    InterfaceFace<IEnvironment, ScriptedEnvironment> environmentFace_{*this};
};

class EnvironmentRemap : public ::testing::Test {
protected:
    const InterfacePtr<ScriptedEnvironment> object{new ScriptedEnvironment};
    ScriptedEnvironment& environment = *object;
    const InterfacePtr<IEnvironment> face = object->queryInterface<IEnvironment>();

    const std::vector<Vector3> rays{{0, -1, 0}, {0.5f, -1, 0.25f}, {-0.5f, -1, 0}};
};

TEST_F(EnvironmentRemap, BooleansAreWrittenAsAllBitsOrNone) {
    LongBool result = static_cast<LongBool>(0x12345678);
    ASSERT_EQ(face->isMutable(&result), ExceptionCode::Ok);
    EXPECT_EQ(static_cast<std::uint32_t>(result), 0u);
    environment.mutableAnswer = true;
    ASSERT_EQ(face->isMutable(&result), ExceptionCode::Ok);
    EXPECT_EQ(static_cast<std::uint32_t>(result), 0xFFFFFFFFu);
}

TEST_F(EnvironmentRemap, FilterRayPassesBothVectorsInOrder) {
    environment.filterAnswer = true;
    LongBool result{};
    ASSERT_EQ(face->filterRay({1, 2, 3}, {4, 5, 6}, &result), ExceptionCode::Ok);
    EXPECT_EQ(result, LongBool::True);
    EXPECT_EQ(environment.filteredRays, (std::vector<Vector3>{{1, 2, 3}, {4, 5, 6}}));
}

TEST_F(EnvironmentRemap, MarkersAreDeliveredByTheOutArrayProtocol) {
    environment.markers = {{1, 0, 2}, {3, 0, 4}};
    OutArray<Vector3> out;
    ASSERT_EQ(face->getMarkers(out.marshaler()), ExceptionCode::Ok);
    EXPECT_EQ(out.allocateCalls, 1);
    EXPECT_EQ(out.elements, environment.markers);

    OutArray<Vector3> declining(/*decline=*/true);
    EXPECT_EQ(face->getMarkers(declining.marshaler()), ExceptionCode::Ok);
    EXPECT_EQ(declining.allocateCalls, 1);
    EXPECT_EQ(declining.requestedCount, 2u);

    environment.markers.clear();
    OutArray<Vector3> empty;
    EXPECT_EQ(face->getMarkers(empty.marshaler()), ExceptionCode::Ok);
    EXPECT_EQ(empty.allocateCalls, 1);
    EXPECT_EQ(empty.requestedCount, 0u);
}

TEST_F(EnvironmentRemap, MatchCopiesRaysAndWritesEveryResult) {
    environment.matchAnswer = true;
    environment.indices = {4, markerNotFound, 0};
    environment.matchedPose = {{1, 2, 3}, {0, 0, 0.6f, 0.8f}};
    OutArray<MarkerIndex> out;
    Pose pose{};
    LongBool matched{};
    ASSERT_EQ(face->match(inArray(rays), out.marshaler(), &pose, &matched), ExceptionCode::Ok);
    EXPECT_EQ(environment.receivedRays, rays);
    EXPECT_EQ(matched, LongBool::True);
    EXPECT_EQ(out.allocateCalls, 1);
    EXPECT_EQ(out.elements, environment.indices);
    EXPECT_EQ(pose.position, environment.matchedPose.position);
    EXPECT_EQ(pose.rotation, environment.matchedPose.rotation);
}

TEST_F(EnvironmentRemap, MatchWithoutRaysAllocatesWhatTheEnvironmentProduced) {
    environment.indices = {7, 8};
    OutArray<MarkerIndex> out;
    Pose pose{};
    LongBool matched = LongBool::True;
    ASSERT_EQ(face->match({nullptr, 0}, out.marshaler(), &pose, &matched), ExceptionCode::Ok);
    EXPECT_TRUE(environment.receivedRays.empty());
    EXPECT_EQ(matched, LongBool::False);
    EXPECT_EQ(out.requestedCount, 2u);
}

TEST_F(EnvironmentRemap, MatchByPositionPassesThePosition) {
    environment.indices = {1, 2, markerNotFound};
    OutArray<MarkerIndex> out;
    ASSERT_EQ(face->matchByPosition(inArray(rays), {0.5f, 2, -1}, out.marshaler()), ExceptionCode::Ok);
    EXPECT_EQ(environment.receivedRays, rays);
    EXPECT_EQ(environment.receivedPosition, (Vector3{0.5f, 2, -1}));
    EXPECT_EQ(out.elements, environment.indices);
}

TEST_F(EnvironmentRemap, NullPointersAreRejectedBeforeTheEnvironmentIsAsked) {
    OutArray<MarkerIndex> out;
    Pose pose{};
    LongBool result = static_cast<LongBool>(5);
    const ArrayOutMarshaler::Intermediate noAllocator{nullptr, nullptr};
    EXPECT_EQ(face->isMutable(nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->filterRay({}, {}, nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->getMarkers(noAllocator), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->match(inArray(rays), out.marshaler(), nullptr, &result), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->match(inArray(rays), out.marshaler(), &pose, nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->match(inArray(rays), noAllocator, &pose, &result), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->match({nullptr, 3}, out.marshaler(), &pose, &result), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->matchByPosition({nullptr, 3}, {}, out.marshaler()), ExceptionCode::InvalidPointer);
    EXPECT_EQ(face->matchByPosition(inArray(rays), {}, noAllocator), ExceptionCode::InvalidPointer);
    EXPECT_EQ(environment.calls, 0);
    EXPECT_EQ(out.allocateCalls, 0);
    EXPECT_EQ(static_cast<std::uint32_t>(result), 5u);
    EXPECT_FALSE(threadMessage(*face).empty());
}

struct ThrownCase {
    const char* name;
    std::function<void()> thrower;
    ExceptionCode code;
    std::string message;
};

TEST_F(EnvironmentRemap, ExceptionsBecomeCodesAndMessagesWithOutputsUntouched) {
    const ThrownCase cases[] = {
        {"Exception", [] { throw Exception(static_cast<ExceptionCode>(0x80001234), "own code"); },
         static_cast<ExceptionCode>(0x80001234), "own code"},
        {"invalid_argument", [] { throw std::invalid_argument("bad value"); }, ExceptionCode::InvalidArgument,
         "bad value"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, ExceptionCode::OutOfMemory, std::bad_alloc().what()},
        {"out_of_range", [] { throw std::out_of_range("too far"); }, ExceptionCode::Failed, "too far"},
        {"runtime_error", [] { throw std::runtime_error("unreadable"); }, ExceptionCode::Failed, "unreadable"},
        {"int", [] { throw 42; }, ExceptionCode::Failed, ""},
    };
    for (const ThrownCase& thrown : cases) {
        SCOPED_TRACE(thrown.name);
        environment.failure = thrown.thrower;
        const Pose untouchedPose{{9, 9, 9}, {0, 0, 0, 1}};
        Pose pose = untouchedPose;
        LongBool result = static_cast<LongBool>(5);
        OutArray<MarkerIndex> indices;
        OutArray<Vector3> markers;

        setThreadMessage(*face, "stale");
        EXPECT_EQ(face->match(inArray(rays), indices.marshaler(), &pose, &result), thrown.code);
        EXPECT_EQ(threadMessage(*face), thrown.message);
        setThreadMessage(*face, "stale");
        EXPECT_EQ(face->isMutable(&result), thrown.code);
        EXPECT_EQ(threadMessage(*face), thrown.message);
        EXPECT_EQ(face->filterRay({}, {}, &result), thrown.code);
        EXPECT_EQ(face->getMarkers(markers.marshaler()), thrown.code);
        EXPECT_EQ(face->matchByPosition(inArray(rays), {}, indices.marshaler()), thrown.code);

        EXPECT_EQ(static_cast<std::uint32_t>(result), 5u);
        EXPECT_EQ(pose.position, untouchedPose.position);
        EXPECT_EQ(indices.allocateCalls + markers.allocateCalls, 0);
    }
}

TEST_F(EnvironmentRemap, EnvironmentFaceAnswersForItsBases) {
    for (const auto& id : {IUnsafe::interfaceId, IInterface::interfaceId, IEnvironment::interfaceId}) {
        void* result = nullptr;
        ASSERT_EQ(face->QueryInterface(id, &result), ExceptionCode::Ok);
        EXPECT_EQ(result, static_cast<void*>(face.get()));
        face->Release();
    }
    void* result = nullptr;
    EXPECT_EQ(face->QueryInterface(ILibrary::interfaceId, &result), ExceptionCode::NoInterface);
    EXPECT_EQ(face->QueryInterface(IExceptionData::interfaceId, &result), ExceptionCode::Ok);
    EXPECT_NE(result, static_cast<void*>(face.get()));
}

}  // namespace
}  // namespace Lumetra::Testing
