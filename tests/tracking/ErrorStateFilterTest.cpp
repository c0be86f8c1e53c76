// The tracker's error-state filter: the ray residual's Jacobian and the inertial error dynamics
// against numeric differences, and a resting tracker whose filter learns its gyro bias and stays put.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tracking/Propagation.h"
#include "tracking/RayFusion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using ErrorBlock::size;

FilterState samplePose() {
    FilterState state;
    state.position = {0.3, 1.7, -0.4};
    state.velocity = {0.8, -0.1, 0.5};
    state.rotation = normalized({0.2, -0.5, 0.1, 0.9});
    state.rate = {0.01, -0.02, 0.005};
    state.accelBias = {0.05, 0.02, -0.03};
    return state;
}

TEST(ErrorStateFilter, RayJacobianMatchesNumericDifferences) {
    const FilterState state = samplePose();
    const CameraMount camera{{0.06, 0.01, -0.02}, normalized({0.1, 0.0, 0.17, 0.98})};
    const Vector3d marker{1.1, 0.0, 0.6};
    // The ray roughly towards the marker, in the camera's frame.
    const Vector3d world = marker - (state.position + LumetraMath::mul(state.rotation, camera.centre));
    const Vector3d inCamera = LumetraMath::mul(LumetraMath::conjugate(state.rotation * camera.rotation), world);
    const LumetraMath::vector<float, 3> cameraRay{static_cast<float>(inCamera.x + 0.05), static_cast<float>(inCamera.y),
                                                  static_cast<float>(inCamera.z - 0.03)};
    const TrackerRay ray = toTrackerRays(std::span(&cameraRay, 1), camera)[0];

    const auto residualAt = [&](const double (&delta)[6]) {
        const Vector3d p = state.position + Vector3d{delta[0], delta[1], delta[2]};
        const Quaterniond q = rotationFromVector({delta[3], delta[4], delta[5]}) * state.rotation;
        return rayResidual(p, LumetraMath::toRotationMatrix(q), ray, marker).value();
    };
    const double zero[6] = {};
    const RayResidual at = residualAt(zero);
    constexpr double step = 1e-6;
    for (std::size_t j = 0; j < 6; ++j) {
        double plus[6] = {}, minus[6] = {};
        plus[j] = step;
        minus[j] = -step;
        for (std::size_t k = 0; k < 2; ++k) {
            // The residual is -h, so its slope is minus the Jacobian of h.
            const double numeric = -(residualAt(plus).residual[k] - residualAt(minus).residual[k]) / (2 * step);
            EXPECT_NEAR(at.jacobian[k][j], numeric, 1e-6) << "component " << k << ", coordinate " << j;
        }
    }
}

TEST(ErrorStateFilter, InertialErrorDynamicsMatchTheNominalPropagation) {
    // A small error injected before a step grows, to first order, as the covariance's F says: compare
    // the propagated difference of two nominal states with F applied through the covariance of a
    // rank-one P = e e^T (P' = F e e^T F^T without noise).
    const ProcessNoise silent{.gravity = 9.80665};
    const Vector3d rate{0.7, -1.2, 0.4}, force{0.5, 9.6, -0.8};
    constexpr double dt = 0.01;
    std::mt19937_64 rng(3);
    std::normal_distribution<double> normal(0.0, 1e-5);
    double error[size];
    for (double& e : error) e = normal(rng);

    FilterState base = samplePose();
    FilterState perturbed = base;
    injectError(perturbed, error);
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < size; ++c) base.covariance(r, c) = error[r] * error[c];
    propagateInertial(base, dt, rate, force, silent);
    propagateInertial(perturbed, dt, rate, force, silent);

    double grown[size];
    const auto difference = [](const Vector3d& a, const Vector3d& b, double* out) {
        for (std::size_t i = 0; i < 3; ++i) out[i] = a[i] - b[i];
    };
    difference(perturbed.position, base.position, grown + ErrorBlock::position);
    difference(perturbed.velocity, base.velocity, grown + ErrorBlock::velocity);
    const Quaterniond turn = perturbed.rotation * LumetraMath::conjugate(base.rotation);
    for (std::size_t i = 0; i < 3; ++i) grown[ErrorBlock::rotation + i] = 2 * (i == 0 ? turn.x : i == 1 ? turn.y : turn.z);
    difference(perturbed.rate, base.rate, grown + ErrorBlock::rate);
    difference(perturbed.accelBias, base.accelBias, grown + ErrorBlock::accelBias);
    // F e e^T F^T is the outer product of F e with itself: its diagonal is (F e)^2 and its signs follow.
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < size; ++c)
            EXPECT_NEAR(base.covariance(r, c), grown[r] * grown[c], 1e-12 + 2e-3 * std::fabs(grown[r] * grown[c]))
                << r << ", " << c;
}

TEST(ErrorStateFilter, ARestingTrackerLearnsItsGyroBiasAndStaysPut) {
    const ProcessNoise noise{.gyro = 1.7e-4, .gyroBiasWalk = 1.9e-5, .accel = 2e-3, .accelBiasWalk = 3e-3,
                             .gravity = 9.80665};
    const double rayNoise = 8.7e-4;
    const Vector3d bias{0.004, -0.003, 0.002};
    // The truth: level at (0, 2, 0), twenty markers on the floor below.
    std::vector<Vector3d> markers;
    for (int i = 0; i < 20; ++i) markers.push_back({0.4 * (i % 5) - 0.8, 0.0, 0.5 * (i / 5) - 0.75});
    std::vector<LumetraMath::vector<float, 3>> cameraRays;
    for (const Vector3d& m : markers) {
        const Vector3d d = m - Vector3d{0, 2, 0};
        cameraRays.push_back({static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z)});
    }
    const std::vector<TrackerRay> rays = toTrackerRays(cameraRays, CameraMount{});
    std::vector<Correspondence> pairs;
    for (std::size_t i = 0; i < rays.size(); ++i) pairs.push_back({&rays[i], markers[i]});

    FilterState state;
    state.position = {0.02, 2.01, -0.01};
    state.rotation = normalized({0.01, 0.0, -0.01, 1.0});
    const double start[size] = {0.1, 0.1, 0.1, 1, 1, 1, 0.1, 0.1, 0.1, 0.02, 0.02, 0.02, 0.1, 0.1, 0.1};
    for (std::size_t i = 0; i < size; ++i) state.covariance(i, i) = start[i] * start[i];
    for (int frame = 0; frame < 240; ++frame) {
        for (int k = 0; k < 16; ++k) propagateInertial(state, 0.001, bias, {0, noise.gravity, 0}, noise);
        ASSERT_TRUE(fuseRays(state, pairs, rayNoise));
    }
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(state.rate[i], bias[i], 2e-4) << i;
        EXPECT_NEAR(state.velocity[i], 0.0, 2e-3) << i;
    }
    EXPECT_NEAR(LumetraMath::length(state.position - Vector3d{0, 2, 0}), 0.0, 1e-3);
    EXPECT_NEAR(std::fabs(state.rotation.w), 1.0, 1e-6);
}

}  // namespace
}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
