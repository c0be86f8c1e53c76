#include <gtest/gtest.h>

#include <cstdio>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "matching/PoseRefinement.h"

using namespace Lumetra::Vesk::Environment::HorizontalGrid;
using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;

namespace {

/// A tracker 1 to 2 units below a ceiling of markers, tilted up to about 15 degrees.
struct Scene {
    std::vector<Vector3> markers;
    std::vector<Vector3> rays;
    Pose truth;
};

Vector3 gaussianTurn(const Vector3& ray, float sigma, std::mt19937& random) {
    std::normal_distribution<float> noise(0.0f, sigma);
    const Vector3 turned = ray + Vector3{noise(random), noise(random), noise(random)};
    return turned / LumetraMath::length(turned);
}

Scene scene(std::mt19937& random, std::size_t count, float noise = 0.0f, bool onOneLine = false) {
    std::uniform_real_distribution<float> spread(-1.5f, 1.5f), tilt(-0.13f, 0.13f);
    Scene s;
    s.truth.position = {spread(random) * 0.2f, 0.5f, spread(random) * 0.2f};
    s.truth.rotation = LumetraMath::quaternionFromAxisAngle(Vector3{tilt(random), 1.0f, tilt(random)}, spread(random));
    for (std::size_t i = 0; i < count; ++i) {
        const Vector3 marker{spread(random), 2.5f, onOneLine ? 0.3f : spread(random)};
        s.markers.push_back(marker);
        const Vector3 toMarker = marker - s.truth.position;
        const Vector3 ray = LumetraMath::mul(LumetraMath::conjugate(s.truth.rotation), toMarker / LumetraMath::length(toMarker));
        s.rays.push_back(noise > 0 ? gaussianTurn(ray, noise, random) : ray);
    }
    return s;
}

Pose perturbed(const Pose& pose, std::mt19937& random, float positionError, float angleError) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    Pose p = pose;
    p.position += Vector3{unit(random), unit(random), unit(random)} * positionError;
    p.rotation = LumetraMath::quaternionFromAxisAngle(Vector3{unit(random), unit(random), unit(random)}, angleError) *
                 p.rotation;
    return p;
}

double rotationAngle(const LumetraMath::quaternion<float>& a, const LumetraMath::quaternion<float>& b) {
    const auto d = a * LumetraMath::conjugate(b);
    return 2 * std::hypot(double{d.x}, double{d.y}, double{d.z});
}

}  // namespace

TEST(PoseRefinement, RecoversPerturbedPosesFromExactRays) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        const Scene s = scene(random, 4 + trial % 21);  // three rays may fit other poses exactly
        const auto refined = refinePose(s.rays, s.markers, perturbed(s.truth, random, 0.1f, 0.1f));
        ASSERT_TRUE(refined) << trial;
        EXPECT_LT(LumetraMath::length(refined->pose.position - s.truth.position), 5e-6f) << trial;
        EXPECT_LT(rotationAngle(refined->pose.rotation, s.truth.rotation), 2e-6) << trial;
        EXPECT_LT(refined->maxAngle, 2e-6) << trial;
        EXPECT_LE(refined->iterations, 10u);
    }
}

TEST(PoseRefinement, CovarianceMatchesTheScatterOfNoisyFits) {
    // Many noisy views of one scene: the spread of the fitted positions and yaw must agree with
    // the covariance the refinement reports, within sampling error.
    std::mt19937 random(11);
    const float sigma = 0.001f;  // about 0.06 degrees per ray
    const Scene exact = scene(random, 24);
    double sum[6] = {}, reported[6] = {};
    const int trials = 400;
    for (int trial = 0; trial < trials; ++trial) {
        Scene s = exact;
        for (Vector3& ray : s.rays) ray = gaussianTurn(ray, sigma, random);
        const auto refined = refinePose(s.rays, s.markers, s.truth);
        ASSERT_TRUE(refined);
        const Vector3 dp = refined->pose.position - s.truth.position;
        const auto dq = refined->pose.rotation * LumetraMath::conjugate(s.truth.rotation);
        const double sign = dq.w < 0 ? -2.0 : 2.0;
        const double d[6] = {dp.x, dp.y, dp.z, sign * dq.x, sign * dq.y, sign * dq.z};
        for (std::size_t i = 0; i < 6; ++i) {
            sum[i] += d[i] * d[i];
            reported[i] += refined->covariance[upperTriangleIndex(i, i)];
        }
        EXPECT_NEAR(refined->rmsAngle, sigma * std::sqrt(2.0), sigma);
    }
    for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(sum[i] / reported[i], 1.0, 0.25) << i;
}

