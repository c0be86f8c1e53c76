#pragma once
// Camera models for hosts: pixel centroids to unit rays in the tracker's frame, and back.
// Header-only, no dependencies beyond the C++ standard library and the math types of the host
// interface; included by LumetraVeskEnvironmentHorizontalGridHost.h.
//
//     using namespace Lumetra::Host;
//     const Camera camera = Camera::fisheye({285.0, 285.0, 320.0, 240.0}, {-0.01, 0.05, -0.03, 0.004},
//                                           {.position = {0, 0, 0}, .rotation = cameraLookingDown});
//     std::vector<Vector3> rays = camera.rays(pixels);   // for identify, track and the tracker
//
// Camera frame: as OpenCV's, x to the right of the image, y down the image, z forward along the
// optical axis. Pixels: (u, v), u to the right, v down, the centre of the top-left pixel at (0, 0).
// The models and their coefficients are OpenCV's:
// - pinhole with radial-tangential distortion (k1, k2, p1, p2, k3): a point (x, y, 1) on the
//   normalised image plane, r^2 = x^2 + y^2, is seen at
//     x' = x (1 + k1 r^2 + k2 r^4 + k3 r^6) + 2 p1 x y + p2 (r^2 + 2 x^2)
//     y' = y (1 + k1 r^2 + k2 r^4 + k3 r^6) + p1 (r^2 + 2 y^2) + 2 p2 x y
//   and (u, v) = (fx x' + cx, fy y' + cy); only rays in front of the camera (z > 0) project.
// - equidistant fisheye (Kannala-Brandt, k1..k4): a ray at angle theta from the optical axis, in
//   the direction phi around it, is seen at distance theta_d = theta (1 + k1 theta^2 + k2 theta^4
//   + k3 theta^6 + k4 theta^8) from the principal point (normalised), in the same direction;
//   angles beyond 90 degrees (lenses of more than 180 degrees) are fine.
// Unprojection inverts the distortion by Newton's method: cameraRay() to double precision, rays()
// (blocks of pixels, single precision first) to within 1e-9 rad before the rays are rounded to
// float. A pixel that the model cannot have produced (beyond the radius where the distortion
// folds back) gives a NaN ray, which the library ignores.
//
// The camera's mount on the tracker is a LumetraMath::poseP3Q<float>, as TrackerSettings::cameras:
// its position is the camera's centre in the tracker's frame, its rotation turns camera-frame
// vectors into tracker-frame ones. A floor tracker's rays point along its -y axis, a ceiling
// tracker's along +y: cameraLookingDown and cameraLookingUp turn a z-forward camera that way.

#include <algorithm>
#include <cmath>
#include <array>
#include <cstddef>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "math/Matrix.h"
#include "math/Pose.h"

namespace Lumetra::Host {

using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;
/// A pixel position (u, v), double so that centroids of large images keep their precision.
using Pixel = LumetraMath::vector<double, 2>;

/// Rotation of a z-forward camera (OpenCV's axes) whose optical axis is the tracker's -y axis,
/// down at a floor: camera x is tracker x, camera y (down the image) is tracker +z. A quarter turn
/// about x: (sin 45 deg, 0, 0, cos 45 deg).
inline constexpr LumetraMath::quaternion<float> cameraLookingDown{0.70710678f, 0.0f, 0.0f, 0.70710678f};
/// Rotation of a z-forward camera whose optical axis is the tracker's +y axis, up at a ceiling:
/// camera x is tracker x, camera y is tracker -z.
inline constexpr LumetraMath::quaternion<float> cameraLookingUp{-0.70710678f, 0.0f, 0.0f, 0.70710678f};

/// Focal lengths and principal point, pixels.
struct CameraIntrinsics {
    double fx = 1, fy = 1, cx = 0, cy = 0;
};

enum class CameraModel { pinhole, fisheye };

/// A calibrated camera on the tracker. Cheap to copy; all calls are const and thread-safe.
class Camera {
public:
    /// Pinhole with radial-tangential distortion: coefficients k1, k2, p1, p2, k3 (OpenCV's order).
    static Camera pinhole(const CameraIntrinsics& intrinsics, const std::array<double, 5>& distortion = {},
                          const Pose& mount = identityMount()) {
        return Camera(CameraModel::pinhole, intrinsics, {distortion[0], distortion[1], distortion[2],
                                                         distortion[3], distortion[4]}, mount);
    }
    /// Equidistant fisheye: coefficients k1, k2, k3, k4 (OpenCV's fisheye).
    static Camera fisheye(const CameraIntrinsics& intrinsics, const std::array<double, 4>& distortion = {},
                          const Pose& mount = identityMount()) {
        return Camera(CameraModel::fisheye, intrinsics,
                      {distortion[0], distortion[1], distortion[2], distortion[3], 0}, mount);
    }

