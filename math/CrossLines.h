#pragma once
// Closest point of one 3D line to another.

#include <cmath>

#include "math/Vector.h"

namespace LumetraMath {

/// The point of the line through a1 and a2 that is nearest to the line through b1 and b2: where
/// line A pierces the plane holding line B and the common perpendicular. The plane is built in
/// float; the final step runs in double. Parallel lines give NaN components.
inline vector<double, 3> crossLines(const vector<float, 3>& a1, const vector<float, 3>& a2,
                                    const vector<float, 3>& b1, const vector<float, 3>& b2) {
    const vector<float, 3> dA = a2 - a1;
    const vector<float, 3> dB = b2 - b1;
    const vector<float, 3> normal = cross(dB, cross(dA, dB));
    const vector<float, 3> w = normal / std::sqrt(dot(normal, normal));
    const float s = dot(a1 - b1, w);
    const float c = dot(w, dA);
    vector<double, 3> point;
    for (std::size_t i = 0; i < 3; ++i)
        point[i] = static_cast<double>(a1[i]) - static_cast<double>(dA[i]) * static_cast<double>(s) /
                                                    static_cast<double>(c);
    return point;
}

}  // namespace LumetraMath
