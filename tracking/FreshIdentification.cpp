#include "tracking/FreshIdentification.h"

#include <cmath>

#include "environment/Environment.h"

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
    const Quaterniond levelling = tilt ? tilt->levelling : Quaterniond{0, 0, 0, 1};
    std::vector<Vector3> searched(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (rays[i].usable) searched[i] = toFloat(LumetraMath::mul(levelling, rays[i].direction));
    PoseOutcome outcome = environment.identify(searched);
    if (!outcome.found) return std::nullopt;
    PoseEstimate estimate = std::move(outcome.estimate);
    const auto& q = estimate.pose.rotation;
    const Quaterniond found = normalized(Quaterniond{q.x, q.y, q.z, q.w} * levelling);
    if (tilt) {
        // The found up (world +y in the tracker's frame) against the known one, which after
        // levelling is +y itself.
        const Vector3d foundUp = LumetraMath::mul(LumetraMath::conjugate(found), Vector3d{0, 1, 0});
        const Vector3d knownUp = LumetraMath::mul(LumetraMath::conjugate(levelling), Vector3d{0, 1, 0});
        const double disagreement = std::acos(std::clamp(LumetraMath::dot(foundUp, knownUp), -1.0, 1.0));
        if (disagreement > std::max(tiltFloor, tiltSigmas * tilt->uncertainty)) return std::nullopt;
    }
    const Vector3d origin = rays.empty() ? Vector3d{} : rays.front().origin;
    const Vector3d centre{estimate.pose.position.x, estimate.pose.position.y, estimate.pose.position.z};
    const Vector3d position = centre - LumetraMath::mul(found, origin);
    estimate.pose.position = toFloat(position);
    estimate.pose.rotation = {static_cast<float>(found.x), static_cast<float>(found.y), static_cast<float>(found.z),
                              static_cast<float>(found.w)};
    return estimate;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
