// Tracking from a predicted pose, and the least-squares pose from numbers a host gives.

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "environment/Environment.h"
#include "matching/PoseSettling.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

/// A ray cast from the prediction takes the nearest marker within this share of the smallest
/// marker spacing: below a half, so that no ray can be nearer to two markers at once.
constexpr float associationShare = 0.45f;
/// The prediction holds when the settled pose explains at least this share of the usable rays
/// (and no fewer than minimumSupport): a prediction a cell off explains few of them.
constexpr double holdingShare = 0.6;
constexpr std::uint32_t minimumSupport = 6;

}  // namespace

PoseOutcome Environment::track(const std::vector<Vector3>& rays, const LumetraMath::poseP3Q<float>& predicted) const {
    const std::vector<Vector3> unit = unitRays(rays);
    const auto usable = static_cast<double>(std::count_if(unit.begin(), unit.end(), isUsableRay));
    std::vector<MarkerIndex> numbers = numberFromPose(*this, unit, predicted, associationShare * minMarkerDistance);
    if (const std::optional<SettledPose> settled = settlePose(*this, unit, std::move(numbers), predicted, minimumSupport);
        settled && static_cast<double>(settled->numbered) >= holdingShare * usable) {
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
