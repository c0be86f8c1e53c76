#pragma once
// Identifying a frame afresh for the tracker: the camera's rays turned into the tracker's frame
// and, when the tracker's tilt is known, levelled by it before the search (a view tilted far from
// level loses its bars' shapes in the plane the search projects onto), passing over hypotheses
// whose tilt disagrees with the known one beyond its uncertainty; when that finds nothing, the
// rays are searched unlevelled as identify does.

#include <optional>
#include <vector>

#include "environment/PoseEstimate.h"
#include "tracking/FilterState.h"
#include "tracking/RayFusion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

/// What the tracker knows of its tilt: the rotation that levels tracker-frame vectors (turns the
/// tracker's "up" onto the world's +y, no turn about it), and the uncertainty of that up (radians).
struct KnownTilt {
    Quaterniond levelling{0, 0, 0, 1};
    double uncertainty = 0;
};

/// The rotation that turns `up` (tracker frame) onto +y by the shortest turn.
Quaterniond levellingOf(const Vector3d& up);

/// The identified estimate, with its pose the tracker's (the camera's offset on the tracker
/// removed) and one number per ray.
std::optional<PoseEstimate> identifyAfresh(const Environment& environment, const std::vector<TrackerRay>& rays,
                                           const std::optional<KnownTilt>& tilt);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
