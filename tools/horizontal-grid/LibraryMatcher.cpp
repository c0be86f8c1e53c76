#include "tools/horizontal-grid/LibraryMatcher.h"

#include <chrono>
#include <stdexcept>
#include <utility>

namespace Lumetra::Tools {

namespace {

InterfaceContract::InterfacePtr<Testing::IEnvironment> createEnvironment(const Testing::LibraryHost& host,
                                                                        const std::string& code) {
    try {
        return host.createEnvironment(code);
    } catch (const Testing::CallFailed& failure) {
        throw std::runtime_error("the library refused the environment code: " + failure.message);
    }
}

/// The tracking face, or null for a library without one (match still works with it).
InterfaceContract::InterfacePtr<Testing::ITrackingEnvironment> trackingFace(Testing::IEnvironment& environment) {
    try {
        return Testing::trackingFace(environment);
    } catch (const Testing::CallFailed&) {
        return {};
    }
}

Testing::ITrackingEnvironment& require(const InterfaceContract::InterfacePtr<Testing::ITrackingEnvironment>& face) {
    if (!face) throw std::runtime_error("the library has no tracking interface (identify, track): is it an older build?");
    return *face;
}

}  // namespace

LibraryMatcher::LibraryMatcher(const std::string& libraryPath, const std::string& code)
    : host_(libraryPath),
      environment_(createEnvironment(host_, code)),
      tracking_(trackingFace(*environment_)),
      markers_(Testing::getMarkers(*environment_)) {}

Testing::Frame LibraryMatcher::frame(const Testing::TrackerPose& pose, const Testing::FrameOptions& options) const {
    return Testing::generateFrame(markers_, pose, options);
}

template <class Call>
FrameOutcome LibraryMatcher::judge(const Testing::TrackerPose& pose, const Testing::Frame& frame, Call call) const {
    FrameOutcome outcome;
    outcome.rays = frame.rays.size();
    outcome.completeBars = Testing::countCompleteBars(frame);

    const auto start = std::chrono::steady_clock::now();
    const auto result = call();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    outcome.matched = result.found;
    outcome.fellBack = result.report.method == Vesk::Environment::HorizontalGrid::PoseMethodTrackFellBack;
    if (!result.found) return outcome;
    for (std::size_t i = 0; i < result.markerIndices.size() && i < frame.markerNumbers.size(); ++i) {
        const Testing::MarkerIndex found = result.markerIndices[i];
        if (found >= Vesk::Environment::MarkerNotFound) continue;
        ++outcome.numberedRays;
        if (found != frame.markerNumbers[i]) ++outcome.wrongRays;
    }
    outcome.pose = result.pose;
    const Testing::Point3d position = LumetraMath::vectorCast<double>(result.pose.position);
    outcome.positionError = LumetraMath::length(position - pose.position);
    const auto& q = result.pose.rotation;
    outcome.rotationError = Testing::rotationAngleBetween(LumetraMath::quaternion<double>{q.x, q.y, q.z, q.w},
                                                          pose.rotation());
    return outcome;
}

FrameOutcome LibraryMatcher::match(const Testing::TrackerPose& pose, const Testing::Frame& frame) const {
    return judge(pose, frame, [&] {
        Testing::MatchOutcome matched = Testing::match(*environment_, frame.rays);
        return Testing::PoseOutcome{matched.matched, std::move(matched.markerIndices), matched.pose, {}};
    });
}

FrameOutcome LibraryMatcher::identify(const Testing::TrackerPose& pose, const Testing::Frame& frame) const {
    return judge(pose, frame, [&] { return Testing::identify(require(tracking_), frame.rays); });
}

FrameOutcome LibraryMatcher::track(const Testing::TrackerPose& pose, const Testing::Frame& frame,
                                   const Testing::Pose& predicted) const {
    return judge(pose, frame, [&] { return Testing::track(require(tracking_), frame.rays, predicted); });
}

InterfaceContract::InterfacePtr<Testing::ITracker> LibraryMatcher::createTracker() const {
    return Testing::createTracker(*environment_);
}

FrameOutcome LibraryMatcher::trackerFrame(Testing::ITracker& tracker, double time, const Testing::TrackerPose& pose,
                                          const Testing::Frame& frame) const {
    return judge(pose, frame, [&] {
        Testing::FrameOutcome fused = Testing::addFrame(tracker, time, 0, frame.rays);
        const Testing::TrackerState state = Testing::getState(tracker, time);
        return Testing::PoseOutcome{fused.fused, std::move(fused.markerIndices), state.pose, fused.report};
    });
}

}  // namespace Lumetra::Tools
