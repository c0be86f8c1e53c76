#include "matching/ResolvableRays.h"

#include <algorithm>
#include <cmath>

#include "environment/Environment.h"
#include "matching/PoseSettling.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

/// The hit may move by this share of the smallest marker spacing.
constexpr double resolvableShare = 0.4;
/// Multiple of the fit's rms angle that the hit must stay within.
constexpr double spreadMultiple = 3.0;

}  // namespace

ResolvableRays::ResolvableRays(const Environment& environment, const LumetraMath::poseP3Q<float>& pose,
                               double rmsAngle)
    : toWorld_(LumetraMath::toRotationMatrix(pose.rotation)),
      height_(static_cast<double>(environment.getMarkersHeight()) - pose.position.y),
      allowedShift_(resolvableShare * environment.getMinMarkerDistance()),
      angle_(spreadMultiple * rmsAngle) {}

ResolvableRays ResolvableRays::numberable(const Environment& environment, const LumetraMath::poseP3Q<float>& pose,
                                          double residualVariance) {
    constexpr double boundSigmas = 4.0;
    return {environment, pose, boundSigmas / spreadMultiple * std::sqrt(residualVariance)};
}

bool ResolvableRays::operator()(const LumetraMath::vector<float, 3>& ray) const {
    if (!isUsableRay(ray)) return false;
    const double up = (toWorld_ * ray).y;
    // A hit at angle θ from the plane's normal moves by |height| / cos²θ per radian, at most.
    return height_ * up > 0.0 && angle_ * std::fabs(height_) <= allowedShift_ * up * up;
}

std::size_t ResolvableRays::count(const std::vector<LumetraMath::vector<float, 3>>& rays) const {
    return static_cast<std::size_t>(std::count_if(rays.begin(), rays.end(), *this));
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
