#pragma once
// A C interface over simulation/ for the Python package (loaded with ctypes, built as
// liblumetra_simulation_c.so): random tracker poses, the synthetic frames a tracker at each pose
// sees, and a loop that matches a batch of frames through an environment's interface without
// returning to Python between frames.
//
// Every function catches everything: a failure returns nonzero (or null) and leaves its text for
// lumetra_simulation_last_error() on the calling thread. A pose is 8 doubles: position x, y, z,
// yaw, tilt axis x, y, z, tilt (radians), turned by yaw about +y, then tipped by tilt about the
// axis. Coordinates beyond +-1e6 are refused.

#include <cstdint>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

#define LUMETRA_SIMULATION_API extern "C" [[gnu::visibility("default")]]

extern "C" {

/// Options of lumetra_simulation_generate (see Lumetra::Testing::FrameOptions).
struct lumetra_frame_options {
    std::uint32_t ceiling;        ///< nonzero: the camera looks up (+y), else down (-y)
    double fieldOfViewHalfAngle;  ///< radians about the camera axis, in (0, pi/2)
    double angularNoise;          ///< radians, standard deviation, in [0, 1]
    double dropProbability;       ///< in [0, 1]
    std::uint64_t spuriousRays;   ///< extra random rays per frame, at most 100000
    std::uint64_t seed;           ///< frame i is generated with seed + i, as the tool does
};

}  // extern "C"

/// The text of the calling thread's last failure.
LUMETRA_SIMULATION_API const char* lumetra_simulation_last_error();

/// `count` random poses into out (8 doubles each), drawn as the tool's simulate draws them.
LUMETRA_SIMULATION_API int lumetra_simulation_random_poses(std::uint64_t count, double halfWidth, double halfDepth,
                                                           double minDistance, double maxDistance, double maxTilt,
                                                           double planeHeight, std::uint32_t ceiling,
                                                           std::uint64_t seed, double* out);

/// The world_from_tracker rotation (x, y, z, w) of each pose into out (4 doubles each).
LUMETRA_SIMULATION_API int lumetra_simulation_rotations(std::uint64_t count, const double* poses, double* out);

/// The frames seen from `poses` by a camera over `markers` (3 floats each); null on failure.
/// Free with lumetra_simulation_free.
LUMETRA_SIMULATION_API void* lumetra_simulation_generate(const float* markers, std::uint64_t markerCount,
                                                         const double* poses, std::uint64_t poseCount,
                                                         const lumetra_frame_options* options);

/// The number of rays of all frames together.
LUMETRA_SIMULATION_API std::uint64_t lumetra_simulation_ray_count(const void* frames);

/// Copies the frames out: rays and world rays (3 floats per ray), marker numbers, and the offset
/// of each frame's first ray and the end (frame count + 1 entries).
LUMETRA_SIMULATION_API void lumetra_simulation_copy(const void* frames, float* rays, float* worldRays,
                                                    std::uint32_t* markerNumbers, std::uint64_t* offsets);

LUMETRA_SIMULATION_API void lumetra_simulation_free(void* frames);

/// Matches frameCount frames through `environment` (an IEnvironment interface pointer). Frame f
/// is rays[offsets[f], offsets[f + 1]) of the rayCount rays (3 floats each); offsets has
/// frameCount + 1 entries rising from 0 to at most rayCount, else InvalidArgument. Writes one
/// marker index per ray (MarkerUnidentified where the library delivered none), 7 floats per frame
/// (position, rotation x, y, z, w; NaN where the library left the pose untouched), the matched
/// flag and the seconds spent in match. Returns the first result code that is not Ok, or 0.
LUMETRA_SIMULATION_API std::uint32_t lumetra_simulation_match(void* environment, const float* rays,
                                                              std::uint64_t rayCount, const std::uint64_t* offsets,
                                                              std::uint64_t frameCount, std::uint32_t* indices,
                                                              float* poses, std::uint32_t* matched, double* seconds);

/// The poses of a walk over x within +-halfWidth, z within +-halfDepth at tracker height `height`,
/// `seconds` long at `rate` frames a second (Lumetra::Testing::walk: 1.5 m/s, head turns up to
/// 180 deg/s, +-10 deg of sway, a 3 cm bob): min(capacity, length) poses into out (8 doubles
/// each) and the walk's length into *count. Nonzero for values out of range.
LUMETRA_SIMULATION_API int lumetra_simulation_walk(double halfWidth, double halfDepth, double height, double seconds,
                                                   double rate, std::uint64_t seed, std::uint64_t capacity,
                                                   double* out, std::uint64_t* count);

/// Identifies frameCount frames through `environment`'s tracking face (ITrackingEnvironment),
/// laid out as for lumetra_simulation_match. Writes one marker index per ray (MarkerUnidentified
/// where the library delivered none), 7 floats per frame (NaN where no pose was found), the found
/// flag, the PoseReport and the seconds spent in the call. Returns the first result code that is
/// not Ok (also NoInterface for a library without the face), or 0.
LUMETRA_SIMULATION_API std::uint32_t lumetra_simulation_identify(
    void* environment, const float* rays, std::uint64_t rayCount, const std::uint64_t* offsets,
    std::uint64_t frameCount, std::uint32_t* indices, float* poses, std::uint32_t* found,
    Lumetra::Vesk::Environment::HorizontalGrid::PoseReport* reports, double* seconds);

/// As lumetra_simulation_identify, but tracks: each frame is predicted at constant velocity from
/// the two poses before (as the tool's simulate --method track), identified when there is none.
LUMETRA_SIMULATION_API std::uint32_t lumetra_simulation_track(
    void* environment, const float* rays, std::uint64_t rayCount, const std::uint64_t* offsets,
    std::uint64_t frameCount, std::uint32_t* indices, float* poses, std::uint32_t* found,
    Lumetra::Vesk::Environment::HorizontalGrid::PoseReport* reports, double* seconds);
