#pragma once
// Options shared by the subcommands that match synthetic frames through the library: where the
// library is, what the camera sees and how wrong it may see it, and when a match counts as right.

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "environment/EnvironmentRecord.h"
#include "simulation/FrameGenerator.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/Progress.h"

namespace Lumetra::Tools {

struct TrackerOptions {
    std::string library = defaultLibraryPath();
    double fieldOfViewDegrees = 115;  ///< full opening angle of the camera's cone
    double noiseDegrees = 0;          ///< standard deviation of each ray's direction error
    double dropProbability = 0;
    std::size_t spuriousRays = 0;
    std::uint64_t seed = 1;
    double tolerance = 0;  ///< largest position error of a correct match; 0: a quarter of a cell
    std::string progress = "auto";  ///< auto, always or never

    ProgressMode progressMode() const;

    Testing::FrameOptions frameOptions(bool ceiling) const;
    /// The position tolerance for cells of `cellSize`.
    double positionTolerance(float cellSize) const;
};

void addTrackerOptions(CLI::App& command, TrackerOptions& options);

/// Refuses "nan", "inf" and the like, which the option parser reads as numbers.
const CLI::Validator& finiteNumber();

/// Fails unless a tracker at `height` lies on the side of the marker plane that its camera faces.
void requireTrackerSide(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description, double height);

constexpr double radiansPerDegree = 0.017453292519943295;

}  // namespace Lumetra::Tools
