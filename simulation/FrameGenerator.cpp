#include "simulation/FrameGenerator.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "simulation/PortableRandom.h"

namespace Lumetra::Testing {
namespace {

using LumetraMath::quaternion;

constexpr double pi = 3.14159265358979323846;

Point3d normalized(const Point3d& v) { return v / LumetraMath::length(v); }

/// Two unit vectors that complete `d` (unit) to an orthonormal frame.
void perpendiculars(const Point3d& d, Point3d& e1, Point3d& e2) {
    const Point3d helper = std::abs(d.x) < 0.9 ? Point3d{1, 0, 0} : Point3d{0, 1, 0};
    e1 = normalized(LumetraMath::cross(d, helper));
    e2 = LumetraMath::cross(d, e1);
}

Point3 toFloat(const Point3d& v) { return LumetraMath::vectorCast<float>(v); }

}  // namespace

quaternion<double> TrackerPose::rotation() const {
    const quaternion<double> turn = LumetraMath::quaternionFromAxisAngle(Point3d{0, 1, 0}, yaw);
    if (tilt == 0) return turn;
    return LumetraMath::quaternionFromAxisAngle(tiltAxis, tilt) * turn;
}

Frame generateFrame(const std::vector<Point3>& markers, const TrackerPose& pose, const FrameOptions& options) {
    // The draws are those of PortableRandom.h, so that a browser's frames equal these.
    std::mt19937_64 rng(options.seed);
    NormalVariate noise(0.0, options.angularNoise > 0 ? options.angularNoise : 1.0);
    const auto unit = [](std::mt19937_64& engine) { return canonical(engine); };

    const quaternion<double> worldFromTracker = pose.rotation();
    const quaternion<double> trackerFromWorld = LumetraMath::conjugate(worldFromTracker);
    const Point3d cameraAxis{0, options.ceiling ? 1.0 : -1.0, 0};
    const double minAxisCosine = std::cos(options.fieldOfViewHalfAngle);

    struct Ray {
        Point3d world;
        std::uint32_t marker;
    };
    std::vector<Ray> labelled;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const Point3d world = normalized(LumetraMath::vectorCast<double>(markers[i]) - pose.position);
        if (LumetraMath::dot(LumetraMath::mul(trackerFromWorld, world), cameraAxis) < minAxisCosine) continue;
        if (options.dropProbability > 0 && unit(rng) < options.dropProbability) continue;
        labelled.push_back({world, static_cast<std::uint32_t>(i)});
    }

    if (options.angularNoise > 0) {
        for (Ray& ray : labelled) {
            Point3d e1, e2;
            perpendiculars(ray.world, e1, e2);
            // The error along e2 is drawn first, as frames have always been made.
            const double along = std::tan(noise(rng));
            const double across = std::tan(noise(rng));
            ray.world = normalized(ray.world + e1 * across + e2 * along);
        }
    }

    // Spurious rays are uniform over the cone's solid angle.
    for (std::size_t i = 0; i < options.spuriousRays; ++i) {
        const double cosTheta = minAxisCosine + (1.0 - minAxisCosine) * unit(rng);
        const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
        const double phi = 2.0 * pi * unit(rng);
        const Point3d tracker{sinTheta * std::cos(phi), cameraAxis.y * cosTheta, sinTheta * std::sin(phi)};
        labelled.push_back({LumetraMath::mul(worldFromTracker, tracker), spuriousMarker});
    }

    shuffle(labelled, rng);

    Frame frame;
    frame.rays.reserve(labelled.size());
    frame.worldRays.reserve(labelled.size());
    frame.markerNumbers.reserve(labelled.size());
    for (const Ray& ray : labelled) {
        frame.rays.push_back(toFloat(normalized(LumetraMath::mul(trackerFromWorld, ray.world))));
        frame.worldRays.push_back(toFloat(ray.world));
        frame.markerNumbers.push_back(ray.marker);
    }
    return frame;
}