    /// The same camera unrotated at the tracker's origin: its rays() are in the camera's own frame
    /// (as ITracker::addFrame takes them).
    Camera unmounted() const { return Camera(model_, intrinsics_, distortion_, identityMount()); }

    CameraModel model() const noexcept { return model_; }
    const CameraIntrinsics& intrinsics() const noexcept { return intrinsics_; }
    /// The coefficients in the model's order (k1, k2, p1, p2, k3 or k1..k4 and a 0).
    const std::array<double, 5>& distortion() const noexcept { return distortion_; }
    const Pose& mount() const noexcept { return mount_; }

    /// The unit direction of `pixel` in the camera's frame (NaN where the model has no ray).
    LumetraMath::vector<double, 3> cameraRay(const Pixel& pixel) const noexcept {
        const double xd = (pixel.x - intrinsics_.cx) / intrinsics_.fx;
        const double yd = (pixel.y - intrinsics_.cy) / intrinsics_.fy;
        return model_ == CameraModel::pinhole ? undistortPinhole(xd, yd) : undistortFisheye(xd, yd);
    }

    /// The unit direction of `pixel` in the tracker's frame (NaN where the model has no ray).
    Vector3 ray(const Pixel& pixel) const noexcept { return toTracker(cameraRay(pixel)); }

    /// ray() of `count` pixels into `rays`, several pixels at a time: the Newton steps of
    /// neighbouring pixels are independent, so they overlap (and vectorise) instead of each
    /// pixel waiting on its own chain of divisions.
    void rays(const Pixel* pixels, std::size_t count, Vector3* rays) const noexcept {
        std::size_t i = 0;
        for (; i + block <= count; i += block) raysOfBlock(pixels + i, rays + i);
        for (; i < count; ++i) rays[i] = ray(pixels[i]);
    }
    std::vector<Vector3> rays(const std::vector<Pixel>& pixels) const {
        std::vector<Vector3> result(pixels.size());
        rays(pixels.data(), pixels.size(), result.data());
        return result;
    }

    /// Where the direction `trackerRay` (tracker frame, any length) is seen; nothing for a pinhole
    /// camera when it does not point in front of the camera, or for a zero or non-finite ray.
    std::optional<Pixel> project(const LumetraMath::vector<double, 3>& trackerRay) const noexcept {
        const auto& m = rotation_.m;  // camera = rotation^T tracker
        const double x = m[0] * trackerRay.x + m[3] * trackerRay.y + m[6] * trackerRay.z;
        const double y = m[1] * trackerRay.x + m[4] * trackerRay.y + m[7] * trackerRay.z;
        const double z = m[2] * trackerRay.x + m[5] * trackerRay.y + m[8] * trackerRay.z;
        if (!std::isfinite(x + y + z) || (x == 0 && y == 0 && z == 0)) return std::nullopt;
        double xd = 0, yd = 0;
        if (model_ == CameraModel::pinhole) {
            if (!(z > 0)) return std::nullopt;
            distortPinhole(x / z, y / z, xd, yd);
        } else {
            const double r = std::hypot(x, y);
            const double theta = std::atan2(r, z);
            const double scale = r > 0 ? fisheyeAngle(theta) / r : 0.0;
            xd = x * scale, yd = y * scale;
        }
        return Pixel{intrinsics_.fx * xd + intrinsics_.cx, intrinsics_.fy * yd + intrinsics_.cy};
    }
    std::optional<Pixel> project(const Vector3& trackerRay) const noexcept {
        return project(LumetraMath::vectorCast<double>(trackerRay));
    }

private:
    static Pose identityMount() { return {{0, 0, 0}, {0, 0, 0, 1}}; }

    Vector3 toTracker(const LumetraMath::vector<double, 3>& c) const noexcept {
        const auto& m = rotation_.m;
        return {static_cast<float>(m[0] * c.x + m[1] * c.y + m[2] * c.z),
                static_cast<float>(m[3] * c.x + m[4] * c.y + m[5] * c.z),
                static_cast<float>(m[6] * c.x + m[7] * c.y + m[8] * c.z)};
    }

