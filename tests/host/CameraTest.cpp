// The camera models against OpenCV's undistortPoints and fisheye::undistortPoints over the whole
// image, projection and unprojection as inverses (also beyond 180 degrees, where OpenCV's fisheye
// stops), and the mounts that turn a z-forward camera towards a floor or a ceiling.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "LumetraVeskEnvironmentHorizontalGridCamera.h"

namespace {

using Lumetra::Host::Camera;
using Lumetra::Host::Pixel;
using Vector3d = LumetraMath::vector<double, 3>;

constexpr int width = 640, height = 480;

/// Every 8th pixel of the image and its last row and column: edges and corners included.
std::vector<Pixel> wholeImage() {
    std::vector<Pixel> pixels;
    for (int v = 0; v <= height + 7; v += 8)
        for (int u = 0; u <= width + 7; u += 8) pixels.push_back({std::min(u, width - 1) * 1.0, std::min(v, height - 1) * 1.0});
    return pixels;
}

double angle(const Vector3d& a, const Vector3d& b) {
    return 2 * std::asin(std::min(1.0, LumetraMath::length(a - b) / 2));
}

/// OpenCV's normalised point (x, y) as a unit ray; `towards` is the pixel's offset from the principal
/// point: a fisheye ray beyond 90 degrees comes back mirrored (tan theta < 0), and is turned back.
Vector3d rayOf(const cv::Point2d& point, const cv::Point2d& towards) {
    Vector3d ray{point.x, point.y, 1.0};
    ray = ray / LumetraMath::length(ray);
    return point.dot(towards) < 0 ? -ray : ray;
}

cv::Matx33d cameraMatrix(const Lumetra::Host::CameraIntrinsics& k) { return {k.fx, 0, k.cx, 0, k.fy, k.cy, 0, 0, 1}; }

/// The largest angle between the camera's rays and OpenCV's over the whole image, and the largest
/// pixel error of projecting each ray back.
struct Agreement {
    double radians = 0, pixels = 0;
};

Agreement compare(const Camera& camera) {
    const std::vector<Pixel> pixels = wholeImage();
    std::vector<cv::Point2d> distorted, undistorted;
    for (const Pixel& p : pixels) distorted.emplace_back(p.x, p.y);
    const auto& k = camera.intrinsics();
    const auto& d = camera.distortion();
    const cv::TermCriteria tight(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 1000, 1e-14);
    if (camera.model() == Lumetra::Host::CameraModel::pinhole)
        cv::undistortPoints(distorted, undistorted, cameraMatrix(k), std::vector<double>(d.begin(), d.end()),
                            cv::noArray(), cv::noArray(), tight);
    else
        cv::fisheye::undistortPoints(distorted, undistorted, cameraMatrix(k), std::vector<double>(d.begin(), d.begin() + 4),
                                     cv::noArray(), cv::noArray(), tight);
    const std::vector<Lumetra::Host::Vector3> batch = camera.rays(pixels);  // several pixels at a time
    Agreement worst;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const Vector3d ray = camera.cameraRay(pixels[i]);
        worst.radians = std::max(worst.radians, angle(ray, LumetraMath::vectorCast<double>(batch[i])));
        const cv::Point2d offset(pixels[i].x - k.cx, pixels[i].y - k.cy);
        worst.radians = std::max(worst.radians, angle(ray, rayOf(undistorted[i], offset)));
        const auto back = camera.project(ray);
        EXPECT_TRUE(back.has_value());
        if (back) worst.pixels = std::max(worst.pixels, std::hypot(back->x - pixels[i].x, back->y - pixels[i].y));
    }
    return worst;
}

