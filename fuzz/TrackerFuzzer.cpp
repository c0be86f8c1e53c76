// Sequences of calls on one inertial tracker through the ITrackerFactory and ITracker faces.
// Input: byte 0 picks the environment; bytes 1-2 the settings (camera count, and which fields are
// set, possibly absurd); then operations, one byte each followed by its payload:
//   0 addInertial  a count (1 byte, up to 16) and per sample a time step and six values (1 byte
//                  each: plausible motion) or, with bit 7 of the opcode, the raw 32 bytes
//   1 addFrame     a time step, a camera byte and the frame of the tracker resting above the grid's
//                  centre, its rays disturbed by the payload's bytes (up to 8 replaced by raw floats)
//   2 getState     a time offset byte (or with bit 7, a raw double)
//   3 reset
// Checked: every call returns Ok or InvalidArgument; a refused call writes nothing; a True frame
// has one valid, unique number per ray; a Tracking or Coasting state is finite with a unit rotation
// and a covariance of positive diagonal; a Lost one is zero but for its status and time.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <span>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"
#include "fuzz/MatchCase.h"
#include "simulation/FrameGenerator.h"

namespace {

using namespace LumetraFuzz;
using Lumetra::Vesk::Environment::HorizontalGrid::InertialSample;
using Lumetra::Vesk::Environment::HorizontalGrid::ITracker;
using Lumetra::Vesk::Environment::HorizontalGrid::ITrackerFactory;
using Lumetra::Vesk::Environment::HorizontalGrid::PoseReport;
using Lumetra::Vesk::Environment::HorizontalGrid::TrackerLost;
using Lumetra::Vesk::Environment::HorizontalGrid::TrackerSettings;
using Lumetra::Vesk::Environment::HorizontalGrid::TrackerState;

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> input) : input_(input) {}
    bool empty() const { return position_ >= input_.size(); }
    std::uint8_t byte() { return empty() ? 0 : input_[position_++]; }
    template <class T>
    T raw() {
        unsigned char bytes[sizeof(T)] = {};
        for (unsigned char& b : bytes) b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

private:
    std::span<const std::uint8_t> input_;
    std::size_t position_ = 0;
};

struct Scene {
    IEnvironment* environment = nullptr;
    std::vector<Vector3> markers;
    std::vector<Vector3> restingRays;  ///< the frame of a tracker 1.5 units from the markers above the centre
};

/// The environments of matchEnvironmentCodes() with their resting frames, one reference each held
/// for the whole run.
class Scenes {
public:
    Scenes();
    ~Scenes() {
        for (const Scene& scene : list_) scene.environment->Release();
    }
    Scenes(const Scenes&) = delete;
    Scenes& operator=(const Scenes&) = delete;

    const std::vector<Scene>& list() const { return list_; }

private:
    std::vector<Scene> list_;
};

Scenes::Scenes() {
    for (std::string_view code : matchEnvironmentCodes()) {
        Scene scene;
        scene.environment = &requireEnvironment(code);
        OutArray<Vector3> markers;
        LUMETRA_FUZZ_CHECK(scene.environment->getMarkers(markers.marshaler()) == ExceptionCode::Ok, "getMarkers");
        scene.markers = markers.elements;
        LongBool ceiling{};
        const float height = scene.markers.empty() ? 0.0f : scene.markers.front().y;
        scene.environment->filterRay({0, 1, 0}, {0, 1, 0}, &ceiling);
        Lumetra::Testing::TrackerPose pose;
        const bool underCeiling = ceiling == LongBool::True;  // an upward ray faces the markers only under a ceiling
        pose.position = {0.1, height + (underCeiling ? -1.5 : 1.5), -0.1};
        pose.yaw = 0.3;
        std::vector<Lumetra::Testing::Point3> points(scene.markers.begin(), scene.markers.end());
        scene.restingRays = Lumetra::Testing::generateFrame(
                                points, pose, {.ceiling = underCeiling, .fieldOfViewHalfAngle = 1.0, .seed = 1})
                                .rays;
        list_.push_back(std::move(scene));
    }
}

