// Tracking from a predicted pose, and the least-squares pose from numbers a host gives.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "environment/Environment.h"
#include "matching/PoseSettling.h"
#include "matching/ResolvableRays.h"
#include "math/CholeskySolve.h"
#include "math/Quaternion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Vector3 = LumetraMath::vector<float, 3>;

/// A ray cast from the prediction takes the nearest marker within this share of the smallest
/// marker spacing: below a half, so that no ray can be nearer to two markers at once.
constexpr float associationShare = 0.45f;
/// The prediction holds when the settled pose explains at least this share of the rays it could
/// number at all (and no fewer than minimumSupport): a prediction a cell off explains few of them.
/// Rays far out on the plane of a wide view, which no fit can number, do not count.
constexpr double holdingShare = 0.6;
/// Rays are associated only where the prior ray noise, at this rms angle (both components of a ray
/// at the prior's deviation), moves the hit well within the marker spacing: far out on a wide view
/// the nearest marker is a guess, and a fit that starts from hundreds of guesses cannot gate them
/// all out.
constexpr double associationRms = std::numbers::sqrt2 * rayNoisePrior;
constexpr std::uint32_t minimumSupport = 6;

/// The settled pose from the rays' association with the markers near their hits from `predicted`,
/// if it explains enough of the rays it could resolve.
std::optional<SettledPose> trackFrom(const Environment& environment, const std::vector<Vector3>& rays,
                                     const LumetraMath::poseP3Q<float>& predicted) {
    const float radius = associationShare * environment.getMinMarkerDistance();
    std::vector<MarkerIndex> numbers = numberFromPose(environment, rays, predicted, radius);
    const ResolvableRays canAssociate(environment, predicted, associationRms);
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (!canAssociate(rays[i])) numbers[i] = MarkerNotFound;
    std::optional<SettledPose> settled = settlePose(environment, rays, std::move(numbers), predicted, minimumSupport);
    if (!settled) return std::nullopt;
    const auto numberable = ResolvableRays::numberable(environment, settled->fit.pose, settled->fit.residualVariance);
    if (static_cast<double>(settled->numbered) >= holdingShare * static_cast<double>(numberable.count(rays)))
        return settled;
    return std::nullopt;
}

/// The prediction turned towards the rays, for a prediction whose rotation is off by more than the
/// association allows at the edge of a wide view (a host that predicts with the last pose while the
/// head turns fast). Each round pairs every ray with the marker nearest its hit, within a radius
/// that shrinks from one marker spacing, and applies the small world-frame rotation that carries
/// the rays closest to their markers' directions: the pairs near the middle of the view, which a
/// rotation error moves least, are right from the start and pull the rest into place.
LumetraMath::poseP3Q<float> alignRotation(const Environment& environment, const std::vector<Vector3>& rays,
                                          LumetraMath::poseP3Q<float> pose) {
    const auto& markers = environment.getMarkersSearch().getPoints();
    for (const float share : {1.0f, 0.7f, 0.45f}) {
        const std::vector<MarkerIndex> numbers =
            numberFromPose(environment, rays, pose, share * environment.getMinMarkerDistance());
        const LumetraMath::matrix<float, 3, 3> toWorld = LumetraMath::toRotationMatrix(pose.rotation);
        LumetraMath::matrix<double, 3, 3> a{};
        LumetraMath::vector<double, 3> b{};
        std::size_t pairs = 0;
        for (std::size_t i = 0; i < rays.size(); ++i) {
            if (numbers[i] >= markers.size()) continue;
            using V = LumetraMath::vector<double, 3>;
            const V w = LumetraMath::vectorCast<double>(toWorld * rays[i]);
            const auto& m = markers[numbers[i]];
            V u = V{m.x, environment.getMarkersHeight(), m.y} - LumetraMath::vectorCast<double>(pose.position);
            u = u / LumetraMath::length(u);
            // omega x w = u - w to first order: (I - w w^T) omega = w x (u - w).
            for (std::size_t r = 0; r < 3; ++r)
                for (std::size_t c = 0; c < 3; ++c) a(r, c) += (r == c ? 1.0 : 0.0) - w[r] * w[c];
            b += LumetraMath::cross(w, u - w);
            ++pairs;
        }
        if (pairs < 3) break;
        const auto omega = LumetraMath::choleskySolve(LumetraMath::choleskyFactorize(a), b);
        const double angle = LumetraMath::length(omega);
        if (!std::isfinite(angle) || angle == 0.0) break;
        const auto turn = LumetraMath::quaternionFromAxisAngle(LumetraMath::vectorCast<float>(omega),
                                                                static_cast<float>(angle));
        pose.rotation = turn * pose.rotation;
    }
    return pose;
}

}  // namespace

PoseOutcome Environment::track(const std::vector<Vector3>& rays, const LumetraMath::poseP3Q<float>& predicted) const {
    std::vector<Vector3> unit = unitRays(rays);
    clearRepeatedRays(unit);
    std::optional<SettledPose> settled = trackFrom(*this, unit, predicted);
    if (!settled) settled = trackFrom(*this, unit, alignRotation(*this, unit, predicted));
    if (settled) {
        PoseOutcome outcome;
        outcome.found = true;
        outcome.method = PoseMethodTrack;
        outcome.estimate = toEstimate(*settled);
        return outcome;
    }
    PoseOutcome outcome = identify(rays);
    outcome.method = PoseMethodTrackFellBack;
    return outcome;
}

PoseOutcome Environment::refinePose(const std::vector<Vector3>& rays, const std::vector<MarkerIndex>& numbers,
                                    const LumetraMath::poseP3Q<float>& start) const {
    if (numbers.size() != rays.size()) throw std::invalid_argument("refinePose needs one marker index per ray");
    const std::size_t markerCount = markersSearch.getPoints().size();
    for (const MarkerIndex number : numbers)
        if (number >= markerCount && number != MarkerNotFound && number != MarkerUnidentified)
            throw std::invalid_argument("marker index " + std::to_string(number) + " names no marker (there are " +
                                        std::to_string(markerCount) + ")");

    PoseOutcome outcome;
    outcome.method = PoseMethodRefine;
    const std::vector<Vector3> unit = unitRays(rays);
    const std::optional<RefinedPose> fit = fitNumbered(*this, unit, numbers, start);
    if (!fit) return outcome;
    outcome.found = true;
    PoseEstimate& estimate = outcome.estimate;
    estimate.pose = fit->pose;
    for (std::size_t i = 0; i < unit.size(); ++i) estimate.numberedRays += numbers[i] < markerCount && isUsableRay(unit[i]);
    estimate.supportingRays = estimate.numberedRays;
    estimate.rmsAngle = fit->rmsAngle;
    estimate.maxAngle = fit->maxAngle;
    std::copy(std::begin(fit->covariance), std::end(fit->covariance), std::begin(estimate.covariance));
    return outcome;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
