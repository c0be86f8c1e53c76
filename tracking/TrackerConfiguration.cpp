#include "tracking/TrackerConfiguration.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

constexpr float defaultRayNoise = 8.7e-4f;
constexpr float defaultGyroNoise = 1.7e-4f, defaultGyroBiasWalk = 1.9e-5f;
constexpr float defaultAccelNoise = 2e-3f, defaultAccelBiasWalk = 3e-3f;
constexpr float defaultGravity = 9.80665f;
/// The motion model without samples: a head's acceleration and angular acceleration as white noise.
/// A walking head's acceleration (a few cm of bob at ~2 Hz, slow swings across a room) keeps the
/// covariance honest at 0.4; a larger density widens the gates and the frame-to-frame smoothing.
constexpr double motionAcceleration = 0.4;        // units/s^2/sqrt(Hz), for metres
constexpr double motionAngularAcceleration = 4.0;  // rad/s^2/sqrt(Hz)

/// A setting given (nonzero) must lie within [low, high]: far outside, the filter's arithmetic
/// underflows or overflows.
double valueOr(float value, float fallback, const char* name, double low, double high) {
    if (value == 0) return fallback;
    if (!std::isfinite(value) || value < low || value > high)
        throw std::invalid_argument(std::string("tracker settings: ") + name + " is not within [" +
                                    std::to_string(low) + ", " + std::to_string(high) + "]");
    return value;
}

CameraMount mountOf(const LumetraMath::poseP3Q<float>& pose, std::uint32_t index) {
    const auto& p = pose.position;
    const auto& q = pose.rotation;
    const float values[7] = {p.x, p.y, p.z, q.x, q.y, q.z, q.w};
    const std::string what = "tracker settings: camera " + std::to_string(index);
    if (std::all_of(std::begin(values), std::end(values), [](float v) { return v == 0; })) return {};
    for (const float value : values)
        if (!std::isfinite(value)) throw std::invalid_argument(what + " pose is not finite");
    const double norm = std::sqrt(double{q.x} * q.x + double{q.y} * q.y + double{q.z} * q.z + double{q.w} * q.w);
    if (std::fabs(norm - 1.0) > 1e-3) throw std::invalid_argument(what + " has no unit rotation quaternion");
    return {{p.x, p.y, p.z}, {q.x / norm, q.y / norm, q.z / norm, q.w / norm}};
}

}  // namespace

TrackerConfiguration resolveTrackerSettings(const TrackerSettings* settings) {
    // The host's bytes up to its structSize, the rest zero (default).
    TrackerSettings given{};
    if (settings != nullptr) {
        const std::size_t size = std::min<std::size_t>(settings->structSize, sizeof(TrackerSettings));
        std::memcpy(&given, settings, size);
    }
    if (given.cameraCount > maxTrackerCameras)
        throw std::invalid_argument("tracker settings: " + std::to_string(given.cameraCount) +
                                    " cameras, at most 8 are supported");
    TrackerConfiguration configuration;
    const std::uint32_t cameras = std::max<std::uint32_t>(given.cameraCount, 1);
    for (std::uint32_t i = 0; i < cameras; ++i)
        configuration.cameras.push_back(given.cameraCount == 0 ? CameraMount{} : mountOf(given.cameras[i], i));
    configuration.rayNoise = valueOr(given.rayNoise, defaultRayNoise, "rayNoise", 1e-6, 0.1);
    ProcessNoise& noise = configuration.noise;
    noise.gyro = valueOr(given.gyroNoise, defaultGyroNoise, "gyroNoise", 1e-9, 1.0);
    noise.gyroBiasWalk = valueOr(given.gyroBiasWalk, defaultGyroBiasWalk, "gyroBiasWalk", 1e-9, 1.0);
    noise.gravity = valueOr(given.gravity, defaultGravity, "gravity", 1e-3, 1e6);
    // The accelerometer's densities scale with the unit of length, as gravity does.
    const double unit = noise.gravity / defaultGravity;
    noise.accel = valueOr(given.accelNoise, defaultAccelNoise, "accelNoise", 1e-9 * unit, 10.0 * unit);
    noise.accelBiasWalk = valueOr(given.accelBiasWalk, defaultAccelBiasWalk, "accelBiasWalk", 1e-9 * unit, 10.0 * unit);
    noise.motionAcceleration = motionAcceleration * unit;
    noise.motionAngularAcceleration = motionAngularAcceleration;
    return configuration;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
