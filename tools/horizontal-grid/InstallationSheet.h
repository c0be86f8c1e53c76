#pragma once
// The installation sheet: the room drawn to a print scale on a paper size, each bar numbered with
// its angle, the distances from the two nearest walls to each end marker in a table, the coverage
// beneath (cells below the threshold hatched) with its scale, a scale bar and a legend naming the
// method, camera and tracker distances. Lengths are in millimetres of paper; text is at least
// 10 pt.

#include <string>
#include <vector>

#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/EnvironmentModel.h"
#include "tools/horizontal-grid/Room.h"

namespace Lumetra::Tools {

struct SheetOptions {
    std::string paper = "A3";  ///< A4 or A3, landscape
    double scale = 50;         ///< 1:scale
    RoomSize room;             ///< walls, centred on the grid
    const CoverageMap* coverage = nullptr;
    std::string coverageLegend;  ///< what the coverage is of: method, camera, tracker distances
};

/// Where an end marker lies: its distances from the nearer side wall (left or right as drawn) and
/// the nearer end wall (top or bottom), metres.
struct WallDistances {
    std::string sideWall, endWall;  ///< "left"/"right", "top"/"bottom"
    double fromSide = 0, fromEnd = 0;
};

WallDistances wallDistances(double x, double z, const RoomSize& room);

/// Paper width and height in millimetres, landscape; throws UsageError for an unknown size.
std::pair<double, double> paperSize(const std::string& paper);

std::string renderInstallationSheet(const EnvironmentDescription& description, const Environment& environment,
                                    const SheetOptions& options);

}  // namespace Lumetra::Tools
