#include "tools/horizontal-grid/CoverageGuidedApply.h"

#include <algorithm>
#include <tuple>

#include "simulation/EnvironmentCodeWriter.h"

namespace Lumetra::Tools {
namespace {

CoverageMap coverageOf(const EnvironmentDescription& layout, const CoverageOptions& options) {
    const LibraryMatcher matcher(options.tracker.library, LumetraTest::writeEnvironmentCode(layout, 2));
    return computeCoverage(matcher, layout, options, options.camera());
}

auto score(const CoverageMap& map) { return std::tuple(map.coveredFraction(), map.meanShare()); }

/// Whether a bar that took `before` to `after` is worth writing: it covers more floor.
bool raises(const CoverageMap& before, const CoverageMap& after) {
    return after.coveredPositions() > before.coveredPositions();
}

}  // namespace

std::vector<Cell> deadCellsOf(const EnvironmentDescription& d, const CoverageMap& map, const std::vector<Cell>& cells) {
    std::vector<Cell> dead;
    for (const Cell& cell : cells) {
        const double x = (cell.x + 0.5 - 0.5 * static_cast<double>(d.size.x)) * d.cellSize;
        const double z = (cell.y + 0.5 - 0.5 * static_cast<double>(d.size.y)) * d.cellSize;
        if (map.share(nearestIndex(map.xs, x), nearestIndex(map.zs, z)) < map.threshold) dead.push_back(cell);
    }
    return dead;
}

std::vector<CoverageStep> applyForCoverage(EnvironmentDescription& layout, const SuggestionFinder& finder,
                                           std::vector<Cell> cells, const CoverageOptions& options, std::size_t count,
                                           std::size_t candidates) {
    CoverageOptions quiet = options;  // one progress bar for the whole search, not one per trial
    quiet.tracker.progress = "never";
    std::vector<CoverageStep> steps;
    CoverageMap current = coverageOf(layout, quiet);
    Progress progress("trying bars", count * candidates, options.tracker.progressMode());
    while (steps.size() < count) {
        const std::vector<Suggestion> ranked = finder.rank(layout, deadCellsOf(layout, current, cells));
        std::optional<CoverageStep> best;
        std::optional<CoverageMap> bestMap;
        for (std::size_t i = 0; i < ranked.size() && i < candidates && ranked[i].net() > 0; ++i) {
            if (ranked[i].lostFeatures > 0) continue;
            EnvironmentDescription trial = layout;
            trial.bars.push_back(ranked[i].bar);
            CoverageMap map = coverageOf(trial, quiet);
            progress.advance();
            if (raises(current, map) && score(map) > score(bestMap ? *bestMap : current)) {
                best = CoverageStep{ranked[i], current.coveredFraction(), map.coveredFraction()};
                bestMap = std::move(map);
            }
        }
        if (!best) break;
        layout.bars.push_back(best->suggestion.bar);
        std::erase(cells, best->suggestion.bar._position);
        current = std::move(*bestMap);
        steps.push_back(*best);
    }
    return steps;
}

}  // namespace Lumetra::Tools
