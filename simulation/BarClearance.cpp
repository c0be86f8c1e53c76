#include "simulation/BarClearance.h"

#include <algorithm>
#include <limits>

namespace Lumetra::Testing {
namespace {

/// Twice the signed area of the triangle pqr: positive when r lies to the left of pq.
double side(const Point2& p, const Point2& q, const Point2& r) {
    return (static_cast<double>(q.x) - p.x) * (static_cast<double>(r.y) - p.y) -
           (static_cast<double>(q.y) - p.y) * (static_cast<double>(r.x) - p.x);
}

/// Whether r, known to lie on the line pq, lies within the segment pq.
bool withinSegment(const Point2& p, const Point2& q, const Point2& r) {
    return std::min(p.x, q.x) <= r.x && r.x <= std::max(p.x, q.x) && std::min(p.y, q.y) <= r.y &&
           r.y <= std::max(p.y, q.y);
}

}  // namespace

bool segmentsMeet(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
    const double d1 = side(c, d, a), d2 = side(c, d, b), d3 = side(a, b, c), d4 = side(a, b, d);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
    return (d1 == 0 && withinSegment(c, d, a)) || (d2 == 0 && withinSegment(c, d, b)) ||
           (d3 == 0 && withinSegment(a, b, c)) || (d4 == 0 && withinSegment(a, b, d));
}

double smallestSpacing(const std::vector<Point2>& markers) {
    double smallest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < markers.size(); ++i)
        for (std::size_t j = i + 1; j < markers.size(); ++j)
            smallest = std::min(smallest, static_cast<double>(LumetraMath::length(markers[i] - markers[j])));
    return smallest;
}

bool barsKeepClear(const std::vector<Point2>& a, const std::vector<Point2>& b, double clearance) {
    for (const Point2& marker : a)
        for (const Point2& other : b)
            if (LumetraMath::length(marker - other) < clearance) return false;
    return !segmentsMeet(a[0], a[2], b[0], b[2]);
}

}  // namespace Lumetra::Testing
