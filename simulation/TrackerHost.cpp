#include "simulation/TrackerHost.h"

namespace Lumetra::Testing {

InterfacePtr<ITrackerFactory> trackerFactory(IEnvironment& environment) {
    void* face = nullptr;
    expectOk(environment.QueryInterface(ITrackerFactory::interfaceId, &face), environment);
    return InterfacePtr<ITrackerFactory>::adopt(static_cast<ITrackerFactory*>(face));
}

InterfacePtr<ITracker> createTracker(IEnvironment& environment, const TrackerSettings* settings) {
    const InterfacePtr<ITrackerFactory> factory = trackerFactory(environment);
    ITracker* tracker = nullptr;
    expectOk(factory->createTracker(settings, &tracker), *factory);
    return InterfacePtr<ITracker>::adopt(tracker);
}

void addInertial(ITracker& tracker, const std::vector<InertialSample>& samples) {
    expectOk(tracker.addInertial(inArray(samples)), tracker);
}

FrameOutcome addFrame(ITracker& tracker, double time, std::uint32_t camera, const std::vector<Vector3>& rays) {
    FrameOutcome outcome;
    outcome.report.structSize = sizeof(PoseReport);
    OutArray<MarkerIndex> indices;
    LongBool fused{};
    expectOk(tracker.addFrame(time, camera, inArray(rays), indices.marshaler(), &outcome.report, &fused), tracker);
    outcome.fused = fused != LongBool::False;
    outcome.markerIndices = std::move(indices.elements);
    return outcome;
}

TrackerState getState(ITracker& tracker, double time) {
    TrackerState state{};
    state.structSize = sizeof(TrackerState);
    expectOk(tracker.getState(time, &state), tracker);
    return state;
}

}  // namespace Lumetra::Testing
