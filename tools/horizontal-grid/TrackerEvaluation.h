#pragma once
// evaluate --tracker: the inertial tracker's table over the bar geometries and its scenarios.

#include <cstdint>
#include <string>
#include <vector>

namespace Lumetra::Tools {

struct TrackerEvaluationOptions {
    double seconds = 20;     ///< per scenario run
    int seeds = 2;           ///< runs per geometry and scenario
    std::uint64_t seed = 1;
    bool json = false;
    std::vector<std::string> only;        ///< scenario names to run; empty: all
    std::vector<std::string> geometries;  ///< geometry names to run; empty: all
};

int runTrackerEvaluation(const TrackerEvaluationOptions& options);

}  // namespace Lumetra::Tools