    static constexpr std::size_t block = 16;
    /// Newton steps of a block in single precision (twice the pixels per instruction): from the
    /// starts below, enough to reach a float's precision for typical lenses.
    static constexpr int floatSteps = 2;

    /// Unprojection of `block` pixels side by side: Newton's steps in single precision, then one
    /// correction in double precision with the last step's inverse Jacobian. That correction
    /// leaves the product of the float's error (~1e-7) and the Jacobian's relative error, far
    /// below a double's need here. A pixel left unsettled (rare: strong distortion near the fold)
    /// comes out as NaN from the block and is unprojected again on its own.
    void raysOfBlock(const Pixel* pixels, Vector3* rays) const noexcept {
        double xd[block], yd[block], x[block], y[block], z[block];
        for (std::size_t k = 0; k < block; ++k) {
            xd[k] = (pixels[k].x - intrinsics_.cx) / intrinsics_.fx;
            yd[k] = (pixels[k].y - intrinsics_.cy) / intrinsics_.fy;
        }
        if (model_ == CameraModel::pinhole)
            pinholeBlock(xd, yd, x, y, z);
        else
            fisheyeBlock(xd, yd, x, y, z);
        const auto [m0, m1, m2, m3, m4, m5, m6, m7, m8] = rotation_.m;  // toTracker, a block at a time
        double tx[block], ty[block], tz[block];
        for (std::size_t k = 0; k < block; ++k) {
            tx[k] = m0 * x[k] + m1 * y[k] + m2 * z[k];
            ty[k] = m3 * x[k] + m4 * y[k] + m5 * z[k];
            tz[k] = m6 * x[k] + m7 * y[k] + m8 * z[k];
        }
        for (std::size_t k = 0; k < block; ++k)
            rays[k] = {static_cast<float>(tx[k]), static_cast<float>(ty[k]), static_cast<float>(tz[k])};
        for (std::size_t k = 0; k < block; ++k)
            if (std::isnan(tz[k])) rays[k] = ray(pixels[k]);
    }

    void pinholeBlock(const double* xd, const double* yd, double* x, double* y, double* z) const noexcept {
        float xs[block], ys[block], xf[block], yf[block], step[block], margin[block], ixx[block], ixy[block], iyy[block];
        const auto [k1, k2, p1, p2, k3] = distortion_;
        const float f1 = coefficient<float>(0), f2 = coefficient<float>(1), f3 = coefficient<float>(4);
        toFloats(xd, xs);
        toFloats(yd, ys);
        for (std::size_t k = 0; k < block; ++k) {
            // The radial distortion undone as if the distorted point were the undistorted one, then
            // a Newton step on the radial scale alone (cheap: one unknown). No guard against a small
            // radial factor as in pinholeStart (a branch would stop the loop vectorising): such a
            // pixel's steps do not settle, and it goes the scalar way.
            const float r2 = xs[k] * xs[k] + ys[k] * ys[k];
            float scale = 1 / (1 + r2 * (f1 + r2 * (f2 + r2 * f3)));
            const float q = scale * scale * r2;
            scale -= (scale * (1 + q * (f1 + q * (f2 + q * f3))) - 1) / (1 + q * (3 * f1 + q * (5 * f2 + q * 7 * f3)));
            xf[k] = xs[k] * scale, yf[k] = ys[k] * scale;
        }
        for (int i = 0; i < floatSteps; ++i)
            for (std::size_t k = 0; k < block; ++k)
                pinholeStep(xs[k], ys[k], xf[k], yf[k], step[k], margin[k], ixx[k], ixy[k], iyy[k]);
        double squaredLength[block], correction[block], residual[block], length[block], floatStep[block], floatMargin[block];
        for (std::size_t k = 0; k < block; ++k) {
            const double u = xf[k], v = yf[k], r2 = u * u + v * v;  // distortPinhole, inline
            const double radial = 1 + r2 * (k1 + r2 * (k2 + r2 * k3));
            const double ex = u * radial + 2 * p1 * u * v + p2 * (r2 + 2 * u * u) - xd[k];
            const double ey = v * radial + p1 * (r2 + 2 * v * v) + 2 * p2 * u * v - yd[k];
            const double dx = ixx[k] * ex + ixy[k] * ey, dy = ixy[k] * ex + iyy[k] * ey;
            x[k] = u - dx, y[k] = v - dy;
            squaredLength[k] = 1 + x[k] * x[k] + y[k] * y[k];
            correction[k] = dx * dx + dy * dy;
            residual[k] = (ex * ex + ey * ey) / (1 + xd[k] * xd[k] + yd[k] * yd[k]);
            floatStep[k] = step[k], floatMargin[k] = margin[k];
        }
        squareRoots(squaredLength, length);
        for (std::size_t k = 0; k < block; ++k) z[k] = 1 / length[k], x[k] *= z[k], y[k] *= z[k];
        for (std::size_t k = 0; k < block; ++k)
            z[k] = (floatSettled(squaredLength[k], floatStep[k], correction[k], residual[k]) & (floatMargin[k] > 0)) ? z[k]
                                                                                                                   : nan;
    }

