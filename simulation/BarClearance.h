#pragma once
// Whether two bars can both be laid: their markers keep a clearance and the bars do not cross.

#include <vector>

#include "math/Vector.h"

namespace Lumetra::Testing {

using Point2 = LumetraMath::vector<float, 2>;

/// Whether the segments ab and cd cross or touch.
bool segmentsMeet(const Point2& a, const Point2& b, const Point2& c, const Point2& d);

/// The smallest distance between two of the markers; infinity for fewer than two.
double smallestSpacing(const std::vector<Point2>& markers);

/// Whether two bars (three markers each: first end, middle, last end) keep every marker at least
/// `clearance` from the other's and do not cross.
bool barsKeepClear(const std::vector<Point2>& a, const std::vector<Point2>& b, double clearance);

}  // namespace Lumetra::Testing
