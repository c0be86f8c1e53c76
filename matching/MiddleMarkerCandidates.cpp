#include "matching/MiddleMarkerCandidates.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The middle marker test's 0.05 along and 0.01 across, widened past every rounding of f and g.
// Those roundings are relative to the coordinates (the float midpoint and offsets), and stay
// below 1e-4 while a pair spans at least `smallestSpan` times the largest coordinate.
constexpr double alongTolerance = 0.0516;
constexpr double acrossTolerance = 0.0105;
constexpr double smallestSpan = 5e-3;
// Coordinates of moderate size, and spans not too small, keep |d|² a normal float.
constexpr double largestCoordinate = 0x1p40, smallestDistance = 0x1p-60;

struct Site {
    double x, y;
    unsigned long index;
};

double squaredDistance(const Site& s, double x, double y) {
    const double dx = s.x - x, dy = s.y - y;
    return dx * dx + dy * dy;
}

/// The finite points sorted by x, and the largest magnitude of their coordinates.
std::vector<Site> sortedSites(const std::vector<LumetraMath::vector<float, 2>>& points, double& largest) {
    std::vector<Site> sites;
    sites.reserve(points.size());
    largest = 0.0;
    for (unsigned long k = 0; k < points.size(); ++k) {
        const auto& p = points[k];
        if (!(std::isfinite(p.x) && std::isfinite(p.y))) continue;
        sites.push_back({p.x, p.y, k});
        largest = std::max({largest, std::fabs(double{p.x}), std::fabs(double{p.y})});
    }
    std::sort(sites.begin(), sites.end(), [](const Site& a, const Site& b) { return a.x < b.x; });
    return sites;
}

/// Calls visit(site) for the sites within sqrt(limit) of (x, y) in x, scanning outwards from
/// position `from` of the sorted list.
template <class Visit>
void forSitesNearInX(const std::vector<Site>& sites, std::size_t from, double x, double limit, Visit visit) {
    for (std::size_t k = from; k < sites.size() && (sites[k].x - x) * (sites[k].x - x) <= limit; ++k) visit(sites[k]);
    for (std::size_t k = from; k-- > 0 && (sites[k].x - x) * (sites[k].x - x) <= limit;) visit(sites[k]);
}

}  // namespace

std::optional<std::vector<MiddleMarkerCandidate>> findMiddleMarkerCandidates(
    const std::vector<LumetraMath::vector<float, 2>>& points, float barProportion, double clearance) {
    const double p = barProportion;
    if (!(p >= 0.1 && p <= 0.5) || !(clearance > 0.0)) return std::nullopt;
    const double nearEndReach = (p + alongTolerance) / std::min(p - alongTolerance, clearance) * 1.001;
    const double farEndSpread = std::hypot(alongTolerance, acrossTolerance) / (p * (p - alongTolerance)) * 1.01;

    double largest = 0.0;
    const std::vector<Site> sites = sortedSites(points, largest);
    if (!(largest <= largestCoordinate)) return std::nullopt;
    // A middle marker's pairs span at least its nearest neighbour's distance / (p + 0.0516): with
    // every nearest neighbour this far, every span that matters is long enough.
    const double closest = std::max(smallestDistance, smallestSpan * largest * (p + alongTolerance));
    const auto squaredOffsetX = [&](std::size_t k, double x) { return (sites[k].x - x) * (sites[k].x - x); };

    std::vector<MiddleMarkerCandidate> candidates;
    for (std::size_t t = 0; t < sites.size(); ++t) {
        const Site& middle = sites[t];
        // Squared distance to the nearest other site; a twin (distance 0) rules t out.
        double nearest = std::numeric_limits<double>::infinity();
        bool twin = false;
        const auto closer = [&](const Site& s) {
            if (s.index == middle.index) return;
            const double squared = squaredDistance(s, middle.x, middle.y);
            twin = twin || squared == 0.0;
            if (squared > 0.0) nearest = std::min(nearest, squared);
        };
        for (std::size_t k = t + 1; k < sites.size() && squaredOffsetX(k, middle.x) < nearest; ++k) closer(sites[k]);
        for (std::size_t k = t; k-- > 0 && squaredOffsetX(k, middle.x) < nearest;) closer(sites[k]);
        if (nearest < closest * closest) return std::nullopt;
        if (twin || nearest == std::numeric_limits<double>::infinity()) continue;

        const double nearEndLimit = nearest * nearEndReach * nearEndReach;
        forSitesNearInX(sites, t, middle.x, nearEndLimit, [&](const Site& nearEnd) {
            const double nearEndSquared = squaredDistance(nearEnd, middle.x, middle.y);
            if (nearEnd.index == middle.index || nearEndSquared > nearEndLimit) return;
            // The far end, around a + (t - a)/p.
            const double x = nearEnd.x + (middle.x - nearEnd.x) / p, y = nearEnd.y + (middle.y - nearEnd.y) / p;
            const double limit = nearEndSquared * farEndSpread * farEndSpread;
            const auto from = std::lower_bound(sites.begin(), sites.end(), x,
                                               [](const Site& s, double value) { return s.x < value; });
            forSitesNearInX(sites, static_cast<std::size_t>(from - sites.begin()), x, limit, [&](const Site& farEnd) {
                if (farEnd.index != nearEnd.index && farEnd.index != middle.index &&
                    squaredDistance(farEnd, x, y) <= limit)
                    candidates.push_back({nearEnd.index, farEnd.index, middle.index});
            });
        });
    }
    return candidates;
}