TEST(CameraTest, AgreesWithOpenCvOverTheWholeImage) {
    // A wide pinhole lens with strong barrel distortion and some tangential distortion.
    const Camera pinhole = Camera::pinhole({420, 425, 319.3, 241.2}, {-0.30, 0.11, 0.0012, -0.0007, -0.018});
    // A fisheye whose image corners lie just beyond 90 degrees from the axis (a 180 degree
    // diagonal): as wide as OpenCV's fisheye::undistortPoints goes (it clips theta_d at pi/2).
    const Camera fisheye = Camera::fisheye({256.0, 255.6, 320.4, 239.6}, {-0.004, 0.0006, -0.0001, 0.00001});
    for (const Camera* camera : {&pinhole, &fisheye}) {
        const Agreement agreement = compare(*camera);
        EXPECT_LT(agreement.radians, 1e-6);
        EXPECT_LT(agreement.pixels, 1e-6);
    }
    const Vector3d corner = fisheye.cameraRay({0, 0});
    EXPECT_GT(std::acos(corner.z), 1.5707963);
}

/// The block path (single-precision steps, then a correction) gives each pixel's own ray, and NaN
/// exactly where the pixel alone gives NaN.
void expectBlocksAgreeWithSinglePixels(const Camera& camera) {
    const std::vector<Pixel> pixels = wholeImage();
    const std::vector<Lumetra::Host::Vector3> batch = camera.rays(pixels);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const Lumetra::Host::Vector3 single = camera.ray(pixels[i]);
        ASSERT_EQ(std::isnan(single.x), std::isnan(batch[i].x)) << pixels[i].x << ", " << pixels[i].y;
        if (!std::isnan(single.x)) {
            EXPECT_LT(angle(LumetraMath::vectorCast<double>(single), LumetraMath::vectorCast<double>(batch[i])), 1e-6);
        }
    }
}

TEST(CameraTest, FisheyeBeyond180DegreesAndPixelsNoRaySeesGiveNaN) {
    // A 220 degree lens: its corners look 110 degrees away from the axis, behind the camera's plane.
    const Camera fisheye = Camera::fisheye({205, 205, 320, 240}, {0.01, -0.002, 0.0004, -0.00003});
    for (const Pixel& pixel : wholeImage()) {
        const auto back = fisheye.project(fisheye.cameraRay(pixel));
        ASSERT_TRUE(back);
        EXPECT_LT(std::hypot(back->x - pixel.x, back->y - pixel.y), 1e-6);
    }
    EXPECT_LT(fisheye.cameraRay({0, 0}).z, -0.3);
    // Barrel distortion folds back beyond some radius: pixels out there belong to no ray.
    const Camera folding = Camera::pinhole({100, 100, 0, 0}, {-0.5, 0, 0, 0, 0});
    EXPECT_TRUE(std::isnan(folding.cameraRay({90, 0}).x));
    EXPECT_FALSE(folding.project(Vector3d{0, 0, -1}));
    expectBlocksAgreeWithSinglePixels(fisheye);
    expectBlocksAgreeWithSinglePixels(folding);
}

TEST(CameraTest, MountsTurnTheOpticalAxisTowardsTheFloorOrTheCeiling) {
    using Lumetra::Host::cameraLookingDown;
    using Lumetra::Host::cameraLookingUp;
    const Lumetra::Host::CameraIntrinsics k{300, 300, 320, 240};
    const Camera down = Camera::pinhole(k, {}, {{0.05f, 0, 0}, cameraLookingDown});
    const Camera up = Camera::fisheye(k, {}, {{0, 0, 0}, cameraLookingUp});
    const auto near = [](const Lumetra::Host::Vector3& a, Vector3d b) {
        EXPECT_LT(LumetraMath::length(LumetraMath::vectorCast<double>(a) - b), 1e-6);
    };
    near(down.ray({320, 240}), {0, -1, 0});  // the principal point: straight down
    near(down.ray({620, 240}), Vector3d{1, -1, 0} / std::sqrt(2.0));  // right of the image: tracker +x
    near(down.ray({320, 540}), Vector3d{0, -1, 1} / std::sqrt(2.0));  // down the image: tracker +z
    near(up.ray({320, 240}), {0, 1, 0});
    const auto seen = up.project(Vector3d{0.3, 1, -0.2});
    ASSERT_TRUE(seen);
    near(up.ray(*seen), Vector3d{0.3, 1, -0.2} / std::sqrt(1.13));
}

}  // namespace
