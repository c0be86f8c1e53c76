#include "math/Grid2DSearch.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace LumetraMath {

namespace {

/// Extents up to this along both axes count as a single spot: one bucket.
constexpr float degenerateExtent = 0x1.a36e2ep-14f;  // 0.0001
static_assert(std::bit_cast<std::uint32_t>(degenerateExtent) == 0x38D1B717u);

/// Upper bound on the bucket count. Far more buckets than points cannot speed up a query, and the
/// bound keeps pathological inputs (infinite extents, tiny averagePointsPerCell) from allocating
/// huge tables. It stays at or below 2^24 so that every count is exact in single precision.
int maximumBucketCount(std::size_t pointCount) {
    constexpr std::int64_t lower = 4096;
    constexpr std::int64_t upper = std::int64_t{1} << 24;
    return static_cast<int>(std::clamp(static_cast<std::int64_t>(pointCount) * 64, lower, upper));
}

/// A bucket count computed in floating point, as an int in [1, limit]. The comparisons happen in
/// floating point so that not-a-number and huge values convert without overflow.
template <typename T>
int clampedCount(T count, int limit) {
    if (!(count >= T(1))) return 1;
    if (count >= static_cast<T>(limit)) return limit;
    return static_cast<int>(count);
}

}  // namespace

template <typename T>
Grid2DSearch<T>::Grid2DSearch(const std::vector<vector<T, 2>>& indexedPoints, const T& averagePointsPerCell) {
    if (averagePointsPerCell <= T(0)) throw std::invalid_argument("Invalid argument: averagePointsPerCell");
    if (indexedPoints.size() > static_cast<std::size_t>(INT_MAX))
        throw std::length_error("Too many points for Grid2DSearch");

    points = indexedPoints;
    chooseShape(static_cast<T>(points.size()) / averagePointsPerCell);

    next.assign(points.size(), -1);
    first.assign(static_cast<std::size_t>(cellsX) * static_cast<std::size_t>(cellsY), -1);
    std::vector<int> last(first.size(), -1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const int bx = bucketCoordinate(points[i].x, origin.x, bucketSize.x, cellsX);
        const int by = bucketCoordinate(points[i].y, origin.y, bucketSize.y, cellsY);
        const std::size_t bucket = static_cast<std::size_t>(bx * cellsY + by);
        const int index = static_cast<int>(i);
        if (last[bucket] < 0)
            first[bucket] = index;
        else
            next[static_cast<std::size_t>(last[bucket])] = index;
        last[bucket] = index;
    }
}

template <typename T>
void Grid2DSearch<T>::chooseShape(T desiredBuckets) {
    cellsX = cellsY = 1;
    origin = {T(0), T(0)};
    bucketSize = {T(0), T(0)};
    if (points.empty()) return;

    // Not-a-number coordinates take no part in the bounding box.
    vector<T, 2> lower{std::numeric_limits<T>::infinity(), std::numeric_limits<T>::infinity()};
    vector<T, 2> upper = -lower;
    for (const auto& p : points)
        for (std::size_t axis = 0; axis < 2; ++axis) {
            if (p[axis] < lower[axis]) lower[axis] = p[axis];
            if (p[axis] > upper[axis]) upper[axis] = p[axis];
        }
    for (std::size_t axis = 0; axis < 2; ++axis)
        if (!(lower[axis] <= upper[axis])) lower[axis] = upper[axis] = T(0);

    origin = lower;
    const T w = upper.x - lower.x;
    const T h = upper.y - lower.y;
    const T b = desiredBuckets;
    if (std::abs(w) <= T(degenerateExtent) && std::abs(h) <= T(degenerateExtent)) {
        bucketSize = {w, h};
        return;
    }

    T countX, countY;
    if (w < h / b) {
        countX = T(1);
        countY = std::round(b);
    } else if (h < w / b) {
        countX = std::round(b);
        countY = T(1);
    } else {
        countX = std::round(std::sqrt(w * b / h));
        countY = std::round(std::sqrt(b * h / w));
    }

    // At least one bucket per axis, and no more in total than the limit.
    const int limit = maximumBucketCount(points.size());
    cellsX = clampedCount(countX, limit);
    cellsY = clampedCount(countY, limit);
    const double product = static_cast<double>(cellsX) * static_cast<double>(cellsY);
    if (product > limit) {
        // Shrink both axes alike, keeping the buckets' proportions.
        const double shrink = std::sqrt(limit / product);
        cellsX = std::max(1, static_cast<int>(cellsX * shrink));
        cellsY = std::max(1, static_cast<int>(cellsY * shrink));
    }
    bucketSize = {w / static_cast<T>(cellsX), h / static_cast<T>(cellsY)};
}

template <typename T>
std::vector<int> Grid2DSearch<T>::getPointsInCircle(const vector<T, 2>& center, T radius) const {
    std::vector<int> found;
    forEachPointInCircle(center, radius, [&](int i) { found.push_back(i); });
    return found;
}

template class Grid2DSearch<float>;

}  // namespace LumetraMath
