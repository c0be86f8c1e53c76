// Layouts that repeat under a shift or a turn of the grid, and identification on them: a view that
// a symmetry explains as well as the pose found names no one place and is refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "catalogue/LayoutSymmetry.h"
#include "matching/SymmetricTwins.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using namespace Lumetra::Testing;

constexpr double degree = 3.14159265358979323846 / 180.0;

bool hasSymmetry(const LayoutSymmetries& found, int turn, int x, int y) {
    return std::any_of(found.symmetries.begin(), found.symmetries.end(), [&](const LayoutSymmetry& s) {
        return s.turn == turn && s.shift.x == x && s.shift.y == y;
    });
}

/// A random long-floor layout of 20 x 20 cells whose left half is copied onto its right half.
EnvironmentDescription periodicLayout(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    EnvironmentDescription layout = randomMatchLayout(matchGeometries()[1], 10, 20, rng);
    layout.size = {20, 20};
    const std::size_t half = layout.bars.size();
    for (std::size_t i = 0; i < half; ++i) {
        Bar copy = layout.bars[i];
        copy._position.x += 10;
        layout.bars.push_back(copy);
    }
    return layout;
}

TEST(LayoutSymmetry, FindsShiftsAndTurnsThatCarryTheLayoutOntoItself) {
    // A random layout has none; a periodic one its period both ways, with the image of every bar.
    std::mt19937_64 rng(3);
    const Field random(randomMatchLayout(matchGeometries()[2], 20, 20, rng).bars, {20, 20});
    EXPECT_TRUE(findLayoutSymmetries(random).symmetries.empty());

    const EnvironmentDescription periodic = periodicLayout(4);
    const Field field(periodic.bars, {20, 20});
    const LayoutSymmetries found = findLayoutSymmetries(field);
    ASSERT_TRUE(hasSymmetry(found, 0, 10, 0));
    ASSERT_TRUE(hasSymmetry(found, 0, -10, 0));
    const LayoutSymmetry& shift = found.symmetries.front();
    const std::size_t half = field.bars().size() / 2;
    EXPECT_EQ(shift.matched, half);
    EXPECT_EQ(shift.inside, half);

    // A half turn about the grid's centre: bar (x, y) with rotation r lands on (19 - x, 19 - y), r + 2.
    std::vector<Bar> turned;
    for (const Bar& bar : random.bars()) {
        if (bar._position.x + bar._position.y > 19) continue;
        turned.push_back(bar);
        if (bar._position.x + bar._position.y < 19)
            turned.push_back({{19 - bar._position.x, 19 - bar._position.y},
                              static_cast<std::uint8_t>((bar.rotation() + 2) & 3)});
    }
    EXPECT_TRUE(hasSymmetry(findLayoutSymmetries(Field(turned, {20, 20})), 2, 19, 19));
}

TEST(LayoutSymmetry, TwinNumberingsNeedABarToTellThemApart) {
    LayoutSymmetries layout;
    layout.symmetries.push_back({0, {10, 0}, 2, 2, {1, -1, -1}});
    const std::vector<MarkerIndex> firstBar{0, 1, 2, MarkerNotFound};
    EXPECT_TRUE(hasEquallyGoodTwin(layout, firstBar));
    const std::vector<MarkerIndex> bothBars{0, 1, 2, 3, 4, 5, MarkerNotFound};
    EXPECT_FALSE(hasEquallyGoodTwin(layout, bothBars));
    EXPECT_FALSE(hasEquallyGoodTwin({}, firstBar));
}

TEST(LayoutSymmetry, IdentifyNeverNamesOnePlaceOfARepeatedView) {
    // Every pose identify reports on a periodic layout has every number right; views that show no
    // bar only one copy has are refused.
    const EnvironmentDescription layout = periodicLayout(9);
    const auto environment = makeEnvironment(layout);
    ASSERT_FALSE(environment->getLayoutSymmetries().symmetries.empty());
    ASSERT_GT(environment->getCombinations().size(), 0u);
    const auto markers = environment->getMarkers();
    MatchGeometry geometry = matchGeometries()[1];
    std::mt19937_64 rng(11);
    int refused = 0;
    for (int v = 0; v < 60; ++v) {
        const FrameOptions options{.fieldOfViewHalfAngle = 57.5 * degree, .angularNoise = 0.05 * degree};
        const auto view = drawView(markers, geometry, layout, 15 * degree, options, 4, 1000, rng);
        ASSERT_TRUE(view);
        const PoseOutcome outcome = environment->identify(view->frame.rays);
        if (!outcome.found) {
            ++refused;
            continue;
        }
        for (std::size_t i = 0; i < view->frame.rays.size(); ++i)
            if (outcome.estimate.markerIndices[i] != MarkerNotFound) {
                EXPECT_EQ(outcome.estimate.markerIndices[i], view->frame.markerNumbers[i]) << "view " << v;
            }
    }
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
