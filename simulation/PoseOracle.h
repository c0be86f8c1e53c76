#pragma once
// The best pose any identifier can report for a frame: the least-squares pose from rays whose
// markers are known, found by Levenberg-Marquardt on the angles between each ray and the
// direction to its marker, started at a given pose (the truth), with the covariance a known
// per-ray noise implies. It shares no code with the library's refiner, so it can measure it.

#include <array>
#include <optional>
#include <vector>

#include "simulation/FrameGenerator.h"

namespace Lumetra::Testing {

/// 6 x 6 in the order (x, y, z, rx, ry, rz): world position, then the rotation error as a
/// world-frame rotation vector r applied as rotation <- exp(r) * rotation.
using PoseMatrix = std::array<std::array<double, 6>, 6>;
using PoseVector = std::array<double, 6>;

struct OracleFit {
    bool converged = false;  ///< the gradient vanished (or the step did) before the iteration limit
    Point3d position{};
    LumetraMath::quaternion<double> rotation{0, 0, 0, 1};  ///< turns tracker-frame vectors into world ones
    PoseMatrix covariance{};  ///< noise^2 times the inverse normal matrix; zero when not well posed
    double cost = 0;          ///< sum of the squared angle residuals, radians^2
    int iterations = 0;
};

/// Fits the pose to `rays` (tracker frame, unit) that show `markers` (world), one marker per ray,
/// from the start pose. `noise` is the standard deviation of each ray's angle per axis, radians.
OracleFit fitOraclePose(const std::vector<Point3d>& rays, const std::vector<Point3d>& markers,
                        const Point3d& startPosition, const LumetraMath::quaternion<double>& startRotation,
                        double noise);

/// The oracle of a frame: the fit to its marker rays (strays left out) from the true pose.
OracleFit fitOraclePose(const Frame& frame, const std::vector<Point3>& markers, const TrackerPose& truth, double noise);

/// The error of an estimate against the truth in the covariance's order: position difference and
/// the rotation vector r with estimate = exp(r) * truth.
PoseVector poseError(const Point3d& position, const LumetraMath::quaternion<double>& rotation,
                     const Point3d& truePosition, const LumetraMath::quaternion<double>& trueRotation);

/// e^T C^-1 e; nothing when C is not positive definite.
std::optional<double> normalisedError(const PoseMatrix& covariance, const PoseVector& error);

/// The 6 x 6 covariance of a pose report, given as its upper triangle row by row (21 values).
PoseMatrix unpackCovariance(const float* upperTriangle);

/// The 95 % point of the chi-squared distribution with 6 degrees of freedom.
inline constexpr double chiSquared6At95 = 12.591587243743977;

}  // namespace Lumetra::Testing
