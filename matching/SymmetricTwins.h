#pragma once
// A numbering of a frame on a layout that repeats itself may have a twin: the same rays numbered
// with the markers the layout's symmetry carries them onto. When the twin explains the frame as well,
// the frame cannot tell the two places apart, and no pose may be reported for it.

#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "catalogue/LayoutSymmetry.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Whether some symmetry carries the markers of the numbered rays onto markers for all of them but
/// fewer than a bar's worth (three): then the twin numbering fits the frame as well as this one.
bool hasEquallyGoodTwin(const LayoutSymmetries& layout, const std::vector<MarkerIndex>& numbers);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
