#pragma once
// evaluate --tracker: the inertial tracker's table over the bar geometries and its scenarios.

#include <cstdint>

namespace Lumetra::Tools {

struct TrackerEvaluationOptions {
    double seconds = 20;     ///< per scenario run
    int seeds = 2;           ///< runs per geometry and scenario
    std::uint64_t seed = 1;
    bool json = false;
};

int runTrackerEvaluation(const TrackerEvaluationOptions& options);

}  // namespace Lumetra::Tools
