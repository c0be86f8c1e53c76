#pragma once
// Runs a recording through the library as a host would, frame by frame in file order, with one
// of its ways to a pose, and judges each frame against the recorded truth where there is one.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/horizontal-grid/Recording.h"

namespace Lumetra::Tools {

/// The ways to a pose: IEnvironment::match, identify, track (each frame predicted at constant
/// velocity from the poses before; identify when there is none), and the inertial tracker.
enum class ReplayMethod { match, identify, track, tracker };

struct ReplayedFrame {
    std::size_t index = 0;  ///< frame number in the recording, from 0
    double time = 0;
    std::uint32_t camera = 0;
    std::vector<Host::Vector3> rays;  ///< in the tracker's frame
    bool found = false;
    std::uint32_t poseMethod = 0;  ///< PoseReport::method (match: PoseMethodIdentify)
    Host::Pose pose{};             ///< when found
    std::vector<Host::MarkerIndex> markerIndices;  ///< one per ray (all MarkerUnidentified when not found)
    std::size_t numbered = 0;
    std::optional<RecordedTruth> truth;
    std::optional<std::size_t> wrong;        ///< numbered rays whose number is not the true one
    std::optional<double> positionError;     ///< of a found pose, when the true pose is known
    std::optional<double> rotationErrorDegrees;
    double seconds = 0;                      ///< time in the library's call
};

struct Replay {
    std::vector<ReplayedFrame> frames;
    std::vector<Host::Vector3> markers;  ///< the environment's marker positions
    bool ceiling = false;
    double librarySeconds = 0;  ///< the library's calls: creating the environment, frames, inertial samples
    double readingSeconds = 0;  ///< reading and parsing the file
    double totalSeconds = 0;    ///< reading the file, parsing it and running it all
};

/// Reads `file` and runs it through the library at `libraryPath`.
Replay replay(const std::string& file, ReplayMethod method, const std::string& libraryPath);

}  // namespace Lumetra::Tools
