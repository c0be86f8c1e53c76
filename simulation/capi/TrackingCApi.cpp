// The C interface of SimulationCApi.h over walks and the tracking face: a walk's poses, and loops
// that identify or track a batch of frames without returning to Python between frames.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "simulation/capi/SimulationCApi.h"

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "simulation/TrackingScenarios.h"
#include "simulation/capi/FrameBatchCalls.h"

namespace {

using Lumetra::InterfaceContract::ExceptionCode;
using Lumetra::InterfaceContract::LongBool;
using Lumetra::SimulationCApi::FrameIndices;
using Lumetra::SimulationCApi::framesFollowEachOther;
using Lumetra::Testing::ConstantVelocityPredictor;
using Lumetra::Testing::Pose;
using Lumetra::Vesk::Environment::IEnvironment;
using Lumetra::Vesk::Environment::MarkerUnidentified;
using Lumetra::Vesk::Environment::HorizontalGrid::ITrackingEnvironment;
using Lumetra::Vesk::Environment::HorizontalGrid::PoseReport;

constexpr std::uint32_t code(ExceptionCode value) { return static_cast<std::uint32_t>(value); }

/// Identifies (tracking: tracks, each frame predicted from the poses found before) the frames.
std::uint32_t poseFrames(void* environment, const float* rays, std::uint64_t rayCount, const std::uint64_t* offsets,
                         std::uint64_t frameCount, std::uint32_t* indices, float* poses, std::uint32_t* found,
                         PoseReport* reports, double* seconds, bool tracking) {
    if (!environment || !offsets || ((!indices || !rays) && rayCount > 0) ||
        ((!poses || !found || !reports || !seconds) && frameCount > 0))
        return code(ExceptionCode::InvalidPointer);
    if (!framesFollowEachOther(offsets, frameCount, rayCount)) return code(ExceptionCode::InvalidArgument);
    ITrackingEnvironment* face = nullptr;
    const ExceptionCode queried = static_cast<IEnvironment*>(environment)->QueryInterface(
        ITrackingEnvironment::interfaceId, reinterpret_cast<void**>(&face));
    if (queried != ExceptionCode::Ok) return code(queried);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ConstantVelocityPredictor predictor;
    std::uint32_t result = 0;
    for (std::uint64_t f = 0; f < frameCount && result == 0; ++f) {
        const std::uint64_t first = offsets[f], end = offsets[f + 1];
        const auto count = static_cast<std::uint32_t>(end - first);
        for (std::uint64_t r = first; r < end; ++r) indices[r] = MarkerUnidentified;
        FrameIndices target{indices + first, count};
        Pose pose{{nan, nan, nan}, {nan, nan, nan, nan}};
        reports[f] = PoseReport{};
        reports[f].structSize = sizeof(PoseReport);
        LongBool ok = LongBool::False;
        const std::optional<Pose> predicted = tracking ? predictor.predict() : std::nullopt;
        const auto start = std::chrono::steady_clock::now();
        const ExceptionCode called =
            predicted ? face->track({rays + 3 * first, count}, &*predicted, {&target, FrameIndices::allocate}, &pose,
                                    &reports[f], &ok)
                      : face->identify({rays + 3 * first, count}, {&target, FrameIndices::allocate}, &pose, &reports[f],
                                       &ok);
        seconds[f] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (called != ExceptionCode::Ok) result = code(called);
        predictor.update(ok == LongBool::True, pose);
        float* p = poses + f * 7;
        p[0] = pose.position.x, p[1] = pose.position.y, p[2] = pose.position.z;
        p[3] = pose.rotation.x, p[4] = pose.rotation.y, p[5] = pose.rotation.z, p[6] = pose.rotation.w;
        found[f] = ok == LongBool::True ? 1u : 0u;
    }
    face->Release();
    return result;
}

}  // namespace

extern "C" {

int lumetra_simulation_walk(double halfWidth, double halfDepth, double height, double seconds, double rate,
                            std::uint64_t seed, std::uint64_t capacity, double* out, std::uint64_t* count) {
    constexpr double largest = 1e6;
    if (!count || (!out && capacity > 0)) return 1;
    for (double value : {halfWidth, halfDepth, height})
        if (!std::isfinite(value) || std::abs(value) > largest) return 1;
    if (halfWidth < 0 || halfDepth < 0) return 1;
    if (!(seconds > 0 && seconds <= 86400 && rate >= 1 && rate <= 10000)) return 1;
    const auto poses = Lumetra::Testing::walk({halfWidth, halfDepth, height}, seconds, rate, seed);
    *count = poses.size();
    for (std::size_t i = 0; i < poses.size() && i < capacity; ++i) {
        const auto& pose = poses[i];
        double* p = out + i * 8;
        p[0] = pose.position.x, p[1] = pose.position.y, p[2] = pose.position.z, p[3] = pose.yaw;
        p[4] = pose.tiltAxis.x, p[5] = pose.tiltAxis.y, p[6] = pose.tiltAxis.z, p[7] = pose.tilt;
    }
    return 0;
}

std::uint32_t lumetra_simulation_identify(void* environment, const float* rays, std::uint64_t rayCount,
                                          const std::uint64_t* offsets, std::uint64_t frameCount, std::uint32_t* indices,
                                          float* poses, std::uint32_t* found, PoseReport* reports, double* seconds) {
    return poseFrames(environment, rays, rayCount, offsets, frameCount, indices, poses, found, reports, seconds, false);
}

std::uint32_t lumetra_simulation_track(void* environment, const float* rays, std::uint64_t rayCount,
                                       const std::uint64_t* offsets, std::uint64_t frameCount, std::uint32_t* indices,
                                       float* poses, std::uint32_t* found, PoseReport* reports, double* seconds) {
    return poseFrames(environment, rays, rayCount, offsets, frameCount, indices, poses, found, reports, seconds, true);
}

}  // extern "C"