TEST(PoseRefinement, FarStartsEndAtAStationaryPoseOrNowhere) {
    // From starts metres and radians off, a pose reported must be one a further Gauss-Newton step
    // leaves where it is; the exact fit from a near start must still be found.
    std::mt19937 random(17);
    int found = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const Scene s = scene(random, 4 + trial % 12, 0.001f);
        const Pose start = perturbed(s.truth, random, static_cast<float>(1 + trial % 3), 0.6f);
        const auto refined = refinePose(s.rays, s.markers, start);
        if (!refined) continue;
        ++found;
        const auto stepped = poseAfterSteps(s.rays, s.markers, refined->pose, 1);
        ASSERT_TRUE(stepped) << trial;
        EXPECT_LT(LumetraMath::length(stepped->position - refined->pose.position), 1e-3f) << trial;
        EXPECT_LT(rotationAngle(stepped->rotation, refined->pose.rotation), 1e-3) << trial;
    }
    EXPECT_GT(found, 100) << found;
}

namespace {

struct NeesTally {
    double mean = 0, aboveChiSquared95 = 0;  // the share above the chi-squared(6) 95 % point
    int count = 0;
};

/// NEES of 1000 fits of `firstRays` .. `firstRays` + 3 rays turned by Gaussian noise of `noise`.
NeesTally neesOfFits(std::mt19937& random, double noise, std::size_t firstRays) {
    NeesTally tally;
    for (int trial = 0; trial < 1000; ++trial) {
        const Scene exact = scene(random, firstRays + static_cast<std::size_t>(trial % 4));
        Scene s = exact;
        for (Vector3& ray : s.rays) ray = gaussianTurn(ray, static_cast<float>(noise), random);
        const auto refined = refinePose(s.rays, s.markers, s.truth);
        if (!refined) continue;
        const Vector3 dp = refined->pose.position - s.truth.position;
        const auto dq = refined->pose.rotation * LumetraMath::conjugate(s.truth.rotation);
        const double sign = dq.w < 0 ? -2.0 : 2.0;
        const double e[6] = {dp.x, dp.y, dp.z, sign * dq.x, sign * dq.y, sign * dq.z};
        // e^T C^-1 e by Gauss-Jordan on the full matrix.
        double a[6][7];
        for (std::size_t r = 0; r < 6; ++r) {
            for (std::size_t c = 0; c < 6; ++c) a[r][c] = refined->covariance[upperTriangleIndex(r, c)];
            a[r][6] = e[r];
        }
        for (std::size_t p = 0; p < 6; ++p)
            for (std::size_t r = 0; r < 6; ++r)
                if (r != p)
                    for (std::size_t c = 7; c-- > p;) a[r][c] -= a[r][p] / a[p][p] * a[p][c];
        double value = 0;
        for (std::size_t r = 0; r < 6; ++r) value += e[r] * a[r][6] / a[r][r];
        tally.mean += value;
        tally.aboveChiSquared95 += value > 12.59;
        ++tally.count;
    }
    tally.mean /= tally.count;
    tally.aboveChiSquared95 /= tally.count;
    return tally;
}

}  // namespace