std::size_t countCompleteBars(const Frame& frame) {
    std::vector<std::uint32_t> markers;
    for (std::uint32_t marker : frame.markerNumbers)
        if (marker != spuriousMarker) markers.push_back(marker);
    std::sort(markers.begin(), markers.end());
    markers.erase(std::unique(markers.begin(), markers.end()), markers.end());
    std::size_t complete = 0;
    for (std::size_t i = 0; i + 2 < markers.size(); ++i)
        if (markers[i] % 3 == 0 && markers[i + 2] == markers[i] + 2) ++complete;
    return complete;
}

Vesk::Environment::HorizontalGrid::EnvironmentDescription randomLayout(
    const Vesk::Environment::HorizontalGrid::EnvironmentDescription& geometry, std::uint32_t width,
    std::uint32_t height, double fill, int minSpacing, std::mt19937_64& rng, int inLineSpacing) {
    Vesk::Environment::HorizontalGrid::EnvironmentDescription layout = geometry;
    layout.size = {width, height};
    layout.bars.clear();
    std::vector<std::uint32_t> cells(static_cast<std::size_t>(width) * height);
    std::iota(cells.begin(), cells.end(), 0u);
    std::shuffle(cells.begin(), cells.end(), rng);

    // Per cell: 0 when free, else 1 + the rotation of its bar.
    std::vector<std::uint8_t> occupied(cells.size(), 0);
    const int reach = std::max(minSpacing, inLineSpacing);
    // Whether a bar of rotation r at (x, y) keeps clear of every bar placed; r < 0 leaves the
    // in-line rule out.
    const auto isFree = [&](int x, int y, int r) {
        for (int v = std::max(0, y - reach); v <= std::min(static_cast<int>(height) - 1, y + reach); ++v)
            for (int u = std::max(0, x - reach); u <= std::min(static_cast<int>(width) - 1, x + reach); ++u) {
                const std::uint8_t other = occupied[static_cast<std::size_t>(v) * width + static_cast<std::size_t>(u)];
                if (other == 0) continue;
                const int dx = std::abs(u - x), dy = std::abs(v - y);
                if (dx <= minSpacing && dy <= minSpacing) return false;
                if (r < 0) continue;
                const bool alongX = r % 2 == 0 || (other - 1) % 2 == 0, alongY = r % 2 == 1 || (other - 1) % 2 == 1;
                if ((alongX && dy <= minSpacing) || (alongY && dx <= minSpacing)) return false;
            }
        return true;
    };

    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> rotation(0, 3);
    const bool inLine = inLineSpacing > minSpacing;
    for (std::uint32_t cell : cells) {
        const int x = static_cast<int>(cell % width), y = static_cast<int>(cell / width);
        if (unit(rng) >= fill) continue;
        // Without the in-line rule the rotation is drawn only for bars placed, as it always was.
        const int r = inLine ? rotation(rng) : -1;
        if (!isFree(x, y, r)) continue;
        const auto placed = static_cast<std::uint8_t>(inLine ? r : rotation(rng));
        occupied[cell] = static_cast<std::uint8_t>(1 + placed);
        layout.bars.push_back({{x, y}, placed});
    }
    return layout;
}

TrackerPose randomTrackerPose(const PoseRange& range, double planeHeight, bool ceiling, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto between = [&](double low, double high) { return low + (high - low) * unit(rng); };

    TrackerPose pose;
    const double distance = between(range.minDistance, range.maxDistance);
    pose.position = {between(-range.halfWidth, range.halfWidth), planeHeight + (ceiling ? -distance : distance),
                     between(-range.halfDepth, range.halfDepth)};
    pose.yaw = between(-pi, pi);
    const double axisAngle = between(-pi, pi);
    pose.tiltAxis = {std::cos(axisAngle), 0, std::sin(axisAngle)};
    pose.tilt = between(0, range.maxTilt);
    return pose;
}

double rotationAngleBetween(const quaternion<double>& a, const quaternion<double>& b) {
    const quaternion<double> d = LumetraMath::conjugate(a) * b;
    const double vectorPart = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    return 2.0 * std::atan2(vectorPart, std::abs(d.w));
}

}  // namespace Lumetra::Testing
