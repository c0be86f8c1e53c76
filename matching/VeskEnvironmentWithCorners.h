#pragma once
// Bar-level queries over a list of 2D bar poses, and the corner test that labels observed bars
// by the corners that pairs of roughly perpendicular bars form.

#include <array>
#include <vector>

#include "math/Vector.h"

class VeskEnvironmentWithCorners {
public:
    struct BarPose {
        LumetraMath::vector<float, 2> position;   ///< reference point in the environment plane
        LumetraMath::vector<float, 2> direction;
    };

    /// `barMarkerOffsets[k]`: the multiple of a bar's direction leading from its reference point
    /// to marker k.
    VeskEnvironmentWithCorners(std::vector<BarPose> barPoses, std::array<float, 3> barMarkerOffsets);

    /// Both throw std::out_of_range for a bar index not below the number of bar poses.
    LumetraMath::vector<float, 2> getBarDirection(unsigned long bar) const;
    LumetraMath::vector<float, 2> getBarPosition(unsigned long bar) const;
    /// NaNs for a marker above 2 (whatever the bar); otherwise throws like getBarPosition.
    LumetraMath::vector<float, 2> getBarMarker(unsigned long bar, unsigned long marker) const;

    /// Gives every observed bar (indices of its first, middle and last marker in `points`) the
    /// code of the corner it forms with the others: bit 0 whether the other bar turns off to the
    /// left of it about `axis`, bit 1 on which side of the crossing the other bar lies; -1 for
    /// none. False when a bar would get two different codes (at once, keeping the codes stored so
    /// far) or when some bar forms no corner. Throws std::out_of_range for a bad point index.
    static bool findCorners(const std::vector<LumetraMath::vector<int, 3>>& bars,
                            const std::vector<LumetraMath::vector<float, 3>>& points,
                            const LumetraMath::vector<float, 3>& axis, std::vector<int>& corners);

private:
    std::vector<BarPose> barPoses;
    std::array<float, 3> barMarkerOffsets;
};
