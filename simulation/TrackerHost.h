#pragma once
// The ITrackerFactory and ITracker calls as a host makes them, wrapped in plain C++ like
// TrackingHost's: each throws CallFailed when the call does not return Ok.

#include <vector>

#include "simulation/LibraryHost.h"
#include "simulation/TrackingHost.h"

namespace Lumetra::Testing {

using Vesk::Environment::HorizontalGrid::InertialSample;
using Vesk::Environment::HorizontalGrid::ITracker;
using Vesk::Environment::HorizontalGrid::ITrackerFactory;
using Vesk::Environment::HorizontalGrid::TrackerSettings;
using Vesk::Environment::HorizontalGrid::TrackerState;

/// The environment's tracker factory, found by QueryInterface; throws CallFailed without one.
InterfacePtr<ITrackerFactory> trackerFactory(IEnvironment& environment);
/// A new tracker (null settings: all defaults).
InterfacePtr<ITracker> createTracker(IEnvironment& environment, const TrackerSettings* settings = nullptr);

void addInertial(ITracker& tracker, const std::vector<InertialSample>& samples);

struct FrameOutcome {
    bool fused = false;
    std::vector<MarkerIndex> markerIndices;
    PoseReport report{};
};
FrameOutcome addFrame(ITracker& tracker, double time, std::uint32_t camera, const std::vector<Vector3>& rays);

TrackerState getState(ITracker& tracker, double time);

}  // namespace Lumetra::Testing
