#pragma once
// Pictures of a replay: the timeline (position error and each frame's outcome over time) and one
// frame seen from above (its rays cast from the pose onto the marker plane, each numbered ray
// joined to its marker, wrong numbers and rays left without a number marked).

#include <cstddef>
#include <string>

#include "tools/horizontal-grid/Replay.h"

namespace Lumetra::Tools {

/// How a frame came out: the colours of both pictures.
enum class FrameOutcomeKind { right, wrong, afresh, lost };
FrameOutcomeKind outcomeOf(const ReplayedFrame& frame);

std::string timelineSvg(const Replay& replay, const std::string& title);
/// Frame `index` (throws std::out_of_range beyond the last).
std::string frameSvg(const Replay& replay, std::size_t index, const std::string& title);

}  // namespace Lumetra::Tools