TEST(PoseRefinement, CovarianceRestsOnTheNoisePriorForFewRaysAndOnTheFitsSpreadForANoisierCamera) {
    // Three rays fit exactly: the residuals say nothing of the noise, the prior does. A camera
    // twice as noisy as the prior must not be reported as precise as the prior on a few rays more.
    // 6 is honest; the variance being estimated, the tail is that of a Student t law, scaled so
    // that the chi-squared 95 % point is passed not much more often than one time in twenty.
    std::mt19937 random(19);
    for (const auto& [noise, firstRays] : {std::pair{rayNoisePrior, std::size_t{3}}, {2 * rayNoisePrior, 6}}) {
        const NeesTally nees = neesOfFits(random, noise, firstRays);
        ASSERT_GT(nees.count, 800) << noise;
        EXPECT_GT(nees.mean, 4.2) << noise;
        EXPECT_LT(nees.mean, 7.0) << noise;
        EXPECT_LT(nees.aboveChiSquared95, 0.1) << noise;
        std::printf("noise %.4f from %zu rays: NEES mean %.2f, above the 95 %% point %.1f %%\n", noise, firstRays,
                    nees.mean, 100.0 * nees.aboveChiSquared95);
    }
}

TEST(PoseRefinement, RefusesWhatCannotFixAPose) {
    std::mt19937 random(3);
    const Scene good = scene(random, 6);
    const Scene line = scene(random, 8, 0.0f, true);
    EXPECT_FALSE(refinePose(line.rays, line.markers, line.truth)) << "markers on one line";
    EXPECT_FALSE(refinePose(std::span(good.rays).first(2), std::span(good.markers).first(2), good.truth));
    EXPECT_FALSE(refinePose(good.rays, std::span(good.markers).first(5), good.truth)) << "counts differ";

    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const float bad : {nan, inf}) {
        Scene s = good;
        s.rays[2].y = bad;
        EXPECT_FALSE(refinePose(s.rays, s.markers, s.truth));
        s = good;
        s.markers[4].x = bad;
        EXPECT_FALSE(refinePose(s.rays, s.markers, s.truth));
        Pose start = good.truth;
        start.rotation.w = bad;
        EXPECT_FALSE(refinePose(good.rays, good.markers, start));
    }
    Scene flipped = good;  // every ray turned away from its marker: nothing to converge to in front
    for (Vector3& ray : flipped.rays) ray = -ray;
    EXPECT_FALSE(refinePose(flipped.rays, flipped.markers, good.truth));
}

TEST(PoseRefinement, FusedChecksAndSingleStepAgreeWithTheSeparateSteps) {
    std::mt19937 random(13);
    for (int trial = 0; trial < 50; ++trial) {
        Scene s = scene(random, 6 + trial % 19, 0.001f);
        const Pose start = perturbed(s.truth, random, 0.02f, 0.02f);
        const auto stepped = poseAfterSteps(s.rays, s.markers, start, 1);
        const auto best = refinePose(s.rays, s.markers, start);
        ASSERT_TRUE(stepped && best) << trial;
        EXPECT_LT(rotationAngle(stepped->rotation, best->pose.rotation), 0.1 * rotationAngle(start.rotation, best->pose.rotation))
            << trial;

        s.markers[trial % 6].x += 0.2f;  // one wrong correspondence the others should point out
        std::vector<LeaveOneOut> checks(s.rays.size());
        const auto checked = refinePoseAndCheckRays(s.rays, s.markers, start, checks);
        const auto refined = refinePose(s.rays, s.markers, start);
        ASSERT_TRUE(checked && refined) << trial;
        EXPECT_EQ(checked->pose.position, refined->pose.position) << trial;
        std::size_t worst = 0;
        for (std::size_t i = 0; i < checks.size(); ++i) {
            const LeaveOneOut separate = leaveOneOut(*refined, s.rays[i], s.markers[i]);
            EXPECT_NEAR(checks[i].planeMiss, separate.planeMiss, 1e-5 + 1e-4 * separate.planeMiss) << trial;
            EXPECT_NEAR(checks[i].squaredNorm, separate.squaredNorm, 1e-9 + 1e-3 * separate.squaredNorm) << trial;
            if (checks[i].squaredNorm > checks[worst].squaredNorm) worst = i;
        }
        EXPECT_EQ(worst, static_cast<std::size_t>(trial % 6)) << trial;
    }
    const Scene line = scene(random, 8, 0.0f, true);
    EXPECT_FALSE(poseAfterSteps(line.rays, line.markers, line.truth, 2)) << "markers on one line";
    std::vector<LeaveOneOut> checks(line.rays.size());
    EXPECT_FALSE(refinePoseAndCheckRays(line.rays, line.markers, line.truth, checks));
}