const std::vector<Scene>& scenes() {
    static const Scenes created;
    return created.list();
}

void checkCode(ExceptionCode code) {
    LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok || code == ExceptionCode::InvalidArgument, "code 0x%08X: %s",
                       static_cast<unsigned>(code), threadMessage().c_str());
}

void checkState(const TrackerState& state) {
    if (state.status == TrackerLost) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&state.pose);
        for (std::size_t i = 0; i < sizeof(TrackerState) - offsetof(TrackerState, pose); ++i)
            LUMETRA_FUZZ_CHECK(bytes[i] == 0, "a lost state is not zero");
        return;
    }
    LUMETRA_FUZZ_CHECK(state.status <= 2, "status %u", state.status);
    const auto& p = state.pose;
    const float values[] = {p.position.x, p.position.y, p.position.z, p.rotation.x, p.rotation.y, p.rotation.z,
                            p.rotation.w, state.velocity[0], state.velocity[1], state.velocity[2],
                            state.angularRate[0], state.angularRate[1], state.angularRate[2]};
    for (const float value : values) LUMETRA_FUZZ_CHECK(std::isfinite(value), "a state value is not finite");
    for (const float value : state.covariance) LUMETRA_FUZZ_CHECK(std::isfinite(value), "covariance not finite");
    for (const std::size_t diagonal : {0, 6, 11, 15, 18, 20})
        LUMETRA_FUZZ_CHECK(state.covariance[diagonal] > 0, "covariance diagonal %zu not positive", diagonal);
    const float norm = std::sqrt(p.rotation.x * p.rotation.x + p.rotation.y * p.rotation.y +
                                 p.rotation.z * p.rotation.z + p.rotation.w * p.rotation.w);
    LUMETRA_FUZZ_CHECK(std::fabs(norm - 1.0f) < 1e-3f, "rotation norm %g", static_cast<double>(norm));
}

ITracker* createTracker(IEnvironment& environment, Reader& in) {
    void* face = nullptr;
    LUMETRA_FUZZ_CHECK(environment.QueryInterface(ITrackerFactory::interfaceId, &face) == ExceptionCode::Ok, "factory");
    auto* factory = static_cast<ITrackerFactory*>(face);
    TrackerSettings settings{};
    const std::uint8_t shape = in.byte(), fields = in.byte();
    settings.structSize = (shape & 0x80) ? in.byte() : sizeof(TrackerSettings);
    settings.cameraCount = shape & 0x0F;
    for (std::uint32_t c = 0; c < 8; ++c) settings.cameras[c] = {{0.05f * static_cast<float>(c), 0, 0}, {0, 0, 0, 1}};
    if (fields & 1) settings.cameras[0].rotation = {0, 0, in.raw<float>(), 1};
    if (fields & 2) settings.rayNoise = in.raw<float>();
    if (fields & 4) settings.gyroNoise = in.raw<float>();
    if (fields & 8) settings.accelBiasWalk = in.raw<float>();
    if (fields & 16) settings.gravity = in.raw<float>();
    ITracker* tracker = nullptr;
    const ExceptionCode code = factory->createTracker(&settings, &tracker);
    factory->Release();
    checkCode(code);
    LUMETRA_FUZZ_CHECK((code == ExceptionCode::Ok) == (tracker != nullptr), "slot and code disagree");
    return tracker;
}

