#pragma once
// The camera rays as measurements of the pose: each ray's residual against its marker, the
// residual's Jacobian, the filter's iterated update by a frame's numbered rays, and the frame's
// own least-squares fit for its report.
//
// A ray d (unit, tracker frame, from the camera centre o) against marker m: the marker's
// direction from the camera centre turned into the tracker frame, u = R^T (m - p - R o) / |.|,
// projected onto two unit axes e1, e2 square to the ray, h = (e1.u, e2.u): the sines of the
// angle's two components, zero for a perfect ray, with the ray's noise sigma on each. With
// s = R^T (m - p - R o) and a_k = (I - u u^T) e_k / |s|:
//   dh_k/ddp = -(R a_k)^T,   dh_k/ddtheta = ((R a_k) x (m - p))^T
// (the camera offset drops out of the rotation part: the camera turns with the tracker).

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "math/Vector.h"
#include "tracking/FilterState.h"
#include "tracking/SymmetricSolve.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// One ray of a frame in the tracker's frame.
struct TrackerRay {
    Vector3d direction{};  ///< unit; zero for a ray that is not usable (non-finite or of zero length)
    Vector3d axes[2]{};    ///< unit, square to the direction and to each other
    Vector3d origin{};     ///< the camera's centre
    bool usable = false;
};

/// Where a camera sits on the tracker: its centre and the rotation camera -> tracker.
struct CameraMount {
    Vector3d centre{};
    Quaterniond rotation{0, 0, 0, 1};
};

std::vector<TrackerRay> toTrackerRays(std::span<const LumetraMath::vector<float, 3>> cameraRays,
                                      const CameraMount& camera);

/// A ray's residual (-h, the measurement being zero) and the Jacobian of h over (dp, dtheta).
struct RayResidual {
    double residual[2] = {};
    double jacobian[2][6] = {};
    double range = 0;  ///< distance from the camera centre to the marker
};

/// Nothing when the marker lies behind the ray (or at the camera centre).
std::optional<RayResidual> rayResidual(const Vector3d& position, const Matrix3d& rotation, const TrackerRay& ray,
                                       const Vector3d& marker);

using PoseCovariance = Symmetric<6>;

/// The 6 x 6 pose block (dp, dtheta) of the error covariance.
PoseCovariance poseBlock(const Covariance15& covariance);

/// A numbered ray: the ray and its marker's position.
struct Correspondence {
    const TrackerRay* ray = nullptr;
    Vector3d marker{};
};

/// The iterated update of `state` by the correspondences, each ray with noise `rayNoise` on both
/// residual components. The rays see only the pose, so the update is solved in the pose's six
/// dimensions, information form: Lambda = Ppose^-1 + sum H^T H / sigma^2, re-linearised at each
/// iterate (Gauss-Newton on prior plus rays); the other blocks follow by their correlation with
/// the pose, dx = P[:, pose] Ppose^-1 dpose, and P <- P - G (Ppose - Lambda^-1) G^T with
/// G = P[:, pose] Ppose^-1. False (state untouched) when a matrix is singular or a marker falls
/// behind its ray. `start`, when given, is where the iteration starts, as (dp, dtheta) from the prior
/// (an identification's pose, far from a prediction gone astray).
bool fuseRays(FilterState& state, std::span<const Correspondence> correspondences, double rayNoise,
              const double (*start)[6] = nullptr);

/// Where `to`'s pose lies from `from`'s, as (dp, dtheta) with to.rotation = Exp(dtheta) from.rotation.
std::array<double, 6> poseOffset(const FilterState& from, const FilterState& to);

/// What the update from `prior` to `fused` minimised: the pose's offset under the prior's pose
/// covariance plus every correspondence's squared residual over the ray noise (a chi-square).
double fusionCost(const FilterState& prior, const FilterState& fused, std::span<const Correspondence> correspondences,
                  double rayNoise);

/// The frame alone: the least-squares pose from the correspondences started at `position` and
/// `rotation`, with its residual angles and covariance (PoseReport's layout and definition, the
/// residual variance never below the ray noise's).
struct FrameFit {
    double rmsAngle = 0, maxAngle = 0;
    double covariance[21] = {};
};
FrameFit fitFrame(Vector3d position, Quaterniond rotation, std::span<const Correspondence> correspondences,
                  double rayNoise);

/// The angle of a residual (radians, from its two sines).
double residualAngle(const RayResidual& residual);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
