#pragma once
// The steps identify, track and refinePose share once a frame has tentative marker numbers: fit
// the pose to the numbered rays, judge every ray by a residual bound scaled to the fit's own
// spread, number the rays again from the fitted pose, and fit once more until the numbering holds.

#include <cstdint>
#include <optional>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "environment/PoseEstimate.h"
#include "matching/PoseRefinement.h"
#include "matching/RayPreparation.h"
#include "math/Pose.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

/// Numbers each usable ray by the nearest marker whose distance from the ray's hit on the marker
/// plane, cast from `pose`, is at most `radius`; when two rays claim one marker the nearer keeps it.
/// Every other entry is MarkerNotFound.
std::vector<MarkerIndex> numberFromPose(const Environment& environment,
                                        const std::vector<LumetraMath::vector<float, 3>>& rays,
                                        const LumetraMath::poseP3Q<float>& pose, float radius);

/// The least-squares fit to the numbered usable rays (numbers below the marker count), from
/// `start`; with `checks`, also each fitted ray's leave-one-out check, at its ray's index.
std::optional<RefinedPose> fitNumbered(const Environment& environment,
                                       const std::vector<LumetraMath::vector<float, 3>>& rays,
                                       const std::vector<MarkerIndex>& numbers,
                                       const LumetraMath::poseP3Q<float>& start,
                                       std::vector<LeaveOneOut>* checks = nullptr);

/// A settled fit: every numbered ray passes within a fifth of the smallest marker spacing of its
/// marker, and the fit without it would carry it within a quarter of that spacing on the marker
/// plane and within four standard deviations of the noise model (RefinedPose::residualVariance);
/// the fit rests on exactly the numbered rays, its spread is within four times the prior ray
/// noise, and its position's standard deviation under that model within half the smallest marker
/// spacing.
struct SettledPose {
    RefinedPose fit;
    std::vector<MarkerIndex> numbers;
    std::uint32_t numbered = 0;
};

/// Fits from `numbers` and `start`, then alternates renumbering from the fitted pose and fitting
/// until the numbering no longer changes (at most a few rounds); every fit is gated first. Nothing
/// when a fit fails, fewer than `minimumSupport` rays stay numbered or the last fit is not sound.
std::optional<SettledPose> settlePose(const Environment& environment,
                                      const std::vector<LumetraMath::vector<float, 3>>& rays,
                                      std::vector<MarkerIndex> numbers, const LumetraMath::poseP3Q<float>& start,
                                      std::uint32_t minimumSupport);

/// The estimate a settled fit stands for.
PoseEstimate toEstimate(const SettledPose& settled);

bool isFinitePose(const LumetraMath::poseP3Q<float>& pose);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
