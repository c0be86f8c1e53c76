// Identification of wide views: the windows a large frame is searched in, and identify on frames of
// a fisheye camera, whose hundreds of rays one pattern search cannot hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "matching/PipelineSteps.h"
#include "matching/PoseSettling.h"
#include "matching/ResolvableRays.h"
#include "matching/WindowedSearch.h"
#include "simulation/Envelope.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using namespace Lumetra::Testing;
using WindowedSearch::Window;
using WindowedSearch::Vector2;
using WindowedSearch::Vector3;

constexpr double degree = 3.14159265358979323846 / 180.0;

/// Rays towards a square lattice of points one unit below, `side` × `side`, 0.3 apart, then one ray
/// pointing up.
std::vector<Vector3> latticeRays(int side) {
    std::vector<Vector3> rays;
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            const Vector3 r{0.3f * static_cast<float>(i - side / 2), -1.0f, 0.3f * static_cast<float>(j - side / 2)};
            rays.push_back(r / LumetraMath::length(r));
        }
    rays.push_back({0.0f, 1.0f, 0.0f});
    return rays;
}

float distance(const Vector2& p) { return std::sqrt(p.x * p.x + p.y * p.y); }

TEST(WindowedSearch, WindowsHoldTheRaysNearestTheirCentres) {
    // A small frame is one window of every ray, in order, as the search of a whole frame sees it.
    const std::vector<Vector3> small = latticeRays(5);
    const Window whole = WindowedSearch::centralWindow(small, PipelineSteps::projectRays(small), true);
    ASSERT_EQ(whole.size(), small.size());
    EXPECT_TRUE(std::is_sorted(whole.begin(), whole.end()));

    // A large one: the rays below the tracker nearest its vertical, and six windows around them.
    const std::vector<Vector3> rays = latticeRays(15);
    const auto points = PipelineSteps::projectRays(rays);
    const Window central = WindowedSearch::centralWindow(rays, points, true);
    ASSERT_EQ(central.size(), WindowedSearch::windowRays);
    EXPECT_TRUE(std::is_sorted(central.begin(), central.end()));
    float reach = 0.0f;
    for (const std::size_t i : central) {
        EXPECT_LT(rays[i].y, 0.0f);
        reach = std::max(reach, distance(points[i]));
    }
    for (std::size_t i = 0; i + 1 < rays.size(); ++i)
        if (std::find(central.begin(), central.end(), i) == central.end()) {
            EXPECT_GE(distance(points[i]), reach - 1e-6f);
        }

    const std::vector<Window> around = WindowedSearch::surroundingWindowsOf(rays, points, true);
    ASSERT_EQ(around.size(), WindowedSearch::surroundingWindows);
    for (const Window& window : around) {
        EXPECT_EQ(window.size(), WindowedSearch::windowRays);
        EXPECT_NE(window, central);
        EXPECT_EQ(std::count(window.begin(), window.end(), rays.size() - 1), 0);
    }
    EXPECT_TRUE(WindowedSearch::surroundingWindowsOf(small, PipelineSteps::projectRays(small), true).empty());
}

TEST(WindowedSearch, PatternsOfAWindowNameRaysOfTheFrame) {
    // One bar (ends at 0 and 1, middle at 0.25) among points that are not in the window.
    const std::vector<Vector2> points{{9, 9}, {1, 0}, {8, 8}, {0.25f, 0}, {7, 7}, {0, 0}};
    const auto patterns = WindowedSearch::windowPatterns(points, {1, 3, 5}, 0.25f, {0.6f, 0.6f, 0.0f}, false);
    ASSERT_EQ(patterns.size(), 1u);
    EXPECT_EQ(patterns[0], (VeskEnvironment::Pattern{5, 3, 1}));
}

