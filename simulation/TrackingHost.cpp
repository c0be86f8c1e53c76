#include "simulation/TrackingHost.h"

namespace Lumetra::Testing {
namespace {

PoseReport freshReport() {
    PoseReport report{};
    report.structSize = sizeof(PoseReport);
    return report;
}

}  // namespace

InterfacePtr<ITrackingEnvironment> trackingFace(IEnvironment& environment) {
    void* face = nullptr;
    expectOk(environment.QueryInterface(ITrackingEnvironment::interfaceId, &face), environment);
    return InterfacePtr<ITrackingEnvironment>::adopt(static_cast<ITrackingEnvironment*>(face));
}

PoseOutcome identify(ITrackingEnvironment& face, const std::vector<Vector3>& rays, const Pose& pose) {
    PoseOutcome outcome{false, {}, pose, freshReport()};
    OutArray<MarkerIndex> indices;
    LongBool found{};
    expectOk(face.identify(inArray(rays), indices.marshaler(), &outcome.pose, &outcome.report, &found), face);
    outcome.found = found != LongBool::False;
    outcome.markerIndices = std::move(indices.elements);
    return outcome;
}

PoseOutcome track(ITrackingEnvironment& face, const std::vector<Vector3>& rays, const Pose& predicted) {
    PoseOutcome outcome{false, {}, predicted, freshReport()};
    OutArray<MarkerIndex> indices;
    LongBool found{};
    expectOk(face.track(inArray(rays), &predicted, indices.marshaler(), &outcome.pose, &outcome.report, &found),
             face);
    outcome.found = found != LongBool::False;
    outcome.markerIndices = std::move(indices.elements);
    return outcome;
}

PoseOutcome refinePose(ITrackingEnvironment& face, const std::vector<Vector3>& rays,
                       const std::vector<MarkerIndex>& numbers, const Pose& start) {
    PoseOutcome outcome{false, {}, start, freshReport()};
    LongBool found{};
    expectOk(face.refinePose(inArray(rays), inArray(numbers), &outcome.pose, &outcome.report, &found), face);
    outcome.found = found != LongBool::False;
    return outcome;
}

}  // namespace Lumetra::Testing
