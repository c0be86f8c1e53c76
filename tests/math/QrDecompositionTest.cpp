#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "math/QrDecomposition.h"

using namespace LumetraMath;
using Matrix2 = matrix<float, 2, 2>;

TEST(QrDecomposition, SwapMatrixReflectsAboutTheDiagonal) {
    Matrix2 q, r;
    qrDecompose(Matrix2{{0, 1, 1, 0}}, q, r);
    // v = (1, 1): H = ((0, -1), (-1, 0)) and r00 = -1, up to the rounding of 1 / sqrt 2.
    const Matrix2 expectedQ{{0, -1, -1, 0}}, expectedR{{-1, 0, 0, -1}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(q.m[i], expectedQ.m[i], 1e-7);
        EXPECT_NEAR(r.m[i], expectedR.m[i], 1e-7);
    }
}

TEST(QrDecomposition, RandomMatricesFactorIntoOrthogonalTimesTriangular) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> entry(-2.f, 2.f);
    for (int trial = 0; trial < 500; ++trial) {
        const Matrix2 a{{entry(random), entry(random), entry(random), entry(random)}};
        Matrix2 q, r;
        qrDecompose(a, q, r);
        const Matrix2 product = q * r;
        for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(product.m[i], a.m[i], 1e-5) << "trial " << trial;
        EXPECT_NEAR(r(1, 0), 0.f, 2e-5);
        const Matrix2 qtq = transpose(q) * q;
        for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(qtq.m[i], Matrix2::identity().m[i], 1e-6);
        const float norm = std::hypot(a(0, 0), a(1, 0));
        EXPECT_NEAR(r(0, 0), a(0, 0) > 0 ? norm : -norm, 1e-5) << "trial " << trial;
    }
}

TEST(QrDecomposition, AlreadyTriangularInputIsKept) {
    // A first column (a, 0) needs no reflection whatever the sign of a: r(0, 0) = a.
    for (const Matrix2& a : {Matrix2{{3, -1, 0, 2}}, Matrix2{{-3, 1, 0, 2}}, Matrix2{}}) {
        Matrix2 q, r;
        qrDecompose(a, q, r);
        EXPECT_EQ(q, Matrix2::identity());
        EXPECT_EQ(r, a);
    }
}
