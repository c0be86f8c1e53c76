#include "tools/horizontal-grid/LibraryMatcher.h"

#include <chrono>
#include <stdexcept>

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

}  // namespace

LibraryMatcher::LibraryMatcher(const std::string& libraryPath, const std::string& code)
    : host_(libraryPath), environment_(createEnvironment(host_, code)), markers_(Testing::getMarkers(*environment_)) {}

Testing::Frame LibraryMatcher::frame(const Testing::TrackerPose& pose, const Testing::FrameOptions& options) const {
    return Testing::generateFrame(markers_, pose, options);
}

FrameOutcome LibraryMatcher::match(const Testing::TrackerPose& pose, const Testing::Frame& frame) const {
    FrameOutcome outcome;
    outcome.rays = frame.rays.size();
    outcome.completeBars = Testing::countCompleteBars(frame);

    const auto start = std::chrono::steady_clock::now();
    const Testing::MatchOutcome result = Testing::match(*environment_, frame.rays);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    outcome.matched = result.matched;
    if (!result.matched) return outcome;
    for (std::size_t i = 0; i < result.markerIndices.size() && i < frame.markerNumbers.size(); ++i) {
        const Testing::MarkerIndex found = result.markerIndices[i];
        if (found >= Vesk::Environment::MarkerNotFound) continue;
        ++outcome.numberedRays;
        if (found != frame.markerNumbers[i]) ++outcome.wrongRays;
    }
    const Testing::Point3d position = LumetraMath::vectorCast<double>(result.pose.position);
    outcome.positionError = LumetraMath::length(position - pose.position);
    const auto& q = result.pose.rotation;
    outcome.rotationError = Testing::rotationAngleBetween(LumetraMath::quaternion<double>{q.x, q.y, q.z, q.w},
                                                          pose.rotation());
    return outcome;
}

}  // namespace Lumetra::Tools
