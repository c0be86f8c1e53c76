#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "environment/VeskEnvironment.h"
#include "interface/InterfacePtr.h"

using LumetraMath::vector;
using Lumetra::InterfaceContract::InterfacePtr;

namespace {

class BareEnvironment final : public VeskEnvironment {
public:
    using VeskEnvironment::VeskEnvironment;

    bool match(const std::vector<vector<float, 3>>&, std::vector<Lumetra::Vesk::Environment::MarkerIndex>&,
               LumetraMath::poseP3Q<float>&) const override {
        return false;
    }
    std::uint32_t getContoursCount() const override { return 0; }
    std::uint32_t getContourPointsCount(std::uint32_t) const override { return 0; }
    vector<float, 2> getContourPoint(std::uint32_t, std::uint32_t) const override { return {}; }
};

vector<float, 3> unit(vector<float, 3> v) { return v / LumetraMath::length(v); }

/// Rays from a tracker one unit above marker 0 of a bar of length 1 along x, middle at 0.25.
const std::vector<vector<float, 3>> rays{unit({0, -1, 0}), unit({0.25f, -1, 0}), unit({1, -1, 0})};
const vector<float, 3> expected{1.0f, std::sqrt(1.0625f), std::sqrt(2.0f)};

/// Within a few float roundings.
void expectNear(const vector<float, 3>& actual, const vector<float, 3>& wanted) {
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_NEAR(actual[k], wanted[k], 2e-6f * std::max(1.0f, std::fabs(wanted[k]))) << k;
}

}  // namespace

TEST(VeskEnvironmentDefaults, ImmutableAndRaysFacingAwayPass) {
    InterfacePtr<BareEnvironment> environment(new BareEnvironment(1.0f, 0.25f));
    EXPECT_FALSE(environment->isMutable());
    EXPECT_EQ(environment->getUpdateId(), 0u);
    EXPECT_TRUE(environment->filterRay({0, -1, 0}, {0, 1, 0}));
    EXPECT_FALSE(environment->filterRay({0, 1, 0}, {0, 1, 0}));
    EXPECT_FALSE(environment->filterRay({0, 0, 0}, {0, 1, 0}));
}

TEST(PatternRayLengths, DistancesFollowFromTheAnglesBetweenRays) {
    InterfacePtr<BareEnvironment> environment(new BareEnvironment(1.0f, 0.25f));
    const auto lengths = environment->findPatternRayLengths(rays, {{0}}, {{0, 1, 2}});
    ASSERT_EQ(lengths.size(), 1u);
    expectNear(lengths[0], expected);

    InterfacePtr<BareEnvironment> longer(new BareEnvironment(3.0f, 0.25f));
    const auto scaled = longer->findPatternRayLengths(rays, {{0}}, {{0, 1, 2}});
    expectNear(scaled[0], expected * 3.0f);
}

TEST(PatternRayLengths, FirstGroupWholeThenOnlyPatternsStillMissing) {
    InterfacePtr<BareEnvironment> environment(new BareEnvironment(1.0f, 0.25f));
    const std::vector<VeskEnvironment::Pattern> patterns(4, {0, 1, 2});
    const auto lengths = environment->findPatternRayLengths(rays, {{0, 1}, {1, 2}}, patterns);
    ASSERT_EQ(lengths.size(), 4u);
    expectNear(lengths[0], expected);
    expectNear(lengths[1], expected);
    expectNear(lengths[2], expected);
    EXPECT_EQ(lengths[3], (vector<float, 3>{0, 0, 0}));

    EXPECT_EQ(environment->findPatternRayLengths(rays, {}, patterns), (std::vector<vector<float, 3>>(4)));
}

TEST(PatternRayLengths, CoincidentRaysAndBadIndicesAreHarmless) {
    InterfacePtr<BareEnvironment> environment(new BareEnvironment(1.0f, 0.25f));
    const auto lengths = environment->findPatternRayLengths({rays[0], rays[0], rays[0]}, {{0}}, {{0, 1, 2}});
    EXPECT_FALSE(std::isfinite(lengths[0].x) && std::isfinite(lengths[0].y) && std::isfinite(lengths[0].z));
    EXPECT_THROW(environment->findPatternRayLengths(rays, {{1}}, {{0, 1, 2}}), std::out_of_range);
    EXPECT_THROW(environment->findPatternRayLengths(rays, {{0}}, {{0, 1, 3}}), std::out_of_range);
}
