#pragma once
// Summaries of measured values: mean and percentiles.

#include <cstddef>
#include <vector>

namespace Lumetra::Tools {

struct Summary {
    std::size_t count = 0;
    double mean = 0;
    double p50 = 0;
    double p90 = 0;
    double p99 = 0;
    double max = 0;
};

/// The q-quantile (0 ≤ q ≤ 1) of ascending `sorted` values by linear interpolation; 0 when empty.
double percentile(const std::vector<double>& sorted, double q);

Summary summarize(std::vector<double> values);

}  // namespace Lumetra::Tools
