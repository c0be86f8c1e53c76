#include "environment/VeskEnvironment.h"

#include <cmath>

using LumetraMath::vector;

namespace {

double cosineBetween(const vector<float, 3>& a, const vector<float, 3>& b) {
    return dot(LumetraMath::vectorCast<double>(a), LumetraMath::vectorCast<double>(b));
}

/// The tracker's distances to the three markers of one bar, from the angles between the rays
/// to them: the tracker lies at height h (in bar lengths) above the bar line, over the point D
/// bar lengths from marker 0, and the cotangents of the two ray angles fix D and h.
vector<float, 3> markerDistances(const vector<float, 3>& r0, const vector<float, 3>& r1,
                                 const vector<float, 3>& r2, float barLength, float barProportion) {
    const double p = barProportion;
    const double c01 = cosineBetween(r0, r1);
    const double c12 = cosineBetween(r1, r2);
    const double k01 = p * c01 * std::sqrt(1.0 / (1.0 - c01 * c01));
    const double k12 = (1.0 - p) * c12 * std::sqrt(1.0 / (1.0 - c12 * c12));
    const double v = k12 - k01;
    const double foot = (p - k01 * v) / (v * v + 1.0);
    const float e = static_cast<float>(foot - 0.5);
    const float h = static_cast<float>(v * foot + k01);

    const float across = h * barLength;
    const auto distance = [&](float markerOffset) {
        const float along = (markerOffset - e) * barLength;
        return std::sqrt(along * along + across * across);
    };
    return {distance(-0.5f), distance(barProportion - 0.5f), distance(0.5f)};
}

}  // namespace

std::vector<vector<float, 3>> VeskEnvironment::findPatternRayLengths(
    const std::vector<vector<float, 3>>& rays, const std::vector<std::vector<unsigned long>>& groups,
    const std::vector<Pattern>& patterns) const {
    std::vector<vector<float, 3>> lengths(patterns.size());
    const auto compute = [&](unsigned long index) {
        const Pattern& pattern = patterns.at(index);
        lengths[index] = markerDistances(rays.at(pattern.x), rays.at(pattern.y), rays.at(pattern.z), barLength,
                                         barProportion);
    };
    if (groups.empty()) return lengths;

    for (const unsigned long index : groups.front()) compute(index);
    if (groups.front().size() == patterns.size() || groups.size() == 1) return lengths;

    // Later groups mostly repeat patterns of the first; compute only those not yet done.
    for (auto group = groups.begin() + 1; group != groups.end(); ++group)
        for (const unsigned long index : *group)
            if (lengths.at(index).x == 0.0f) compute(index);
    return lengths;
}
