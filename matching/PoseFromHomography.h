#pragma once
// Levelling of the tracker from one group of observed bars: the rotation that makes the bars'
// markers coplanar and horizontal and the bars axis-parallel, and the tracker's offset from them.

#include <vector>

#include "math/Quaternion.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

struct HomographyResult {
    /// Turns tracker-frame vectors into the levelled frame: y along the marker plane's normal,
    /// x and z along the bars.
    LumetraMath::quaternion<float> rotation;
    /// Tracker position relative to the weighted centroid of the group's markers, in the levelled
    /// frame; y is the height above the marker plane (negative below a ceiling).
    LumetraMath::vector<float, 3> offset;
};

/// Three Gauss-Newton steps from the yaw guess `yaw` (radians about the vertical axis).
/// `rays` are unit directions in the tracker frame; patterns[i] holds the ray indices of the
/// markers 0, 1, 2 of pattern i and rayLengths[i] the distances to them; `group` lists the
/// patterns to use. Degenerate input yields non-finite values rather than an error; indices out
/// of range throw std::out_of_range.
HomographyResult findHomography(const std::vector<LumetraMath::vector<float, 3>>& rays,
                                const std::vector<LumetraMath::vector<float, 3>>& rayLengths,
                                const std::vector<LumetraMath::vector<unsigned long, 3>>& patterns,
                                const std::vector<unsigned long>& group, float yaw);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
