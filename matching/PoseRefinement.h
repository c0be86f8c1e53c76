#pragma once
// Least-squares refinement of a tracker pose from rays whose markers are known: the pose that
// brings every ray, turned into the world, closest to the direction from the tracker to its marker.

#include <cstdint>
#include <optional>
#include <span>

#include "math/Pose.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Radians: the standard deviation of each of a ray's two angular error components that a camera
/// in use shows (0.05 degrees), the prior of every residual variance.
inline constexpr double rayNoisePrior = 8.7e-4;

struct RefinedPose {
    LumetraMath::poseP3Q<float> pose;  ///< tracker position in the world, rotation tracker -> world
    /// Radians: root mean square and largest angle between each ray (turned into the world) and
    /// the direction from the tracker to its marker.
    double rmsAngle = 0, maxAngle = 0;
    /// 6 x 6 upper triangle row by row, order (x, y, z, rx, ry, rz): position in the world frame,
    /// rotation as a small world-frame rotation vector (q <- exp(d) * q). The inverse of the
    /// Gauss-Newton normal matrix times residualVariance, widened by m / (m - 2) for that
    /// variance's degrees of freedom m as an estimate (the Student t law of the error), and from
    /// five rays never below S / (2N - 8), the fit's own estimate widened alike for its 2N - 6.
    double covariance[21] = {};
    /// Of each residual component: (4 rayNoisePrior^2 + S) / (4 + 2N - 6) for the sum S of the N
    /// rays' squared residuals, the prior noise weighted as four degrees of freedom beside the fit's
    /// 2N - 6.
    double residualVariance = 0;
    std::uint32_t iterations = 0;
    /// The inverse of the normal matrix alone (same layout): the covariance for unit residuals.
    double inverseNormal[21] = {};
};

/// Gauss-Newton from `start` in double precision over six degrees of freedom; each ray's residual
/// is the direction to its marker projected onto two unit axes square to the ray (the sines of the
/// angle's components). A step that does not lower the squared sum is halved.
/// Nothing when there are fewer than 3 correspondences (or the counts differ), the normal matrix
/// is rank-deficient (e.g. every marker on one line through the view), the result is not finite,
/// a marker ends up behind its ray, or the iteration does not settle.
std::optional<RefinedPose> refinePose(std::span<const LumetraMath::vector<float, 3>> rays,
                                      std::span<const LumetraMath::vector<float, 3>> markers,
                                      const LumetraMath::poseP3Q<float>& start);

/// refinePose stopped after at most `steps` steps even when the pose has not settled: a pose good
/// enough to number more rays by, not to report. The other refusals stay.
std::optional<RefinedPose> refinePoseRoughly(std::span<const LumetraMath::vector<float, 3>> rays,
                                             std::span<const LumetraMath::vector<float, 3>> markers,
                                             const LumetraMath::poseP3Q<float>& start, std::uint32_t steps);

/// How `ray` would miss `marker` under the pose refined from the other rays alone, to first order:
/// its residual divided by its own share of the fit. A wrong correspondence shows here at full
/// size even where the fit has absorbed most of it. Infinite when the other rays leave the pose
/// open.
struct LeaveOneOut {
    double angle = 0;      ///< radians (as its sine)
    /// r^T (I - H)^-1 r for the residuals r and the ray's share H of the fit; divided by the
    /// residual variance, chi-squared of two degrees of freedom for a right correspondence.
    double squaredNorm = 0;
    /// Distance from the marker at which the ray crosses the marker's horizontal plane (y = the
    /// marker's y), in the markers' units: the angle stretched by the distance and the slant.
    double planeMiss = 0;
};
LeaveOneOut leaveOneOut(const RefinedPose& refined, const LumetraMath::vector<float, 3>& ray,
                        const LumetraMath::vector<float, 3>& marker);

/// refinePose, and each ray's leaveOneOut at the pose it reaches (before that pose is rounded to
/// float) into checks[i] for rays[i], found in the pass that measures the final residuals.
/// Nothing also when `checks` does not hold one entry per ray.
std::optional<RefinedPose> refinePoseAndCheckRays(std::span<const LumetraMath::vector<float, 3>> rays,
                                                  std::span<const LumetraMath::vector<float, 3>> markers,
                                                  const LumetraMath::poseP3Q<float>& start,
                                                  std::span<LeaveOneOut> checks);

/// The pose after at most `steps` Gauss-Newton steps from `start`, each taken without checking
/// that it lowers the squared sum (and the last once it is small): from a near start, a pose good
/// enough to number more rays by, at the cost of one evaluation a step. Nothing for fewer than 3
/// correspondences, a rank-deficient normal matrix, a marker behind its ray or a result that is
/// not finite.
std::optional<LumetraMath::poseP3Q<float>> poseAfterSteps(std::span<const LumetraMath::vector<float, 3>> rays,
                                                          std::span<const LumetraMath::vector<float, 3>> markers,
                                                          const LumetraMath::poseP3Q<float>& start, std::uint32_t steps);

/// Element (row, column) of a 6 x 6 symmetric matrix stored as its upper triangle row by row.
constexpr std::size_t upperTriangleIndex(std::size_t row, std::size_t column) {
    if (row > column) return upperTriangleIndex(column, row);
    return row * 6 - row * (row - 1) / 2 + (column - row);
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
