#pragma once
// The picture of an environment seen from above: cells, contour, origin and axes, bars with their
// three numbered markers, and optionally a coverage heat map beneath.

#include <string>

#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/EnvironmentModel.h"

namespace Lumetra::Tools {

struct SvgOptions {
    double cellPixels = 48;  ///< drawn size of one cell
    bool markerNumbers = true;
    const CoverageMap* coverage = nullptr;
};

/// The SVG document. Seen from above: x to the right, z (the grid's y) downwards.
std::string renderEnvironmentSvg(const EnvironmentDescription& description, const Environment& environment,
                                 const SvgOptions& options);

}  // namespace Lumetra::Tools
