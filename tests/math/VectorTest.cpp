#include <gtest/gtest.h>

#include "math/Pose.h"
#include "math/Rectangle.h"

using namespace LumetraMath;

TEST(Quaternion, AxisNeedNotBeUnit) {
    const auto a = quaternionFromAxisAngle(vector<float, 3>{0, 2, 0}, 0.7f);
    const auto b = quaternionFromAxisAngle(vector<float, 3>{0, 1, 0}, 0.7f);
    EXPECT_EQ(a, b);
}

TEST(Quaternion, QuarterTurnAboutYTakesXToMinusZ) {
    const auto q = quaternionFromAxisAngle(vector<float, 3>{0, 1, 0}, 1.5707964f);
    const auto v = mul(q, vector<float, 3>{1, 0, 0});
    EXPECT_NEAR(v.x, 0, 1e-6);
    EXPECT_NEAR(v.y, 0, 1e-6);
    EXPECT_NEAR(v.z, -1, 1e-6);
}

TEST(Quaternion, RotationFollowsRightHandRuleOnEveryAxis) {
    const float quarter = 1.5707964f;
    const auto z = mul(quaternionFromAxisAngle(vector<float, 3>{0, 0, 1}, quarter), vector<float, 3>{1, 0, 0});
    const auto x = mul(quaternionFromAxisAngle(vector<float, 3>{1, 0, 0}, quarter), vector<float, 3>{0, 1, 0});
    EXPECT_NEAR(z.y, 1, 1e-6);
    EXPECT_NEAR(x.z, 1, 1e-6);
}

TEST(Quaternion, IdentityLeavesVectorsAndProductsUnchanged) {
    const quaternion<float> id = quaternion<float>::identity();
    const vector<float, 3> v{0.3f, -2.f, 7.f};
    EXPECT_EQ(mul(id, v), v);
    const auto q = quaternionFromAxisAngle(vector<float, 3>{1, 2, 3}, 0.4f);
    EXPECT_EQ(id * q, q);
    EXPECT_EQ(q * id, q);
}

TEST(Quaternion, ProductRotatesByRightOperandFirstAndMatrixAgrees) {
    const auto a = quaternionFromAxisAngle(vector<float, 3>{0, 1, 0}, 0.9f);
    const auto b = quaternionFromAxisAngle(vector<float, 3>{1, 0, 0}, -0.4f);
    const vector<float, 3> v{0.2f, 0.5f, -1.f};
    const auto composed = mul(a * b, v);
    const auto stepwise = mul(a, mul(b, v));
    const auto byMatrix = toRotationMatrix(a * b) * v;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(composed[i], stepwise[i], 1e-6);
        EXPECT_NEAR(byMatrix[i], stepwise[i], 1e-6);
    }
}

TEST(Layout, BoundaryTypesHaveTheirWireSizes) {
    EXPECT_EQ(sizeof(vector<float, 3>), 12u);
    EXPECT_EQ(sizeof(poseP3Q<float>), 28u);
    EXPECT_EQ(sizeof(Rectangle), 16u);
    EXPECT_EQ(sizeof(vector<unsigned long, 3>), 24u);
}
