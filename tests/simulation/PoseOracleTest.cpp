// The oracle of the accuracy tables against OpenCV's solvePnP on the same frames (rays in front of
// a pinhole camera), and its covariance against the spread of its own errors.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "simulation/PoseOracle.h"

namespace {

using namespace Lumetra::Testing;
using Quaternion = LumetraMath::quaternion<double>;

constexpr double degree = 3.14159265358979323846 / 180.0;

struct Scene {
    std::vector<Point3> markers;
    TrackerPose truth;
    Frame frame;
    std::vector<Point3d> rays, targets;
};

/// Markers strewn over a floor, 8 a square metre, seen from 1.2-2.0 m through a 50 deg camera
/// tilted up to 15 deg.
Scene scene(std::mt19937_64& rng, double noise) {
    static const auto markers = [] {
        std::mt19937_64 floorRng(3);
        std::uniform_real_distribution<float> across(-4, 4);
        std::vector<Point3> strewn(512);
        for (Point3& marker : strewn) marker = {across(floorRng), 0, across(floorRng)};
        return strewn;
    }();
    Scene s{markers, {}, {}, {}, {}};
    const PoseRange range{.halfWidth = 2, .halfDepth = 2, .minDistance = 1.2, .maxDistance = 2.0, .maxTilt = 15 * degree};
    for (;;) {
        s.truth = randomTrackerPose(range, 0.0, false, rng);
        s.frame = generateFrame(markers, s.truth,
                                {.fieldOfViewHalfAngle = 25 * degree, .angularNoise = noise, .seed = rng()});
        if (s.frame.rays.size() >= 12) break;
    }
    for (std::size_t i = 0; i < s.frame.rays.size(); ++i) {
        s.rays.push_back(LumetraMath::vectorCast<double>(s.frame.rays[i]));
        s.targets.push_back(LumetraMath::vectorCast<double>(markers[s.frame.markerNumbers[i]]));
    }
    return s;
}

struct PnpPose {
    Point3d position;
    Quaternion rotation;
};

Quaternion fromMatrix(const cv::Matx33d& m) {
    const double w = 0.5 * std::sqrt(std::max(0.0, 1 + m(0, 0) + m(1, 1) + m(2, 2)));
    const double x = std::copysign(0.5 * std::sqrt(std::max(0.0, 1 + m(0, 0) - m(1, 1) - m(2, 2))), m(2, 1) - m(1, 2));
    const double y = std::copysign(0.5 * std::sqrt(std::max(0.0, 1 - m(0, 0) + m(1, 1) - m(2, 2))), m(0, 2) - m(2, 0));
    const double z = std::copysign(0.5 * std::sqrt(std::max(0.0, 1 - m(0, 0) - m(1, 1) + m(2, 2))), m(1, 0) - m(0, 1));
    return {x, y, z, w};
}

cv::Matx33d toMatrix(const Quaternion& q) {
    const Point3d c0 = LumetraMath::mul(q, Point3d{1, 0, 0}), c1 = LumetraMath::mul(q, Point3d{0, 1, 0}),
                  c2 = LumetraMath::mul(q, Point3d{0, 0, 1});
    return {c0.x, c1.x, c2.x, c0.y, c1.y, c2.y, c0.z, c1.z, c2.z};
}

/// solvePnP from the truth with the rays as pixels of a camera looking along the tracker's -y:
/// camera (x, y, z) = tracker (x, z, -y), focal length 1000, no distortion.
PnpPose solvePnp(const Scene& s) {
    const cv::Matx33d cameraFromTracker(1, 0, 0, 0, 0, 1, 0, -1, 0);
    std::vector<cv::Point3d> objects;
    std::vector<cv::Point2d> pixels;
    for (std::size_t i = 0; i < s.rays.size(); ++i) {
        const cv::Vec3d c = cameraFromTracker * cv::Vec3d(s.rays[i].x, s.rays[i].y, s.rays[i].z);
        if (c[2] <= 0.1) continue;
        pixels.emplace_back(1000 * c[0] / c[2], 1000 * c[1] / c[2]);
        objects.emplace_back(s.targets[i].x, s.targets[i].y, s.targets[i].z);
    }
    const cv::Matx33d worldFromTracker = toMatrix(s.truth.rotation());
    const cv::Matx33d cameraFromWorld = cameraFromTracker * worldFromTracker.t();
    cv::Vec3d rvec, tvec = -(cameraFromWorld * cv::Vec3d(s.truth.position.x, s.truth.position.y, s.truth.position.z));
    cv::Rodrigues(cameraFromWorld, rvec);
    const cv::Matx33d k(1000, 0, 0, 0, 1000, 0, 0, 0, 1);
    EXPECT_TRUE(cv::solvePnP(objects, pixels, k, cv::noArray(), rvec, tvec, true, cv::SOLVEPNP_ITERATIVE));
    cv::Matx33d fitted;
    cv::Rodrigues(rvec, fitted);
    const cv::Vec3d position = -(fitted.t() * tvec);
    return {{position[0], position[1], position[2]}, fromMatrix(fitted.t() * cameraFromTracker)};
}

double positionSigma(const OracleFit& fit) {
    return std::sqrt(fit.covariance[0][0] + fit.covariance[1][1] + fit.covariance[2][2]);
}

TEST(PoseOracle, AgreesWithSolvePnpAndItsCovarianceWithItsErrors) {
    std::mt19937_64 rng(11);
    // Exact rays: both give the truth.
    for (int i = 0; i < 5; ++i) {
        const Scene s = scene(rng, 0.0);
        const OracleFit fit = fitOraclePose(s.rays, s.targets, s.truth.position + Point3d{0.2, -0.1, 0.15},
                                            LumetraMath::quaternionFromAxisAngle(Point3d{0, 0, 1}, 0.1) * s.truth.rotation(), 0.0);
        ASSERT_TRUE(fit.converged);
        EXPECT_LT(LumetraMath::length(fit.position - s.truth.position), 1e-6);
        EXPECT_LT(rotationAngleBetween(fit.rotation, s.truth.rotation()), 1e-6);
        const PnpPose pnp = solvePnp(s);
        EXPECT_LT(LumetraMath::length(pnp.position - s.truth.position), 1e-6);
        EXPECT_LT(rotationAngleBetween(pnp.rotation, s.truth.rotation()), 1e-6);
    }
    // Noisy rays: the two least-squares poses differ by much less than either's error, and the
    // errors of 300 frames match the covariance (NEES 6 on average).
    const double noise = 0.05 * degree;
    double neesSum = 0;
    const int frames = 300;
    for (int i = 0; i < frames; ++i) {
        const Scene s = scene(rng, noise);
        const OracleFit fit = fitOraclePose(s.rays, s.targets, s.truth.position, s.truth.rotation(), noise);
        ASSERT_TRUE(fit.converged);
        const auto nees = normalisedError(fit.covariance, poseError(fit.position, fit.rotation, s.truth.position,
                                                                    s.truth.rotation()));
        ASSERT_TRUE(nees);
        neesSum += *nees;
        if (i < 20) {
            const PnpPose pnp = solvePnp(s);
            EXPECT_LT(LumetraMath::length(pnp.position - fit.position), 0.3 * positionSigma(fit));
        }
    }
    EXPECT_NEAR(neesSum / frames, 6.0, 0.9);
}

}  // namespace
