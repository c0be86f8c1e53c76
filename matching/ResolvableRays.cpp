#include "matching/ResolvableRays.h"

#include <algorithm>
#include <cmath>

#include "environment/Environment.h"
#include "matching/PoseSettling.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

/// The hit may move by this share of the smallest marker spacing.
constexpr double resolvableShare = 0.4;
/// Standard deviations of the fit's residual variance that the hit must stay within: the bound by
/// which settlePose numbers a ray.
constexpr double residualSigmas = 4.0;

}  // namespace

ResolvableRays::ResolvableRays(const Environment& environment, const RefinedPose& fit)
    : toWorld_(LumetraMath::toRotationMatrix(fit.pose.rotation)),
      height_(static_cast<double>(environment.getMarkersHeight()) - fit.pose.position.y),
      allowedShift_(resolvableShare * environment.getMinMarkerDistance()),
      angle_(residualSigmas * std::sqrt(fit.residualVariance)) {}

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