    void fisheyeBlock(const double* xd, const double* yd, double* x, double* y, double* z) const noexcept {
        double thetaD[block], theta[block];
        float targets[block], thetaF[block], step[block], inverseSlope[block];
        for (std::size_t k = 0; k < block; ++k) theta[k] = xd[k] * xd[k] + yd[k] * yd[k];
        squareRoots(theta, thetaD);
        toFloats(thetaD, targets);
        for (std::size_t k = 0; k < block; ++k) {
            const float target = targets[k];
            float angle = target, angleStep = 0, inverse = 0;
            for (int i = 0; i < floatSteps; ++i) fisheyeStep(target, angle, angleStep, inverse);
            thetaF[k] = angle, step[k] = angleStep, inverseSlope[k] = inverse;
        }
        for (std::size_t k = 0; k < block; ++k) {
            const double error = fisheyeAngle(thetaF[k]) - thetaD[k], correction = error * inverseSlope[k];
            const double t = thetaF[k] - correction;
            const bool settled = floatSettled(1 + t * t, step[k] * step[k], correction * correction,
                                              error * error / (1 + thetaD[k] * thetaD[k])) &
                                 (inverseSlope[k] > 0) &
                                 (t >= 0) & (t <= 3.141592653589793) & (thetaD[k] > 0);
            theta[k] = settled ? t : nan;
        }
        double sine[block];
        for (std::size_t k = 0; k < block; ++k) sinCosOfAngle(theta[k], sine[k], z[k]);
        for (std::size_t k = 0; k < block; ++k) {
            const double scale = sine[k] / thetaD[k];
            x[k] = xd[k] * scale, y[k] = yd[k] * scale;
        }
    }

    /// A double for the single-precision steps. Beyond 1e6 (a million focal lengths out, where no
    /// lens has pixels) it is held there, as a cast out of a float's range is undefined; the double
    /// correction then refuses such a pixel, which goes the scalar way. NaN stays NaN.
    static float toFloat(double value) noexcept { return static_cast<float>(std::max(std::min(value, 1e6), -1e6)); }
    /// toFloat() of a block. SSE2 converts two at a time without the comparisons (which would stop
    /// the loops around from vectorising): beyond a float's range it gives infinity, which no
    /// step settles on either.
    static void toFloats(const double* values, float* floats) noexcept {
#if defined(__SSE2__)
        for (std::size_t k = 0; k < block; k += 2)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(floats + k), _mm_castps_si128(_mm_cvtpd_ps(_mm_loadu_pd(values + k))));
#else
        for (std::size_t k = 0; k < block; ++k) floats[k] = toFloat(values[k]);
#endif
    }

    /// Distortion coefficient `i` in the precision of the steps.
    template <class T>
    T coefficient(std::size_t i) const noexcept {
        if constexpr (std::is_same_v<T, float>)
            return distortionF_[i];
        else
            return distortion_[i];
    }

    /// Square roots of a block of non-negative values. A loop of std::sqrt keeps a branch per value
    /// (for errno), which stops the loops around it from vectorising; SSE2 takes two at a time.
    static void squareRoots(const double* values, double* roots) noexcept {
#if defined(__SSE2__)
        for (std::size_t k = 0; k < block; k += 2) _mm_storeu_pd(roots + k, _mm_sqrt_pd(_mm_loadu_pd(values + k)));
#else
        for (std::size_t k = 0; k < block; ++k) roots[k] = std::sqrt(values[k]);
#endif
    }

    /// Whether single precision settled: its last squared step below 1e-8 and the double
    /// correction's below 1e-12 (relative to `size`, one plus the squared result), with an error
    /// left of about the product of the two steps and the distortion's curvature: below 1e-10. And
    /// the squared residual where the float steps ended below 1e-10 (relative): a small step alone
    /// could be a steep distortion far from any solution.
    static bool floatSettled(double size, double floatStep, double correction, double residual) noexcept {
        return (floatStep < 1e-8 * size) & (correction < 1e-12 * size) & (residual < 1e-10);  // no branch: vectorises
    }