void addFrame(ITracker& tracker, const Scene& scene, Reader& in, double& clock) {
    clock += in.byte() / 200.0 - 0.1;
    const std::uint32_t camera = in.byte() % 10;
    std::vector<Vector3> rays = scene.restingRays;
    const std::uint8_t replaced = in.byte() % 9;
    for (std::uint8_t r = 0; r < replaced && !rays.empty(); ++r)
        rays[in.byte() % rays.size()] = {in.raw<float>(), in.raw<float>(), in.raw<float>()};
    PoseReport report{};
    report.structSize = in.byte() & 1 ? sizeof(PoseReport) : in.byte();
    const PoseReport before = report;
    LongBool result = static_cast<LongBool>(5);
    OutArray<MarkerIndex> indices;
    const ExceptionCode code = tracker.addFrame(clock, camera, {rays.data(), static_cast<std::uint32_t>(rays.size())},
                                                indices.marshaler(), &report, &result);
    checkCode(code);
    if (code != ExceptionCode::Ok) {
        LUMETRA_FUZZ_CHECK(std::memcmp(&report, &before, sizeof report) == 0 && indices.allocateCalls == 0 &&
                               result == static_cast<LongBool>(5),
                           "a refused frame wrote results");
        return;
    }
    LUMETRA_FUZZ_CHECK(indices.allocateCalls == 1, "allocator called %d times", indices.allocateCalls);
    if (result == LongBool::False) {
        LUMETRA_FUZZ_CHECK(indices.elements.empty(), "a False frame delivered numbers");
        return;
    }
    LUMETRA_FUZZ_CHECK(result == LongBool::True, "result is not a LongBool");
    LUMETRA_FUZZ_CHECK(indices.elements.size() == rays.size(), "one number per ray");
    std::set<MarkerIndex> seen;
    for (const MarkerIndex number : indices.elements) {
        if (number == Lumetra::Vesk::Environment::MarkerNotFound) continue;
        LUMETRA_FUZZ_CHECK(number < scene.markers.size(), "number %u names no marker", number);
        LUMETRA_FUZZ_CHECK(seen.insert(number).second, "number %u given twice", number);
    }
}

void addInertial(ITracker& tracker, Reader& in, bool raw, double& sampleClock) {
    const std::size_t count = in.byte() % 17;
    std::vector<InertialSample> samples(count);
    for (InertialSample& s : samples) {
        if (raw) {
            s = in.raw<InertialSample>();
            continue;
        }
        sampleClock += (in.byte() + 1) / 25600.0 - 0.0005;
        s.time = sampleClock;
        for (float& w : s.angularRate) w = (in.byte() - 128) / 16.0f;
        for (float& f : s.specificForce) f = (in.byte() - 128) / 8.0f;
    }
    checkCode(tracker.addInertial({samples.data(), static_cast<std::uint32_t>(samples.size())}));
}

void getState(ITracker& tracker, Reader& in, bool raw, double clock) {
    const double time = raw ? in.raw<double>() : clock + in.byte() / 1000.0 - 0.05;
    TrackerState state{};
    state.structSize = sizeof(TrackerState);
    std::memset(static_cast<void*>(&state.status), 0x5A, sizeof(TrackerState) - sizeof(state.structSize));
    unsigned char before[sizeof(TrackerState)];
    std::memcpy(before, static_cast<const void*>(&state), sizeof before);
    const ExceptionCode code = tracker.getState(time, &state);
    checkCode(code);
    if (code != ExceptionCode::Ok) {
        LUMETRA_FUZZ_CHECK(std::memcmp(before, static_cast<const void*>(&state), sizeof before) == 0,
                           "a refused getState wrote the state");
        return;
    }
    checkState(state);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in({data, size});
    const Scene& scene = scenes()[in.byte() % scenes().size()];
    ITracker* tracker = createTracker(*scene.environment, in);
    if (tracker == nullptr) return 0;
    double clock = 1.0, sampleClock = 1.0;
    for (int operations = 0; !in.empty() && operations < 64; ++operations) {
        const std::uint8_t opcode = in.byte();
        const bool raw = (opcode & 0x80) != 0;
        switch (opcode & 3) {
            case 0: addInertial(*tracker, in, raw, sampleClock); break;
            case 1: addFrame(*tracker, scene, in, clock); break;
            case 2: getState(*tracker, in, raw, clock); break;
            default: checkCode(tracker->reset()); break;
        }
    }
    tracker->Release();
    return 0;
}
