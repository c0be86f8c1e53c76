#pragma once
// simulate's options and run, for the commands that match frames of their own (demo).

#include <cstddef>
#include <string>
#include <vector>

#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {

struct SimulateOptions {
    InputSource input;
    TrackerOptions tracker;
    std::size_t frames = 500;
    std::vector<double> distances{1.2, 2.0};
    std::vector<double> heights;
    double maxTiltDegrees = 15;
    std::vector<std::string> poses;
    std::string poseFile;
    bool json = false;
    std::string method = "match";  ///< match, identify, track or tracker
    bool methodGiven = false;      ///< --method was given (a walk is tracked unless it was)
    double walkSeconds = 0;        ///< > 0: frames of a walk over the grid instead of random poses
    double rate = 120;             ///< frames a second of a walk (and the clock of --record's frames)
    bool inertial = true;          ///< --method tracker on a walk: with the walk's inertial samples
    std::string record;            ///< a file to record the frames into (with their truth), or ""
};

/// Matches the frames `options` asks for through the library and prints the figures; returns
/// the exit status.
int runSimulate(const SimulateOptions& options);

}  // namespace Lumetra::Tools