    Camera(CameraModel model, const CameraIntrinsics& intrinsics, const std::array<double, 5>& distortion,
           const Pose& mount)
        : model_(model), intrinsics_(intrinsics), distortion_(distortion), mount_(mount) {
        const auto& q = mount.rotation;
        double x = q.x, y = q.y, z = q.z, w = q.w;
        const double norm = std::sqrt(x * x + y * y + z * z + w * w);
        if (norm > 0) x /= norm, y /= norm, z /= norm, w /= norm;
        rotation_ = LumetraMath::toRotationMatrix(LumetraMath::quaternion<double>{x, y, z, w});
        for (std::size_t i = 0; i < distortion_.size(); ++i) distortionF_[i] = toFloat(distortion_[i]);
    }

    static constexpr int maxIterations = 20;
    static constexpr double nan = std::numeric_limits<double>::quiet_NaN();

    void distortPinhole(double x, double y, double& xd, double& yd) const noexcept {
        const auto [k1, k2, p1, p2, k3] = distortion_;
        const double r2 = x * x + y * y;
        const double radial = 1 + r2 * (k1 + r2 * (k2 + r2 * k3));
        xd = x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x);
        yd = y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y;
    }

    // Unprojection: Newton's method. A few steps without a test (quadratic convergence takes
    // typical lenses to double precision in four), then more only where the steps have not yet
    // become negligible.
    static constexpr int fixedSteps = 4;

    /// One Newton step of the pinhole distortion towards (xd, yd): the squared step, a margin that
    /// is positive where the point it started from lies inside the fold, and the inverse of the
    /// (symmetric) Jacobian there.
    template <class T>
    void pinholeStep(T xd, T yd, T& x, T& y, T& step, T& margin, T& ixx, T& ixy, T& iyy) const noexcept {
        const T k1 = coefficient<T>(0), k2 = coefficient<T>(1), p1 = coefficient<T>(2), p2 = coefficient<T>(3);
        const T k3 = coefficient<T>(4);
        const T r2 = x * x + y * y;
        const T radial = 1 + r2 * (k1 + r2 * (k2 + r2 * k3));
        const T slope = 2 * (k1 + r2 * (2 * k2 + 3 * r2 * k3));  // d radial / d r2, doubled
        const T ex = x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x) - xd;
        const T ey = y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y - yd;
        const T jxx = radial + x * x * slope + 2 * p1 * y + 6 * p2 * x;
        const T jxy = x * y * slope + 2 * p1 * x + 2 * p2 * y;
        const T jyy = radial + y * y * slope + 6 * p1 * y + 2 * p2 * x;
        const T determinant = jxx * jyy - jxy * jxy;
        const T inverse = 1 / determinant;
        // The Jacobian is positive definite where the distortion still grows outwards; beyond the
        // fold (both eigenvalues negative there for barrel distortion, so the determinant alone
        // does not tell) the same pixel belongs to no ray.
        margin = std::min(jxx, determinant);
        ixx = jyy * inverse, ixy = -jxy * inverse, iyy = jxx * inverse;
        const T dx = ixx * ex + ixy * ey, dy = ixy * ex + iyy * ey;
        x -= dx, y -= dy;
        step = dx * dx + dy * dy;
    }

    // Newton's error after a step is about the square of the step: a step below 1e-8 leaves 1e-16.
    /// The distorted point with its radial distortion undone as if it were the undistorted one:
    /// closer than the point itself, so that four steps settle even strong barrel distortion.
    void pinholeStart(double xd, double yd, double& x, double& y) const noexcept {
        const double r2 = xd * xd + yd * yd;
        const double radial = 1 + r2 * (distortion_[0] + r2 * (distortion_[1] + r2 * distortion_[4]));
        const double scale = radial > 0.5 ? 1 / radial : 1.0;
        x = xd * scale, y = yd * scale;
    }

    static bool pinholeSettled(double x, double y, double step) noexcept { return step < 1e-16 * (1 + x * x + y * y); }
    static LumetraMath::vector<double, 3> pinholeRay(double x, double y) noexcept {
        const double inverseLength = 1 / std::sqrt(x * x + y * y + 1);
        return {x * inverseLength, y * inverseLength, inverseLength};
    }

    LumetraMath::vector<double, 3> undistortPinhole(double xd, double yd) const noexcept {
        double x = 0, y = 0, step = 0, margin = 1, ixx = 0, ixy = 0, iyy = 0;
        pinholeStart(xd, yd, x, y);
        for (int i = 0; i < maxIterations && (i < fixedSteps || !pinholeSettled(x, y, step)); ++i)
            pinholeStep(xd, yd, x, y, step, margin, ixx, ixy, iyy);
        if (!pinholeSettled(x, y, step) || !(margin > 0)) return {nan, nan, nan};
        return pinholeRay(x, y);
    }

    double fisheyeAngle(double theta) const noexcept {
        const double t2 = theta * theta;
        return theta * (1 + t2 * (distortion_[0] + t2 * (distortion_[1] + t2 * (distortion_[2] + t2 * distortion_[3]))));
    }

    /// One Newton step of theta_d(theta) towards thetaD; the step and the inverse of the slope
    /// where it started (for a later correction without a division).
    template <class T>
    void fisheyeStep(T thetaD, T& theta, T& step, T& inverseSlope) const noexcept {
        const T k1 = coefficient<T>(0), k2 = coefficient<T>(1), k3 = coefficient<T>(2), k4 = coefficient<T>(3);
        const T t2 = theta * theta;
        const T error = theta * (1 + t2 * (k1 + t2 * (k2 + t2 * (k3 + t2 * k4)))) - thetaD;
        inverseSlope = 1 / (1 + t2 * (3 * k1 + t2 * (5 * k2 + t2 * (7 * k3 + t2 * 9 * k4))));
        step = error * inverseSlope;
        theta -= step;
    }

    /// sin and cos of an angle in [0, pi] to within 4e-15, by the series of t = angle - pi/2 (so
    /// that a block of angles vectorises, unlike calls of sincos).
    static void sinCosOfAngle(double angle, double& sine, double& cosine) noexcept {
        const double t = angle - 1.5707963267948966, t2 = t * t;
        double c = 0, s = 0;  // cos t and sin t / t, Horner over t^2 from the t^18 and t^19 terms
        for (int n = 9; n >= 0; --n) c = c * t2 + cosSeries[n], s = s * t2 + sinSeries[n];
        sine = c, cosine = -s * t;
    }
    /// (-1)^n / (2n)! and (-1)^n / (2n + 1)!.
    static constexpr std::array<double, 10> cosSeries = [] {
        std::array<double, 10> terms{};
        double term = 1;
        for (int n = 0; n < 10; ++n) terms[n] = term, term /= -(2.0 * n + 1) * (2.0 * n + 2);
        return terms;
    }();
    static constexpr std::array<double, 10> sinSeries = [] {
        std::array<double, 10> terms{};
        double term = 1;
        for (int n = 0; n < 10; ++n) terms[n] = term, term /= -(2.0 * n + 2) * (2.0 * n + 3);
        return terms;
    }();

    static bool fisheyeSettled(double theta, double step, double inverseSlope) noexcept {
        return std::abs(step) < 1e-8 * (1 + theta) && inverseSlope > 0 && theta >= 0 && theta <= 3.141592653589793;
    }
    static LumetraMath::vector<double, 3> fisheyeRay(double xd, double yd, double thetaD, double theta) noexcept {
        double sine = 0, cosine = 0;
        ::sincos(theta, &sine, &cosine);
        const double scale = sine / thetaD;
        return {xd * scale, yd * scale, cosine};
    }

    LumetraMath::vector<double, 3> undistortFisheye(double xd, double yd) const noexcept {
        const double thetaD = std::sqrt(xd * xd + yd * yd);
        if (thetaD == 0) return {0, 0, 1};
        double theta = thetaD, step = 0, inverseSlope = 1;
        for (int i = 0; i < maxIterations && (i < fixedSteps || !(std::abs(step) < 1e-8 * (1 + theta))); ++i)
            fisheyeStep(thetaD, theta, step, inverseSlope);
        if (!fisheyeSettled(theta, step, inverseSlope)) return {nan, nan, nan};
        return fisheyeRay(xd, yd, thetaD, theta);
    }

    CameraModel model_;
    CameraIntrinsics intrinsics_;
    std::array<double, 5> distortion_;
    std::array<float, 5> distortionF_{};  ///< the same for the single-precision steps
    Pose mount_;
    LumetraMath::matrix<double, 3, 3> rotation_{};
};

}  // namespace Lumetra::Host
