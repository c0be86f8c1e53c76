#pragma once
// The picture of an environment: cells with their numbers, metre rulers, the room, contour,
// origin and axes, bars with their numbers and three numbered markers, and optionally a coverage
// map beneath with its colour legend. Seen from above, or from below (mirrored) for ceilings.

#include <optional>
#include <string>

#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/EnvironmentModel.h"
#include "tools/horizontal-grid/Room.h"

namespace Lumetra::Tools {

struct SvgOptions {
    double cellPixels = 48;  ///< drawn size of one cell
    bool markerNumbers = true;
    bool fromBelow = false;  ///< as an installer looking up at a ceiling sees it: world x to the left
    std::optional<RoomSize> room;
    const CoverageMap* coverage = nullptr;
    std::string coverageLegend;  ///< what the coverage is of: method, camera, tracker distances
};

/// The SVG document: world x to the right (left when seen from below), world z downwards.
std::string renderEnvironmentSvg(const EnvironmentDescription& description, const Environment& environment,
                                 const SvgOptions& options);

}  // namespace Lumetra::Tools
