#pragma once
// Tracker poses written by hand: "x,y,z,yaw[,tilt[,tiltAxis]]", angles in degrees, the tilt axis
// as a heading in the horizontal plane; in a file one pose per line, "#" starting a comment.

#include <string>
#include <vector>

#include "simulation/FrameGenerator.h"

namespace Lumetra::Tools {

/// Throws std::runtime_error naming the problem.
Testing::TrackerPose parsePose(const std::string& text);

/// The poses of a file's lines, numbered in messages.
std::vector<Testing::TrackerPose> parsePoseFile(const std::string& content, const std::string& fileName);

}  // namespace Lumetra::Tools
