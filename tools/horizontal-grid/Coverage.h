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

struct CoverageOptions {
    TrackerOptions tracker;
    double distance = 1.7;       ///< of the tracker from the marker plane
    std::optional<double> height;  ///< of the tracker in the environment's frame (y up), instead of the distance
    double step = 0;      ///< lattice spacing; 0: one position per cell, at its centre
    int yaws = 8;
    std::vector<double> tiltsDegrees{0, 20};
    double threshold = 0.5;  ///< share of correct frames from which a position counts as covered

    double trackerHeight(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description) const;
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

CoverageMap computeCoverage(const LibraryMatcher& matcher,
                            const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description,
                            const CoverageOptions& options);

}  // namespace Lumetra::Tools