TEST(WindowedSearch, IdentifiesEveryRayOfFisheyeViews) {
    // Short bars on a fifth of the cells, seen through 180 degrees from 1.2-3 m: 100-300 rays.
    MatchGeometry geometry = matchGeometries()[2];
    geometry.fill = 0.2;
    geometry.minDistance = 1.2;
    geometry.maxDistance = 3.0;
    std::mt19937_64 rng(5);
    const auto layout = randomMatchLayout(geometry, 20, 20, rng);
    const auto environment = makeEnvironment(layout);
    const auto markers = environment->getMarkers();
    for (const double noise : {0.0, 0.05 * degree}) {
        const FrameOptions options{.fieldOfViewHalfAngle = 90 * degree, .angularNoise = noise};
        for (int v = 0; v < 4; ++v) {
            const auto view = drawView(markers, geometry, layout, 15 * degree, options, 4, 1000, rng);
            ASSERT_TRUE(view);
            ASSERT_GT(view->frame.rays.size(), 96u);
            const PoseOutcome outcome = environment->identify(view->frame.rays);
            ASSERT_TRUE(outcome.found) << "noise " << noise << " view " << v;
            std::size_t numbered = 0;
            for (std::size_t i = 0; i < view->frame.rays.size(); ++i) {
                const MarkerIndex number = outcome.estimate.markerIndices[i];
                if (number == MarkerNotFound) continue;
                EXPECT_EQ(number, view->frame.markerNumbers[i]);
                ++numbered;
            }
            // With noise, rays far out on the plane cannot be told apart and stay unnumbered.
            EXPECT_GT(numbered, noise == 0.0 ? view->frame.rays.size() / 2 : 12u);
            EXPECT_LT(LumetraMath::length(outcome.estimate.pose.position -
                                          LumetraMath::vectorCast<float>(view->pose.position)),
                      0.05f);
        }
    }
}

TEST(WindowedSearch, SupportIsJudgedByTheBoundTheNumberingUses) {
    // Long bars seen through 180 degrees from 0.6-1 m on exact rays: most rays meet the plane far
    // out, where a fit's noise prior cannot tell markers apart though its residuals are tiny.
    const MatchGeometry geometry =
        envelopeGeometry({.fieldOfViewDegrees = 180, .minDistance = 0.6, .maxDistance = 1.0, .geometry = 1});
    std::mt19937_64 rng(3);
    const auto layout = randomMatchLayout(geometry, 20, 20, rng);
    const auto environment = makeEnvironment(layout);
    const auto markers = environment->getMarkers();
    const FrameOptions options{.fieldOfViewHalfAngle = 90 * degree};
    for (int v = 0; v < 30; ++v) {
        const auto view = drawView(markers, geometry, layout, 15 * degree, options, 4, 1000, rng);
        ASSERT_TRUE(view);
        const auto& rays = view->frame.rays;
        const auto q = view->pose.rotation();
        const LumetraMath::poseP3Q<float> truth{LumetraMath::vectorCast<float>(view->pose.position),
                                                {static_cast<float>(q.x), static_cast<float>(q.y),
                                                 static_cast<float>(q.z), static_cast<float>(q.w)}};
        // A hypothesis numbers the rays of a window near the vertical first, as the search does.
        std::vector<MarkerIndex> numbers(rays.size(), MarkerNotFound);
        for (const std::size_t i : WindowedSearch::centralWindow(rays, PipelineSteps::projectRays(rays), true))
            numbers[i] = view->frame.markerNumbers[i];
        const auto settled = settlePose(*environment, rays, numbers, truth, 6);
        ASSERT_TRUE(settled);
        // The rays counted as resolvable are the rays the settled pose numbers (one may sit on
        // the bound, where float and double part).
        const auto canResolve = ResolvableRays::numberable(*environment, settled->fit.pose, settled->fit.residualVariance);
        std::size_t both = 0, resolvable = 0;
        for (std::size_t i = 0; i < rays.size(); ++i) {
            resolvable += canResolve(rays[i]);
            both += canResolve(rays[i]) && settled->numbers[i] != MarkerNotFound;
        }
        EXPECT_GE(both + 1, std::max<std::size_t>(resolvable, settled->numbered)) << "view " << v;

        const PoseOutcome outcome = environment->identify(rays);
        ASSERT_TRUE(outcome.found) << "view " << v;
        for (std::size_t i = 0; i < rays.size(); ++i) {
            const MarkerIndex number = outcome.estimate.markerIndices[i];
            if (number != MarkerNotFound) {
                EXPECT_EQ(number, view->frame.markerNumbers[i]);
            }
        }
    }
}

}  // namespace
}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
