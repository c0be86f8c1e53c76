#pragma once
// Where a bar pattern can be among plane points, found from its middle marker instead of by
// trying every pair of points as the bar's ends.

#include <optional>
#include <vector>

#include "math/Vector.h"

/// A possible bar: the end nearer the middle marker, the far end and the middle marker.
struct MiddleMarkerCandidate {
    unsigned long nearEnd, farEnd, middle;
};

/// Every (a, b, t) such that t may be the middle marker of a pattern with ends a (nearer) and b,
/// from how a pattern's middle marker sits (d = b - a, p = barProportion): (p ± 0.0516)·|d| from
/// a, and with no point but a and b within clearance·|d| of it (those would be inside the
/// ellipse too). So t's nearest neighbour lies at least m·|d| away, m = min(p - 0.0516,
/// clearance), a within (p + 0.0516)/m times that distance of t, and b near a + (t - a)/p.
/// Candidates come unordered and may repeat; every pattern's (a, b, t) is among them.
/// Nothing when the reasoning cannot vouch for the frame: a proportion outside [0.1, 0.5], no
/// clearance, a coordinate beyond 2^40, or two points not equal yet so close that the float
/// rounding of f and g (relative to the coordinates) is no longer negligible against their span.
/// Points with a non-finite coordinate take no part: they are never inside an ellipse, and a
/// pair with one has no point inside.
std::optional<std::vector<MiddleMarkerCandidate>> findMiddleMarkerCandidates(
    const std::vector<LumetraMath::vector<float, 2>>& points, float barProportion, double clearance);
