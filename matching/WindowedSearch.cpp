#include "matching/WindowedSearch.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "matching/PoseSettling.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid::WindowedSearch {
namespace {

constexpr float patternEllipseScale = 0.75f;
constexpr float fullTurn = 6.2831853f;

/// Rays that can show a marker: usable, on the markers' side, with a finite point.
Window candidates(const std::vector<Vector3>& rays, const std::vector<Vector2>& points, bool markersBelow) {
    Window found;
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (isUsableRay(rays[i]) && (markersBelow ? rays[i].y < 0.0f : rays[i].y > 0.0f) &&
            std::isfinite(points[i].x) && std::isfinite(points[i].y))
            found.push_back(i);
    return found;
}

float squaredDistance(const Vector2& a, const Vector2& b) {
    const Vector2 d = a - b;
    return d.x * d.x + d.y * d.y;
}

/// The `windowRays` candidates nearest `centre`, in ascending ray order (the order the search of a
/// whole frame sees them in).
Window nearest(Window rays, const std::vector<Vector2>& points, const Vector2& centre) {
    if (rays.size() > windowRays) {
        const auto closer = [&](std::size_t a, std::size_t b) {
            return squaredDistance(points[a], centre) < squaredDistance(points[b], centre);
        };
        std::nth_element(rays.begin(), rays.begin() + windowRays, rays.end(), closer);
        rays.resize(windowRays);
    }
    std::sort(rays.begin(), rays.end());
    return rays;
}

}  // namespace

Window centralWindow(const std::vector<Vector3>& rays, const std::vector<Vector2>& points, bool markersBelow) {
    if (rays.size() <= windowRays) {
        Window all(rays.size());
        std::iota(all.begin(), all.end(), std::size_t{0});
        return all;
    }
    return nearest(candidates(rays, points, markersBelow), points, {0.0f, 0.0f});
}

std::vector<Window> surroundingWindowsOf(const std::vector<Vector3>& rays, const std::vector<Vector2>& points,
                                         bool markersBelow) {
    if (rays.size() <= windowRays) return {};
    const Window all = candidates(rays, points, markersBelow);
    if (all.size() <= windowRays) return {};
    float radius = 0.0f;
    for (const std::size_t i : nearest(all, points, {0.0f, 0.0f}))
        radius = std::max(radius, std::sqrt(squaredDistance(points[i], {0.0f, 0.0f})));

    std::vector<Window> windows;
    for (std::size_t k = 0; k < surroundingWindows; ++k) {
        const float angle = fullTurn * static_cast<float>(k) / static_cast<float>(surroundingWindows);
        windows.push_back(nearest(all, points, {radius * std::cos(angle), radius * std::sin(angle)}));
    }
    return windows;
}

std::vector<VeskEnvironment::Pattern> windowPatterns(const std::vector<Vector2>& points, const Window& window,
                                                     float barProportion, const Vector3& markerEllipse,
                                                     bool toleratingStrays) {
    std::vector<Vector2> windowPoints;
    windowPoints.reserve(window.size());
    for (const std::size_t i : window) windowPoints.push_back(points[i]);
    constexpr auto rayNoise = static_cast<float>(rayNoisePrior);
    std::vector<VeskEnvironment::Pattern> patterns =
        toleratingStrays ? VeskEnvironment::findPatternsToleratingStrays(windowPoints, barProportion, markerEllipse,
                                                                         patternEllipseScale, rayNoise)
                         : VeskEnvironment::findAllPossiblePatterns(windowPoints, barProportion, markerEllipse,
                                                                    patternEllipseScale);
    for (VeskEnvironment::Pattern& pattern : patterns)
        for (std::size_t k = 0; k < 3; ++k) pattern[k] = window[pattern[k]];
    return patterns;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid::WindowedSearch
