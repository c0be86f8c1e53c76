#pragma once
// What many matched frames came to: how many were right, wrong, off or unmatched, and the spread of
// the errors and of the time per frame.

#include <cstddef>
#include <vector>

#include "tools/horizontal-grid/DescriptionJson.h"
#include "tools/horizontal-grid/LibraryMatcher.h"

namespace Lumetra::Tools {

struct SimulationTally {
    std::size_t frames = 0;
    std::size_t correct = 0;
    std::size_t wrong = 0;       ///< matched with a ray numbered wrongly
    std::size_t inaccurate = 0;  ///< matched, numbered rightly, but the position beyond the tolerance
    std::size_t failed = 0;
    std::size_t failedWithoutBar = 0;  ///< of the failed: frames without one complete bar
    std::size_t fellBack = 0;  ///< tracked frames identified afresh
    std::size_t wrongRays = 0;
    std::size_t numberedRays = 0;
    std::vector<double> positionErrors;  ///< of matched frames
    std::vector<double> rotationErrorsDegrees;
    std::vector<double> microseconds;

    void add(const FrameOutcome& outcome, double tolerance);
    double successRate() const;
};

/// The tally as text on standard output.
void printTally(const SimulationTally& tally, double tolerance);
Json tallyJson(const SimulationTally& tally);

}  // namespace Lumetra::Tools
