#pragma once
// Static index of 2D points in a uniform grid of buckets, for "which points lie within r of c".

#include <cmath>
#include <vector>

#include "math/Vector.h"

namespace LumetraMath {

/// The buckets cover the points' bounding box and are sized so that each holds about
/// averagePointsPerCell points. Each bucket keeps its points as a chain of ascending indices.
/// Points with non-finite coordinates are accepted: they land in border buckets and are never
/// within a finite radius.
template <typename T>
class Grid2DSearch {
public:
    /// Throws std::invalid_argument when averagePointsPerCell <= 0 and std::length_error when
    /// there are more points than an int can index.
    Grid2DSearch(const std::vector<vector<T, 2>>& points, const T& averagePointsPerCell);

    /// Indices of the points within `radius` of `center` (boundary included), ordered by bucket
    /// (x ascending, then y ascending) and by index within a bucket. A negative or not-a-number
    /// radius, or a not-a-number centre, finds nothing.
    std::vector<int> getPointsInCircle(const vector<T, 2>& center, T radius) const;

    /// Calls visit(index) for each of those points, in the same order, without allocating.
    template <class Visit>
    void forEachPointInCircle(const vector<T, 2>& center, T radius, Visit&& visit) const {
        if (!(radius >= T(0))) return;
        const int lowX = bucketCoordinate(center.x - radius, origin.x, bucketSize.x, cellsX);
        const int highX = bucketCoordinate(center.x + radius, origin.x, bucketSize.x, cellsX);
        const int lowY = bucketCoordinate(center.y - radius, origin.y, bucketSize.y, cellsY);
        const int highY = bucketCoordinate(center.y + radius, origin.y, bucketSize.y, cellsY);
        const T squaredRadius = radius * radius;
        for (int bx = lowX; bx <= highX; ++bx)
            for (int by = lowY; by <= highY; ++by)
                for (int i = first[static_cast<std::size_t>(bx * cellsY + by)]; i >= 0;
                     i = next[static_cast<std::size_t>(i)]) {
                    const vector<T, 2>& p = points[static_cast<std::size_t>(i)];
                    const T dx = p.x - center.x;
                    const T dy = p.y - center.y;
                    if (squaredRadius >= dx * dx + dy * dy) visit(i);
                }
    }

    int getCellsX() const { return cellsX; }
    int getCellsY() const { return cellsY; }
    const vector<T, 2>& getOrigin() const { return origin; }
    const vector<T, 2>& getBucketSize() const { return bucketSize; }
    const std::vector<vector<T, 2>>& getPoints() const { return points; }

private:
    /// Bucket coordinate of `value` along one axis, clamped to [0, cells - 1]; not-a-number
    /// counts as below the grid.
    static int bucketCoordinate(T value, T axisOrigin, T axisBucketSize, int cells) {
        const T cell = std::floor((value - axisOrigin) / axisBucketSize);
        if (!(cell >= T(0))) return 0;
        if (cell >= static_cast<T>(cells - 1)) return cells - 1;
        return static_cast<int>(cell);
    }

    void chooseShape(T desiredBuckets);

    int cellsX = 1;
    int cellsY = 1;
    vector<T, 2> origin{};
    vector<T, 2> bucketSize{};
    std::vector<vector<T, 2>> points;
    std::vector<int> next;   // next point of the same bucket, -1 at the end of a chain
    std::vector<int> first;  // first point of bucket (bx, by) at bx * cellsY + by, -1 if empty
};

extern template class Grid2DSearch<float>;

}  // namespace LumetraMath
