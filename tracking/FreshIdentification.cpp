#include "tracking/FreshIdentification.h"

#include <algorithm>
#include <cmath>

#include "environment/Environment.h"
#include "matching/LevelledIdentification.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Vector3 = LumetraMath::vector<float, 3>;

/// A tilt disagreement beyond this many standard deviations (and a floor of 2 degrees) refuses a
/// hypothesis.
constexpr double tiltSigmas = 4.0;
constexpr double tiltFloor = 0.035;

Vector3 toFloat(const Vector3d& v) { return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)}; }

}  // namespace

Quaterniond levellingOf(const Vector3d& up) {
    const Vector3d unit = up / LumetraMath::length(up);
    const Vector3d axis = LumetraMath::cross(unit, Vector3d{0, 1, 0});
    const double sine = LumetraMath::length(axis);
    const double angle = std::atan2(sine, unit.y);
    if (sine < 1e-12) return unit.y > 0 ? Quaterniond{0, 0, 0, 1} : Quaterniond{1, 0, 0, 0};
    return rotationFromVector(axis * (angle / sine));
}

std::optional<PoseEstimate> identifyAfresh(const Environment& environment, const std::vector<TrackerRay>& rays,
                                           const std::optional<KnownTilt>& tilt) {
    // The search casts every ray from one point; a camera's offset on the tracker is put back below.
    std::optional<PoseEstimate> estimate;
    Quaterniond levelling{0, 0, 0, 1};
    if (tilt) {
        levelling = tilt->levelling;
        std::vector<Vector3> levelled(rays.size());
        for (std::size_t i = 0; i < rays.size(); ++i)
            if (rays[i].usable) levelled[i] = toFloat(LumetraMath::mul(levelling, rays[i].direction));
        // The levelled frame's up is +y: a hypothesis may tilt it by no more than the tilt's uncertainty allows.
        const double bound = std::max(tiltFloor, tiltSigmas * tilt->uncertainty);
        const RotationTest admits = [bound](const LumetraMath::quaternion<float>& q) {
            const Vector3d up = LumetraMath::mul(Quaterniond{q.x, q.y, q.z, q.w}, Vector3d{0, 1, 0});
            return std::acos(std::clamp(up.y / LumetraMath::length(up), -1.0, 1.0)) <= bound;
        };
        estimate = identifyLevelledRays(environment, levelled, admits);
    }
    if (!estimate) {
        // Unlevelled, and not held to the known tilt: it may come from an accelerometer that was not
        // at rest after all, or from an estimate gone astray (a disagreeing pose then restarts it).
        levelling = {0, 0, 0, 1};
        std::vector<Vector3> plain(rays.size());
        for (std::size_t i = 0; i < rays.size(); ++i)
            if (rays[i].usable) plain[i] = toFloat(rays[i].direction);
        PoseOutcome outcome = environment.identify(plain);
        if (!outcome.found) return std::nullopt;
        estimate = std::move(outcome.estimate);
    }
    const auto& q = estimate->pose.rotation;
    const Quaterniond found = normalized(Quaterniond{q.x, q.y, q.z, q.w} * levelling);
    const Vector3d origin = rays.empty() ? Vector3d{} : rays.front().origin;
    const Vector3d centre{estimate->pose.position.x, estimate->pose.position.y, estimate->pose.position.z};
    estimate->pose.position = toFloat(centre - LumetraMath::mul(found, origin));
    estimate->pose.rotation = {static_cast<float>(found.x), static_cast<float>(found.y), static_cast<float>(found.z),
                               static_cast<float>(found.w)};
    return estimate;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
