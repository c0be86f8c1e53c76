#include "matching/RayPreparation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Vector3 = LumetraMath::vector<float, 3>;

/// Unit rays closer than this (radians) are one ray given twice.
constexpr float repeatedRayAngle = 1e-6f;
/// Up to this many rays, every pair is compared rather than sorting them first.
constexpr std::size_t fewRays = 48;

inline bool isRepeat(const Vector3& a, const Vector3& b) {
    const Vector3 difference = b - a;
    return std::fabs(difference.x) <= repeatedRayAngle &&
           LumetraMath::dot(difference, difference) <= repeatedRayAngle * repeatedRayAngle;
}

Vector3 unitRay(const Vector3& ray) {
    if (!std::isfinite(ray.x) || !std::isfinite(ray.y) || !std::isfinite(ray.z)) return {0.0f, 0.0f, 0.0f};
    const float largest = std::max({std::fabs(ray.x), std::fabs(ray.y), std::fabs(ray.z)});
    if (!(largest > 0.0f)) return {0.0f, 0.0f, 0.0f};
    const Vector3 scaled{ray.x / largest, ray.y / largest, ray.z / largest};
    return scaled / LumetraMath::length(scaled);
}

}  // namespace

std::vector<Vector3> unitRays(const std::vector<Vector3>& rays) {
    std::vector<Vector3> unit;
    unit.reserve(rays.size());
    for (const Vector3& ray : rays) unit.push_back(unitRay(ray));
    return unit;
}

bool isUsableRay(const Vector3& unitRay) { return unitRay.x != 0.0f || unitRay.y != 0.0f || unitRay.z != 0.0f; }

std::vector<bool> repeatedRays(const std::vector<Vector3>& rays) {
    std::vector<bool> repeated(rays.size());
    if (rays.size() <= fewRays) {
        for (std::size_t j = 1; j < rays.size(); ++j) {
            if (!isUsableRay(rays[j])) continue;
            const float x = rays[j].x;
            for (std::size_t i = 0; i < j; ++i)
                if (std::fabs(rays[i].x - x) <= repeatedRayAngle && isUsableRay(rays[i]) && isRepeat(rays[i], rays[j])) {
                    repeated[j] = true;
                    break;
                }
        }
        return repeated;
    }
    // Sorted by x, a ray's repeats follow it within the angle; the later in ray order is marked.
    // The keys pack x's bits, turned to sort as the numbers do, above the ray's index.
    std::vector<std::uint64_t> order;
    order.reserve(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (isUsableRay(rays[i])) {
            const auto bits = std::bit_cast<std::uint32_t>(rays[i].x);
            const std::uint32_t ordered = bits >> 31 ? ~bits : bits | 0x80000000u;
            order.push_back(std::uint64_t{ordered} << 32 | i);
        }
    std::sort(order.begin(), order.end());
    const auto rayOf = [&](std::size_t k) { return static_cast<std::size_t>(order[k] & 0xffffffffu); };
    for (std::size_t k = 0; k < order.size(); ++k)
        for (std::size_t j = k + 1; j < order.size() && rays[rayOf(j)].x - rays[rayOf(k)].x <= repeatedRayAngle; ++j)
            if (isRepeat(rays[rayOf(k)], rays[rayOf(j)])) repeated[std::max(rayOf(j), rayOf(k))] = true;
    return repeated;
}

void clearRepeatedRays(std::vector<Vector3>& rays) {
    const std::vector<bool> repeated = repeatedRays(rays);
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (repeated[i]) rays[i] = {0.0f, 0.0f, 0.0f};
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
