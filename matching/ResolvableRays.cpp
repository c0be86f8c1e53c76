#include "matching/ResolvableRays.h"

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

std::size_t countResolvableRays(const Environment& environment, const std::vector<LumetraMath::vector<float, 3>>& rays,
                                const LumetraMath::poseP3Q<float>& pose, double rmsAngle) {
    const LumetraMath::matrix<float, 3, 3> toWorld = LumetraMath::toRotationMatrix(pose.rotation);
    const double height = static_cast<double>(environment.getMarkersHeight()) - pose.position.y;
    const double allowed = resolvableShare * environment.getMinMarkerDistance();
    std::size_t resolvable = 0;
    for (const auto& ray : rays) {
        if (!isUsableRay(ray)) continue;
        const double up = (toWorld * ray).y;
        if (!(height * up > 0.0)) continue;
        // A hit at angle θ from the plane's normal moves by |height| / cos²θ per radian, at most.
        if (spreadMultiple * rmsAngle * std::fabs(height) <= allowed * up * up) ++resolvable;
    }
    return resolvable;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
