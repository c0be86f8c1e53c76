// The marker plane from the bar patterns of a view: close and tilted over the floor and under the
// ceiling, a false pattern among them, the view is levelled to within a degree with its markers on
// the right side.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "matching/PatternPlane.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using namespace Lumetra::Testing;
using Vector3 = LumetraMath::vector<float, 3>;

constexpr double degree = 3.14159265358979323846 / 180.0;

TEST(PatternPlane, LevelsACloseTiltedViewOnEitherSide) {
    for (const std::size_t geometry : {0u, 1u}) {
        const MatchGeometry g = matchGeometries()[geometry];
        std::mt19937_64 rng(5);
        const EnvironmentDescription layout = randomMatchLayout(g, 20, 20, rng);
        const auto environment = makeEnvironment(layout);
        const std::vector<Vector3> markers = environment->getMarkers();
        const bool ceiling = layout.ceiling;
        const FrameOptions options{.ceiling = ceiling, .fieldOfViewHalfAngle = 75 * degree};
        int levelled = 0;
        for (int view = 0; view < 20; ++view) {
            const PoseRange range{.halfWidth = 3, .halfDepth = 3, .minDistance = 0.6, .maxDistance = 1.0, .maxTilt = 15 * degree};
            const TrackerPose truth = randomTrackerPose(range, layout.height, ceiling, rng);
            const Frame frame = generateFrame(markers, truth, options);
            std::vector<VeskEnvironment::Pattern> patterns;
            std::vector<std::size_t> rayOf(markers.size(), frame.rays.size());
            for (std::size_t i = 0; i < frame.rays.size(); ++i) rayOf[frame.markerNumbers[i]] = i;
            for (std::size_t bar = 0; 3 * bar < markers.size(); ++bar)
                if (rayOf[3 * bar] < frame.rays.size() && rayOf[3 * bar + 1] < frame.rays.size() &&
                    rayOf[3 * bar + 2] < frame.rays.size())
                    patterns.push_back({rayOf[3 * bar], rayOf[3 * bar + 1], rayOf[3 * bar + 2]});
            if (patterns.size() < 4) continue;  // four bars at least beside the false pattern
            // A false pattern: markers of three different bars.
            patterns.push_back({patterns[0].x, patterns[1].y, patterns[2].z});

            const auto levelling = levellingFromPatterns(*environment, frame.rays, patterns, !ceiling);
            ASSERT_TRUE(levelling) << g.name << " view " << view;
            // The world's vertical, seen from the tracker, is levelled onto the vertical.
            const auto toTracker = LumetraMath::conjugate(truth.rotation());
            const auto up = LumetraMath::mul(toTracker, Point3d{0, 1, 0});
            const Vector3 vertical = LumetraMath::mul(levelling->rotation, Vector3{float(up.x), float(up.y), float(up.z)});
            EXPECT_GT(vertical.y, std::cos(1 * degree)) << g.name << " view " << view;
            EXPECT_GE(levelling->lines, patterns.size() - 1);
            ++levelled;
        }
        EXPECT_GE(levelled, 10) << g.name;
    }
}

}  // namespace
}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
