#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "matching/RayPreparation.h"

namespace {

using Lumetra::Vesk::Environment::HorizontalGrid::repeatedRays;
using Lumetra::Vesk::Environment::HorizontalGrid::unitRays;
using Vector3 = LumetraMath::vector<float, 3>;

/// Few rays are compared pair by pair and many through a sort: both must mark exactly the later
/// of every repeated pair, including repeats that differ in x only by a sign of zero and rays that
/// differ in x alone by more than the angle.
TEST(RayPreparation, RepeatsAreTheSameForFewAndManyRays) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> component(-1.0f, 1.0f);
    for (const std::size_t count : {12u, 47u, 200u}) {
        std::vector<Vector3> rays;
        for (std::size_t i = 0; i < count; ++i) rays.push_back({component(rng), component(rng), 0.5f});
        rays[1] = {0.0f, 0.6f, 0.8f};
        rays[3] = {-0.0f, 0.6f, 0.8f};  // repeats ray 1
        rays[4] = {0.0f, 0.0f, 0.0f};   // unusable, repeats nothing
        rays[5] = rays[2];              // repeats ray 2
        rays[6] = {rays[2].x + 1e-3f, rays[2].y, rays[2].z};
        rays.push_back(rays[7]);        // the last repeats ray 7
        const std::vector<Vector3> unit = unitRays(rays);
        const std::vector<bool> repeated = repeatedRays(unit);
        for (std::size_t j = 0; j < unit.size(); ++j) {
            bool expected = false;
            for (std::size_t i = 0; i < j; ++i) {
                const Vector3 d = unit[j] - unit[i];
                expected |= (unit[j].x != 0.0f || unit[j].y != 0.0f || unit[j].z != 0.0f) &&
                            std::fabs(d.x) <= 1e-6f && LumetraMath::dot(d, d) <= 1e-12f;
            }
            EXPECT_EQ(repeated[j], expected) << count << " rays, ray " << j;
        }
        EXPECT_TRUE(repeated[3] && repeated[5] && repeated.back()) << count << " rays";
        EXPECT_FALSE(repeated[4] || repeated[6]) << count << " rays";
    }
}

}  // namespace
