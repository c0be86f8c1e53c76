#pragma once
// Which rays of a frame a pose could number at all. A wide camera sees markers far out on the
// plane, where a small angular error moves a ray's hit farther than markers lie apart: no fit can
// number such rays, so a hypothesis's support is measured against the rays it could resolve.

#include <cstddef>
#include <vector>

#include "math/Matrix.h"
#include "math/Pose.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

class ResolvableRays {
public:
    /// For a pose fitted with an rms angular residual of `rmsAngle`.
    ResolvableRays(const Environment& environment, const LumetraMath::poseP3Q<float>& pose, double rmsAngle);

    /// The rays a settled fit could have numbered: those where its residual bound (four standard
    /// deviations of the noise model, `residualVariance` per component) moves the hit by less than
    /// two fifths of the smallest marker spacing, the rule by which settling numbers rays.
    static ResolvableRays numberable(const Environment& environment, const LumetraMath::poseP3Q<float>& pose,
                                     double residualVariance);

    /// Whether the usable unit ray travels from the pose towards the marker plane and hits it where
    /// an error of three times the rms angle moves the hit by less than two fifths of the smallest
    /// marker spacing: twice the gate within which a numbered ray must pass its marker.
    bool operator()(const LumetraMath::vector<float, 3>& ray) const;

    std::size_t count(const std::vector<LumetraMath::vector<float, 3>>& rays) const;

private:
    LumetraMath::matrix<float, 3, 3> toWorld_;
    double height_;        ///< of the marker plane above the tracker
    double allowedShift_;  ///< on the plane
    double angle_;         ///< the error allowed for
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
