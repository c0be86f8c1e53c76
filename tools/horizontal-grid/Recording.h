#pragma once
// Recordings: what a tracker saw, one JSON object per line (JSON Lines; the README's "Recordings"
// describes the format). The header line names the environment and the cameras; then frames and
// inertial samples follow in the order the host received them.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGridHost.h"

namespace Lumetra::Tools {

/// A camera of the recording: its mount on the tracker, and its model when frames give pixels.
struct RecordedCamera {
    Host::Pose mount{{0, 0, 0}, {0, 0, 0, 1}};
    std::optional<Host::Camera> model;
    std::optional<Host::Camera> unmountedModel;  ///< the model at the origin, unrotated: rays in its own frame
};

/// What the tracker really did, when the recording knows it.
struct RecordedTruth {
    std::optional<Host::Pose> pose;
    std::vector<Host::MarkerIndex> markerIndices;  ///< per ray: the marker it shows, MarkerUnidentified for none
};

struct RecordedFrame {
    std::size_t line = 0;
    double time = 0;
    std::uint32_t camera = 0;
    std::vector<Host::Vector3> rays;  ///< in the camera's frame (unprojected when the line gave pixels)
    std::vector<Host::Pixel> pixels;  ///< as recorded, when it gave pixels
    std::optional<RecordedTruth> truth;
};

using RecordedEvent = std::variant<RecordedFrame, Host::InertialSample>;

struct Recording {
    std::string environment;  ///< the environment code
    std::vector<RecordedCamera> cameras;  ///< at least one (an unrotated camera when the header lists none)
    std::vector<RecordedEvent> events;    ///< in file order
    std::size_t frames = 0;
};

/// Reads a recording; throws std::runtime_error naming the line of the first fault.
Recording parseRecording(std::string_view text);

}  // namespace Lumetra::Tools
