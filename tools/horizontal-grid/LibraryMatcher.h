#pragma once
// Matches synthetic frames through the built shared library, loaded with dlopen as a host loads it,
// and judges each outcome against the truth the frame was made from.

#include <string>
#include <vector>

#include "simulation/FrameGenerator.h"
#include "simulation/LibraryHost.h"
#include "simulation/TrackerHost.h"
#include "simulation/TrackingHost.h"

namespace Lumetra::Tools {

struct FrameOutcome {
    std::size_t rays = 0;
    std::size_t completeBars = 0;  ///< bars with all three markers in the frame
    bool matched = false;          ///< the library reported a complete, consistent identification
    std::size_t wrongRays = 0;     ///< rays numbered with a marker they do not show
    std::size_t numberedRays = 0;  ///< rays given a marker number
    double positionError = 0;      ///< of a match; distance between the reported and the true position
    double rotationError = 0;      ///< of a match; radians
    double seconds = 0;            ///< time the call took
    Testing::Pose pose{};          ///< the reported pose, of a match
    bool fellBack = false;         ///< track's prediction did not hold: the frame was identified afresh

    bool wrong() const { return matched && wrongRays > 0; }
    /// Matched, every number right and the position within `tolerance`.
    bool correct(double tolerance) const { return matched && wrongRays == 0 && positionError <= tolerance; }
};

class LibraryMatcher {
public:
    /// Loads the library and creates the environment of `code`; throws with the library's message.
    LibraryMatcher(const std::string& libraryPath, const std::string& code);

    /// The markers as the library reports them.
    const std::vector<Testing::Point3>& markers() const { return markers_; }

    Testing::Frame frame(const Testing::TrackerPose& pose, const Testing::FrameOptions& options) const;
    /// The frame through IEnvironment::match, judged against the true `pose`.
    FrameOutcome match(const Testing::TrackerPose& pose, const Testing::Frame& frame) const;
    /// The frame through the tracking face's identify.
    FrameOutcome identify(const Testing::TrackerPose& pose, const Testing::Frame& frame) const;
    /// The frame through the tracking face's track from `predicted`.
    FrameOutcome track(const Testing::TrackerPose& pose, const Testing::Frame& frame,
                       const Testing::Pose& predicted) const;
    /// A new inertial tracker on the environment (no inertial samples: it runs on its motion model).
    InterfaceContract::InterfacePtr<Testing::ITracker> createTracker() const;
    /// The frame at `time` through the tracker's addFrame, the pose its getState then reports.
    FrameOutcome trackerFrame(Testing::ITracker& tracker, double time, const Testing::TrackerPose& pose,
                              const Testing::Frame& frame) const;

private:
    template <class Call>
    FrameOutcome judge(const Testing::TrackerPose& pose, const Testing::Frame& frame, Call call) const;

    Testing::LibraryHost host_;
    InterfaceContract::InterfacePtr<Testing::IEnvironment> environment_;
    InterfaceContract::InterfacePtr<Testing::ITrackingEnvironment> tracking_;
    std::vector<Testing::Point3> markers_;
};

}  // namespace Lumetra::Tools
