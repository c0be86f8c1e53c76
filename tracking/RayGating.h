#pragma once
// Numbering a frame's rays from the filter's predicted pose. Each usable ray is cast from the
// prediction onto the marker plane; the markers near its hit are candidates, and each candidate is
// judged by the chi-square test of the ray's innovation under the predicted pose covariance:
//   S = H Ppose H^T + sigma^2 I (2 x 2),  d^2 = r^T S^-1 r.
// A ray takes the candidate that passes at 99.9 % (d^2 <= 13.8) only when no other candidate comes
// within 99.99 % (18.4): two plausible markers leave the ray unnumbered rather than guessed. When
// two rays claim one marker the one with the smaller d^2 keeps it. The gates thus follow the
// prediction's own uncertainty: millimetres while tracking, metres after a long gap.
//
// After the update, every numbered ray is judged again at the fused pose: its residual must stay
// within the ray noise's 99.9 % bound, and the ray cast from the fused pose must pass its marker
// within a quarter of the smallest marker spacing on the marker plane.

#include <optional>
#include <utility>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "tracking/RayFusion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

/// How many rays the prediction could judge at all (a usable ray meeting the marker plane with a
/// gate of at most four spacings: the rays a frame's numbering is measured against), and how many it
/// left undecided (a gate too wide, or two plausible markers): a fused pose may number those.
struct GateCounts {
    std::size_t judged = 0, undecided = 0;
};

/// The marker each ray shows by the gates above (MarkerNotFound elsewhere).
std::vector<MarkerIndex> numberByGates(const Environment& environment, const FilterState& predicted,
                                       const std::vector<TrackerRay>& rays, double rayNoise,
                                       GateCounts* counts = nullptr);

/// A ray and the markers within its 99.99 % gate, the most plausible first, with their d^2.
struct GateCandidates {
    std::size_t ray = 0;
    std::vector<std::pair<double, MarkerIndex>> markers;
};
/// Up to `count` usable rays with at least one marker in their gate, narrowest gate first, each gate
/// at most `maxSpacings` of the smallest marker spacing wide on the marker plane.
std::vector<GateCandidates> narrowestGates(const Environment& environment, const FilterState& predicted,
                                           const std::vector<TrackerRay>& rays, double rayNoise, double maxSpacings,
                                           std::size_t count);

/// Drops (to MarkerNotFound) every number the fused state does not uphold; returns how many it dropped.
std::size_t regate(const Environment& environment, const FilterState& fused, const std::vector<TrackerRay>& rays,
                   double rayNoise, std::vector<MarkerIndex>& numbers);

/// The correspondences of the numbered rays.
std::vector<Correspondence> correspondencesOf(const Environment& environment, const std::vector<TrackerRay>& rays,
                                              const std::vector<MarkerIndex>& numbers);

/// The 3D position of a marker.
Vector3d markerPosition(const Environment& environment, MarkerIndex number);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
