#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "environment/VeskEnvironment.h"
#include "matching/ConflictMatrix.h"
#include "simulation/MatchScenarios.h"

using LumetraMath::vector;

namespace {

/// A 5 x 5 grid view less one cell: 24 bars of length 0.7 in cells of size 1, quarter turns
/// varying from cell to cell, seen from 2.5 above and turned by 0.3 rad, projected onto the
/// plane one unit below the tracker.
std::vector<vector<float, 2>> gridView() {
    const float turn = 0.3f, height = 2.5f, barLength = 0.7f, proportion = 0.25f;
    const vector<float, 2> quarterTurns[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    std::vector<vector<float, 2>> points;
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 5; ++column) {
            if (row == 2 && column == 2) continue;
            const vector<float, 2> direction = quarterTurns[(row * 7 + column * 3) % 4];
            const vector<float, 2> centre{static_cast<float>(column) - 2.0f, static_cast<float>(row) - 2.0f};
            const vector<float, 2> first = centre - direction * (barLength * 0.5f);
            for (const float along : {0.0f, proportion, 1.0f}) {
                const vector<float, 2> p = first + direction * (along * barLength);
                const vector<float, 2> turned{p.x * std::cos(turn) - p.y * std::sin(turn),
                                              p.x * std::sin(turn) + p.y * std::cos(turn)};
                points.push_back(turned / height);
            }
        }
    return points;
}

const vector<float, 3> markerEllipse{0.6f, 0.6f, 0.0f};

void PatternSearch_FindAllPossiblePatterns(benchmark::State& state) {
    const auto points = gridView();
    for (auto _ : state)
        benchmark::DoNotOptimize(VeskEnvironment::findAllPossiblePatterns(points, 0.25f, markerEllipse, 0.75f));
    state.counters["patterns"] =
        static_cast<double>(VeskEnvironment::findAllPossiblePatterns(points, 0.25f, markerEllipse, 0.75f).size());
}
BENCHMARK(PatternSearch_FindAllPossiblePatterns);

/// Projected frames of the long-floor geometry showing about `bars` complete bars, with the
/// environment's search ellipse: the pattern search as match runs it.
void PatternSearch_FramesOfLongFloor(benchmark::State& state) {
    using namespace Lumetra::Testing;
    const std::size_t bars = static_cast<std::size_t>(state.range(0));
    MatchGeometry geometry = matchGeometries()[1];
    geometry.maxDistance = std::max(geometry.maxDistance, 1.0 + 0.25 * static_cast<double>(bars));
    std::mt19937_64 rng(2000 + bars);
    const auto layout = randomMatchLayout(geometry, 48, 48, rng);
    const auto environment = makeEnvironment(layout);
    std::vector<std::vector<vector<float, 2>>> frames;
    while (frames.size() < 16) {
        const auto view = drawView(environment->getMarkers(), geometry, layout, 0.0,
                                   FrameOptions{.fieldOfViewHalfAngle = 1.2}, bars - 1, bars + 1, rng);
        if (!view) continue;
        std::vector<vector<float, 2>> points;
        for (const auto& ray : view->frame.rays) points.push_back({-ray.x / ray.y, -ray.z / ray.y});
        frames.push_back(points);
    }
    std::size_t next = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(VeskEnvironment::findAllPossiblePatterns(
            frames[next++ % frames.size()], layout.barProportion, environment->getMarkerEllipse(), 0.75f));
}
BENCHMARK(PatternSearch_FramesOfLongFloor)->Arg(8)->Arg(16)->Arg(24);

void PatternSearch_ConflictsAndGroups(benchmark::State& state) {
    const auto points = gridView();
    const auto patterns = VeskEnvironment::findAllPossiblePatterns(points, 0.25f, markerEllipse, 0.75f);
    std::size_t groups = 0;
    for (auto _ : state) {
        auto matrix = VeskEnvironment::buildMarkersConflictMatrix(patterns, points.size());
        VeskEnvironment::addLengthConflictsToMatrix(
            *matrix, VeskEnvironment::calculateLengthsForPatterns(points, patterns), 0.5f);
        VeskEnvironment::addQuadAngleConflictsToMatrix(
            *matrix, VeskEnvironment::calcQuadAngleSinCosForPatterns(points, patterns), 0.0f);
        const auto found = matrix->solve();
        groups = found.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["groups"] = static_cast<double>(groups);
}
BENCHMARK(PatternSearch_ConflictsAndGroups);

}  // namespace
