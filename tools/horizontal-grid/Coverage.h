#pragma once
// Coverage of the floor: for a lattice of tracker positions at one height, each seen with several
// yaws and tilts, the share of frames that the library matches correctly.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "environment/EnvironmentRecord.h"
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
    unsigned threads = 0;  ///< 0: one per core
    double distance = 1.7;       ///< of the tracker from the marker plane
    std::optional<double> height;  ///< of the tracker in the environment's frame (y up), instead of the distance
    double step = 0;      ///< lattice spacing; 0: one position per cell, at its centre
    int yaws = 8;
    std::vector<double> tiltsDegrees{0, 20};
    double threshold = 0.5;  ///< share of correct frames from which a position counts as covered

    double trackerHeight(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description) const;
    /// The profile's figures, each replaced by --noise, --drop or --spurious when given.
    CameraProfile camera() const;

    // Set while the options are added: whether the user gave each figure.
    const CLI::Option* noiseOption = nullptr;
    const CLI::Option* dropOption = nullptr;
    const CLI::Option* spuriousOption = nullptr;
};

void addCoverageOptions(CLI::App& command, CoverageOptions& options);

struct CoverageMap {
    std::vector<double> xs;  ///< lattice columns, ascending
    std::vector<double> zs;  ///< lattice rows, ascending
    double step = 0;
    std::vector<double> shares;  ///< per position, row after row: share of frames matched correctly
    std::size_t framesPerPosition = 0;
    double threshold = 0;

    double share(std::size_t column, std::size_t row) const { return shares[row * xs.size() + column]; }
    std::size_t coveredPositions() const;
    /// Covered positions over all positions: the share of the floor that is covered.
    double coveredFraction() const;
    double meanShare() const;
    /// The position nearest to the grid point (x, z).
    std::size_t nearestColumn(double x) const;
    std::size_t nearestRow(double z) const;
};

/// The map for frames as `camera` sees them, matched on all cores (or --threads).
CoverageMap computeCoverage(const LibraryMatcher& matcher,
                            const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description,
                            const CoverageOptions& options, const CameraProfile& camera);

}  // namespace Lumetra::Tools
