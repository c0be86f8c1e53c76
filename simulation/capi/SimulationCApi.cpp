// The C interface of SimulationCApi.h over the frame generator.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "simulation/capi/SimulationCApi.h"

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "simulation/FrameGenerator.h"
#include "simulation/capi/FrameBatchCalls.h"

namespace {

using Lumetra::InterfaceContract::ExceptionCode;
using Lumetra::InterfaceContract::LongBool;
using Lumetra::SimulationCApi::FrameIndices;
using Lumetra::SimulationCApi::framesFollowEachOther;
using Lumetra::Testing::Frame;
using Lumetra::Testing::Point3;
using Lumetra::Testing::Point3d;
using Lumetra::Testing::TrackerPose;
using Lumetra::Vesk::Environment::IEnvironment;
using Lumetra::Vesk::Environment::MarkerUnidentified;

thread_local std::string lastError;

/// Doubles per pose: position x, y, z, yaw, tilt axis x, y, z, tilt (radians).
constexpr std::size_t poseStride = 8;
/// Floats per matched pose: position x, y, z, rotation x, y, z, w.
constexpr std::size_t matchedPoseStride = 7;

template <class Body>
int guarded(Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (const std::exception& error) {
        lastError = error.what();
    } catch (...) {
        lastError = "unknown failure";
    }
    return 1;
}

void require(bool condition, const char* what) {
    if (!condition) throw std::invalid_argument(what);
}

/// Coordinates beyond this are refused, as the library refuses geometry beyond it.
constexpr double largestCoordinate = 1e6;

bool isCoordinate(double value) { return std::isfinite(value) && std::abs(value) <= largestCoordinate; }

TrackerPose poseAt(const double* values) {
    for (std::size_t i = 0; i < poseStride; ++i)
        require(isCoordinate(values[i]), "a pose value is not finite or beyond +-1e6");
    TrackerPose pose;
    pose.position = {values[0], values[1], values[2]};
    pose.yaw = values[3];
    pose.tiltAxis = {values[4], values[5], values[6]};
    pose.tilt = values[7];
    require(pose.tilt == 0 || LumetraMath::length(pose.tiltAxis) > 0, "a tilted pose has a zero tilt axis");
    if (pose.tilt != 0) pose.tiltAxis = pose.tiltAxis / LumetraMath::length(pose.tiltAxis);
    return pose;
}

struct FrameBatch {
    std::vector<Frame> frames;
    std::uint64_t rays = 0;
};

}  // namespace

extern "C" {


const char* lumetra_simulation_last_error() { return lastError.c_str(); }

int lumetra_simulation_random_poses(std::uint64_t count, double halfWidth,
                                                                   double halfDepth, double minDistance,
                                                                   double maxDistance, double maxTilt,
                                                                   double planeHeight, std::uint32_t ceiling,
                                                                   std::uint64_t seed, double* out) {
    return guarded([&] {
        require(out != nullptr || count == 0, "null output");
        for (double value : {halfWidth, halfDepth, minDistance, maxDistance, maxTilt, planeHeight})
            require(isCoordinate(value), "a range value is not finite or beyond +-1e6");
        require(halfWidth >= 0 && halfDepth >= 0 && maxTilt >= 0, "a range is negative");
        require(0 <= minDistance && minDistance <= maxDistance, "distances must satisfy 0 <= min <= max");
        Lumetra::Testing::PoseRange range{halfWidth, halfDepth, minDistance, maxDistance, maxTilt};
        std::mt19937_64 rng(seed);
        for (std::uint64_t i = 0; i < count; ++i) {
            const TrackerPose pose = Lumetra::Testing::randomTrackerPose(range, planeHeight, ceiling != 0, rng);
            double* p = out + i * poseStride;
            p[0] = pose.position.x, p[1] = pose.position.y, p[2] = pose.position.z, p[3] = pose.yaw;
            p[4] = pose.tiltAxis.x, p[5] = pose.tiltAxis.y, p[6] = pose.tiltAxis.z, p[7] = pose.tilt;
        }
    });
}

int lumetra_simulation_rotations(std::uint64_t count, const double* poses,
                                                                double* out) {
    return guarded([&] {
        require((poses != nullptr && out != nullptr) || count == 0, "null pose or output array");
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto q = poseAt(poses + i * poseStride).rotation();
            double* r = out + i * 4;
            r[0] = q.x, r[1] = q.y, r[2] = q.z, r[3] = q.w;
        }
    });
}

