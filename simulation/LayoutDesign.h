#pragma once
// Designs a layout for a room: bars of one geometry placed so that a tracker at the given distances
// from the marker plane has two catalogued features wholly in view from as much of the floor as
// possible. Random packings that keep the bars' spacing and the room's walls are tried first, then
// the best is improved by local moves (turn, shift, add or remove one bar). Deterministic for a
// seed, whatever the number of threads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "environment/EnvironmentRecord.h"
#include "simulation/RoomCoverage.h"

namespace Lumetra::Testing {

struct DesignRequest {
    /// Bar geometry, cell size, ceiling flag and marker height; its size and bars are not read.
    Vesk::Environment::HorizontalGrid::EnvironmentDescription geometry;
    double roomWidth = 0;  ///< along world x, metres
    double roomDepth = 0;  ///< along world z, metres
    double margin = 0;     ///< kept between every marker and the walls, metres
    int spacing = 1;       ///< cells kept free around every bar (Chebyshev distance), besides the bars keeping clear
    /// The tracker's distances, the camera's field of view and the poses tried; the search scores
    /// a layout by its identifiable share.
    CoverageSettings coverage;
    double target = 0.95;        ///< share of the floor; the search stops once its estimate reaches it
    std::size_t maxBars = 0;     ///< 0: as many as fit
    std::size_t starts = 8;      ///< random packings tried first
    std::size_t evaluations = 600;  ///< most layouts scored in all
    std::size_t patience = 12;      ///< batches of moves without a better layout before the search stops
    std::uint64_t seed = 1;
    unsigned threads = 0;  ///< 0: one per core
};

struct DesignResult {
    Vesk::Environment::HorizontalGrid::EnvironmentDescription layout;
    double estimate = 0;          ///< share of the floor (positions at the threshold) with two features in view
    std::size_t evaluations = 0;  ///< layouts scored
};

/// Columns and rows of the largest grid in the room less its margin; throws std::invalid_argument
/// when no cell fits or a side would exceed 4096 cells.
std::pair<std::uint32_t, std::uint32_t> gridInRoom(double width, double depth, double margin, double cellSize);

/// Called after each batch of layouts scored, with the number scored and the best estimate so far.
using DesignProgress = std::function<void(std::size_t evaluations, double estimate)>;

DesignResult designLayout(const DesignRequest& request, const DesignProgress& progress = {});

}  // namespace Lumetra::Testing
