#include "tools/horizontal-grid/Statistics.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace Lumetra::Tools {

double percentile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    const double position = std::clamp(q, 0.0, 1.0) * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(position));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double fraction = position - static_cast<double>(below);
    return sorted[below] + (sorted[above] - sorted[below]) * fraction;
}

Summary summarize(std::vector<double> values) {
    Summary summary;
    summary.count = values.size();
    if (values.empty()) return summary;
    std::sort(values.begin(), values.end());
    summary.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    summary.p50 = percentile(values, 0.5);
    summary.p90 = percentile(values, 0.9);
    summary.p99 = percentile(values, 0.99);
    summary.max = values.back();
    return summary;
}

}  // namespace Lumetra::Tools
