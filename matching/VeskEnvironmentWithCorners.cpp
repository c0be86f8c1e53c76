#include "matching/VeskEnvironmentWithCorners.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "math/CrossLines.h"

using LumetraMath::vector;

VeskEnvironmentWithCorners::VeskEnvironmentWithCorners(std::vector<BarPose> poses,
                                                       std::array<float, 3> markerOffsets)
    : barPoses(std::move(poses)), barMarkerOffsets(markerOffsets) {}

vector<float, 2> VeskEnvironmentWithCorners::getBarDirection(unsigned long bar) const {
    return barPoses.at(bar).direction;
}

vector<float, 2> VeskEnvironmentWithCorners::getBarPosition(unsigned long bar) const {
    return barPoses.at(bar).position;
}

vector<float, 2> VeskEnvironmentWithCorners::getBarMarker(unsigned long bar, unsigned long marker) const {
    if (marker > 2) {
        const float quietNaN = std::bit_cast<float>(std::uint32_t{0x7FC00000});
        return {quietNaN, quietNaN};
    }
    return getBarPosition(bar) + getBarDirection(bar) * barMarkerOffsets[marker];
}

namespace {

struct ObservedBar {
    vector<float, 3> first, last;
    vector<float, 3> direction, centre;
};

const vector<float, 3>& pointAt(const std::vector<vector<float, 3>>& points, int index) {
    if (index < 0 || static_cast<unsigned long>(index) >= points.size())
        throw std::out_of_range("findCorners: point index " + std::to_string(index) + " out of range");
    return points[static_cast<unsigned long>(index)];
}

}  // namespace

bool VeskEnvironmentWithCorners::findCorners(const std::vector<vector<int, 3>>& bars,
                                             const std::vector<vector<float, 3>>& points,
                                             const vector<float, 3>& axis, std::vector<int>& corners) {
    // Bars must differ in direction by more than 45 degrees to form a corner.
    constexpr double maxAbsCosine = 0.7071067811865476;

    std::vector<ObservedBar> observed;
    observed.reserve(bars.size());
    for (const vector<int, 3>& bar : bars) {
        const vector<float, 3>& p = pointAt(points, bar[0]);
        const vector<float, 3>& q = pointAt(points, bar[2]);
        const vector<float, 3> span = q - p;
        observed.push_back({p, q, span / LumetraMath::length(span), (p + q) * 0.5f});
    }
    corners.assign(bars.size(), -1);
    if (bars.empty()) return true;

    for (std::size_t i = 0; i < observed.size(); ++i) {
        const ObservedBar& a = observed[i];
        for (std::size_t j = i + 1; j < observed.size(); ++j) {
            const ObservedBar& b = observed[j];
            // Written as "not below" so that a bar without direction (NaN) forms no corner.
            if (!(std::fabs(static_cast<double>(dot(a.direction, b.direction))) < maxAbsCosine)) continue;

            const vector<double, 3> crossing = LumetraMath::crossLines(a.first, a.last, b.first, b.last);
            const float turn = dot(cross(a.direction, b.direction), axis);
            const int aBehind = dot(LumetraMath::vectorCast<double>(a.centre) - crossing,
                                    LumetraMath::vectorCast<double>(a.direction)) < 0.0;
            const int bBehind = dot(LumetraMath::vectorCast<double>(b.centre) - crossing,
                                    LumetraMath::vectorCast<double>(b.direction)) < 0.0;
            const int codeA = 2 * bBehind + (turn >= 0.0f ? 1 : 0);
            const int codeB = 2 * aBehind + (turn < 0.0f ? 1 : 0);

            if ((corners[i] != -1 && corners[i] != codeA) || (corners[j] != -1 && corners[j] != codeB))
                return false;
            corners[i] = codeA;
            corners[j] = codeB;
        }
    }
    return std::find(corners.begin(), corners.end(), -1) == corners.end();
}
