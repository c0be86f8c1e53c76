#include "environment/MarkerSpacing.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <set>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

using Point = LumetraMath::vector<float, 2>;

float squaredDistance(const Point& a, const Point& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

}  // namespace

// Sweep from left to right keeping the points whose x distance may still beat the best pair, ordered
// by y. Every pruning test compares one squared coordinate difference with the best value so far:
// the rounded difference grows monotonically with the true one and the rounded sum of two
// non-negative squares is never below either square, so no pair that could lower the exhaustive
// minimum is skipped, and equal pairs give equal float values in either order.
float smallestMarkerDistance(const std::vector<Point>& points) {
    if (points.size() < 2) return 0.5f;

    // A pair with a non-finite coordinate has an infinite or not-a-number squared distance,
    // which never lowers the minimum; leaving such points out keeps the sort well defined.
    std::vector<Point> sorted;
    sorted.reserve(points.size());
    std::copy_if(points.begin(), points.end(), std::back_inserter(sorted),
                 [](const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
    std::sort(sorted.begin(), sorted.end(),
              [](const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });

    float best = std::numeric_limits<float>::infinity();
    std::set<std::pair<float, std::size_t>> activeByY;
    std::size_t oldest = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const Point& p = sorted[i];
        for (; oldest < i; ++oldest) {
            const float dx = p.x - sorted[oldest].x;
            if (dx * dx < best) break;
            activeByY.erase({sorted[oldest].y, oldest});
        }
        const auto start = activeByY.lower_bound({p.y, 0});
        for (auto it = start; it != activeByY.end(); ++it) {
            const float dy = it->first - p.y;
            if (dy * dy >= best) break;
            best = std::min(best, squaredDistance(p, sorted[it->second]));
        }
        for (auto it = start; it != activeByY.begin();) {
            --it;
            const float dy = p.y - it->first;
            if (dy * dy >= best) break;
            best = std::min(best, squaredDistance(p, sorted[it->second]));
        }
        activeByY.insert({p.y, i});
    }
    return std::sqrt(best);
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
