#pragma once
// Coverage of the floor as the tool's commands measure it: the options that choose the method,
// camera, tracker distances and poses, and the room coverage through the built library.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "environment/EnvironmentRecord.h"
#include "simulation/RoomCoverage.h"
#include "tools/horizontal-grid/LibraryMatcher.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {

/// What the camera gets wrong: the figures of a --profile, or of explicit options.
struct CameraProfile {
    std::string name;
    double noiseDegrees = 0;
    double dropProbability = 0;
    std::size_t spuriousRays = 0;

    bool exact() const { return noiseDegrees == 0 && dropProbability == 0 && spuriousRays == 0; }
    /// "typical camera (0.05 deg noise, 5% of markers dropped, 1 stray ray a frame)".
    std::string describe() const;
};

struct CoverageOptions {
    TrackerOptions tracker;
    std::string profile = "typical";
    std::string method = "identify";
    unsigned threads = 0;  ///< 0: one per core
    std::vector<double> distances{1.7};  ///< of the tracker from the marker plane: one, or a range MIN,MAX
    std::vector<double> heights;         ///< of the tracker in the environment's frame (y up), instead
    int levels = 2;        ///< distances tried across a range
    double step = 0;       ///< lattice spacing; 0: one position per cell, at its centre
    int yaws = 8;
    std::vector<double> tiltsDegrees{0, 20};
    double threshold = 0.5;  ///< share of correct frames from which a position counts as covered
    double rate = 60;        ///< frames a second of the walks of --method track

    /// The tracker's distances from the marker plane, nearest first.
    std::pair<double, double> distanceRange(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d) const;
    /// The distances given, or those of the heights given.
    std::vector<double> givenDistances(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d) const;
    /// The profile's figures, each replaced by --noise, --drop or --spurious when given.
    CameraProfile camera() const;
    /// Everything the room coverage needs, for `camera`.
    Testing::CoverageSettings settings(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d,
                                       const CameraProfile& camera) const;

    // Set while the options are added: whether the user gave each figure.
    const CLI::Option* noiseOption = nullptr;
    const CLI::Option* dropOption = nullptr;
    const CLI::Option* spuriousOption = nullptr;
    const CLI::Option* distanceGiven = nullptr;
};

void addCoverageOptions(CLI::App& command, CoverageOptions& options);

using CoverageMap = Testing::RoomCoverage;

/// The map for frames as `camera` sees them, located through the library on all cores (or --threads).
CoverageMap computeCoverage(const LibraryMatcher& matcher,
                            const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description,
                            const CoverageOptions& options, const CameraProfile& camera);

/// The index of the lattice position nearest to `value`.
std::size_t nearestIndex(const std::vector<double>& positions, double value);

}  // namespace Lumetra::Tools