void* lumetra_simulation_generate(const float* markers, std::uint64_t markerCount,
                                                                 const double* poses, std::uint64_t poseCount,
                                                                 const lumetra_frame_options* options) {
    FrameBatch* result = nullptr;
    guarded([&] {
        require((markers != nullptr || markerCount == 0) && (poses != nullptr || poseCount == 0) && options,
                "null markers, poses or options");
        require(options->fieldOfViewHalfAngle > 0 && options->fieldOfViewHalfAngle < 1.5707963267948966,
                "the field of view's half angle must lie in (0, pi/2)");
        require(options->angularNoise >= 0 && options->angularNoise <= 1, "noise must lie in [0, 1] radians");
        require(options->dropProbability >= 0 && options->dropProbability <= 1, "drop must lie in [0, 1]");
        require(options->spuriousRays <= 100000, "at most 100000 spurious rays per frame");
        std::vector<Point3> points(markerCount);
        for (std::uint64_t i = 0; i < markerCount; ++i) {
            points[i] = {markers[3 * i], markers[3 * i + 1], markers[3 * i + 2]};
            require(isCoordinate(points[i].x) && isCoordinate(points[i].y) && isCoordinate(points[i].z),
                    "a marker is not finite or beyond +-1e6");
        }
        Lumetra::Testing::FrameOptions frameOptions;
        frameOptions.ceiling = options->ceiling != 0;
        frameOptions.fieldOfViewHalfAngle = options->fieldOfViewHalfAngle;
        frameOptions.angularNoise = options->angularNoise;
        frameOptions.dropProbability = options->dropProbability;
        frameOptions.spuriousRays = options->spuriousRays;
        auto batch = std::make_unique<FrameBatch>();
        batch->frames.reserve(poseCount);
        for (std::uint64_t i = 0; i < poseCount; ++i) {
            frameOptions.seed = options->seed + i;  // as the tool seeds its frames
            const TrackerPose pose = poseAt(poses + i * poseStride);
            batch->frames.push_back(Lumetra::Testing::generateFrame(points, pose, frameOptions));
            batch->rays += batch->frames.back().rays.size();
        }
        result = batch.release();
    });
    return result;
}

std::uint64_t lumetra_simulation_ray_count(const void* frames) {
    return frames ? static_cast<const FrameBatch*>(frames)->rays : 0;
}

void lumetra_simulation_copy(const void* frames, float* rays, float* worldRays,
                                                            std::uint32_t* markerNumbers, std::uint64_t* offsets) {
    if (!frames || !rays || !worldRays || !markerNumbers || !offsets) return;
    std::uint64_t next = 0;
    const auto& batch = *static_cast<const FrameBatch*>(frames);
    for (std::size_t f = 0; f < batch.frames.size(); ++f) {
        offsets[f] = next;
        const Frame& frame = batch.frames[f];
        for (std::size_t r = 0; r < frame.rays.size(); ++r, ++next) {
            for (std::size_t c = 0; c < 3; ++c) {
                rays[3 * next + c] = frame.rays[r][c];
                worldRays[3 * next + c] = frame.worldRays[r][c];
            }
            markerNumbers[next] = frame.markerNumbers[r];
        }
    }
    offsets[batch.frames.size()] = next;
}

void lumetra_simulation_free(void* frames) { delete static_cast<FrameBatch*>(frames); }

std::uint32_t lumetra_simulation_match(void* environment, const float* rays,
                                                                      std::uint64_t rayCount,
                                                                      const std::uint64_t* offsets,
                                                                      std::uint64_t frameCount, std::uint32_t* indices,
                                                                      float* poses, std::uint32_t* matched,
                                                                      double* seconds) {
    if (!environment || !offsets || ((!indices || !rays) && rayCount > 0) ||
        ((!poses || !matched || !seconds) && frameCount > 0))
        return static_cast<std::uint32_t>(ExceptionCode::InvalidPointer);
    if (!framesFollowEachOther(offsets, frameCount, rayCount))
        return static_cast<std::uint32_t>(ExceptionCode::InvalidArgument);
    auto& face = *static_cast<IEnvironment*>(environment);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::uint64_t f = 0; f < frameCount; ++f) {
        const std::uint64_t first = offsets[f], end = offsets[f + 1];
        const auto count = static_cast<std::uint32_t>(end - first);
        for (std::uint64_t r = first; r < end; ++r) indices[r] = MarkerUnidentified;
        FrameIndices target{indices + first, count};
        LumetraMath::poseP3Q<float> pose{{nan, nan, nan}, {nan, nan, nan, nan}};
        LongBool result = LongBool::False;
        const auto start = std::chrono::steady_clock::now();
        const ExceptionCode code =
            face.match({rays + 3 * first, count}, {&target, FrameIndices::allocate}, &pose, &result);
        seconds[f] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (code != ExceptionCode::Ok) return static_cast<std::uint32_t>(code);
        float* p = poses + f * matchedPoseStride;
        p[0] = pose.position.x, p[1] = pose.position.y, p[2] = pose.position.z;
        p[3] = pose.rotation.x, p[4] = pose.rotation.y, p[5] = pose.rotation.z, p[6] = pose.rotation.w;
        matched[f] = result == LongBool::True ? 1u : 0u;
    }
    return 0;
}

}  // extern "C"
