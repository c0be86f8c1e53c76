#include <gtest/gtest.h>

#include <random>

#include "math/CholeskySolve.h"

using namespace LumetraMath;
using Matrix3 = matrix<float, 3, 3>;
using Vector3 = vector<float, 3>;

TEST(CholeskySolve, IdentityFactorReturnsTheRightHandSide) {
    const Vector3 b{0.5f, -3.f, 1e-20f};
    EXPECT_EQ(choleskySolve(Matrix3::identity(), b), b);
}

TEST(CholeskySolve, IgnoresTheUpperTriangle) {
    const Matrix3 lower{{2, 0, 0, 1, 3, 0, -1, 2, 4}};
    Matrix3 cluttered = lower;
    cluttered(0, 1) = 7;
    cluttered(0, 2) = -9;
    cluttered(1, 2) = 100;
    const Vector3 b{1, 2, 3};
    EXPECT_EQ(choleskySolve(cluttered, b), choleskySolve(lower, b));
}

TEST(CholeskySolve, FactorAndSolveRoundTripOnRandomPositiveDefiniteSystems) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> entry(-1.f, 1.f);
    for (int trial = 0; trial < 200; ++trial) {
        Matrix3 g;
        for (float& v : g.m) v = entry(random);
        Matrix3 a = g * transpose(g);
        for (std::size_t i = 0; i < 3; ++i) a(i, i) += 0.5f;
        const Vector3 x{entry(random), entry(random), entry(random)};
        const Vector3 b = a * x;

        const Matrix3 l = choleskyFactorize(a);
        EXPECT_EQ(l(0, 1), 0.f);
        EXPECT_EQ(l(0, 2), 0.f);
        EXPECT_EQ(l(1, 2), 0.f);
        const Matrix3 product = l * transpose(l);
        for (std::size_t i = 0; i < 9; ++i) EXPECT_NEAR(product.m[i], a.m[i], 1e-5);

        const Vector3 solved = choleskySolve(l, b);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(solved[i], x[i], 1e-4) << "trial " << trial;
    }
}

TEST(CholeskySolve, PivotBelowTheLimitGivesZeroInsteadOfInfinities) {
    const Vector3 b{1, 2, 3};
    for (std::size_t pivot = 0; pivot < 3; ++pivot) {
        Matrix3 l = Matrix3::identity();
        l(pivot, pivot) = 9e-31f;
        EXPECT_EQ(choleskySolve(l, b), (Vector3{0, 0, 0})) << pivot;
        l(pivot, pivot) = -9e-31f;
        EXPECT_EQ(choleskySolve(l, b), (Vector3{0, 0, 0})) << pivot;
    }
    // A pivot exactly at the limit is still used.
    Matrix3 l = Matrix3::identity();
    l(2, 2) = 1e-30f;
    EXPECT_GT(choleskySolve(l, b).z, 1e30f);
}

TEST(CholeskyFactorize, StopsAtASingularPivotLeavingTheRestZero) {
    const Matrix3 singular{{4, 2, 1, 2, 1, 3, 1, 3, 5}};  // second radicand 1 - 1 = 0
    const Matrix3 l = choleskyFactorize(singular);
    EXPECT_EQ(l(0, 0), 2.f);
    EXPECT_EQ(l(1, 0), 1.f);
    EXPECT_EQ(l(1, 1), 0.f);
    EXPECT_EQ(l(2, 0), 0.f);
    EXPECT_EQ(l(2, 1), 0.f);
    EXPECT_EQ(l(2, 2), 0.f);
    EXPECT_EQ(choleskySolve(l, Vector3{1, 1, 1}), (Vector3{0, 0, 0}));
}
