#pragma once
// The ITrackingEnvironment calls as a host makes them, wrapped in plain C++ like LibraryHost's:
// each throws CallFailed when the call does not return Ok.

#include <vector>

#include "simulation/LibraryHost.h"

namespace Lumetra::Testing {

using Vesk::Environment::HorizontalGrid::ITrackingEnvironment;
using Vesk::Environment::HorizontalGrid::PoseReport;

/// The environment's tracking face, found by QueryInterface; throws CallFailed without one.
InterfacePtr<ITrackingEnvironment> trackingFace(IEnvironment& environment);

struct PoseOutcome {
    bool found = false;
    std::vector<MarkerIndex> markerIndices;
    Pose pose{};
    PoseReport report{};
};

/// `pose` is where the pose starts (and stays on a False result).
PoseOutcome identify(ITrackingEnvironment& face, const std::vector<Vector3>& rays, const Pose& pose = {});
PoseOutcome track(ITrackingEnvironment& face, const std::vector<Vector3>& rays, const Pose& predicted);
PoseOutcome refinePose(ITrackingEnvironment& face, const std::vector<Vector3>& rays,
                       const std::vector<MarkerIndex>& numbers, const Pose& start);

}  // namespace Lumetra::Testing
