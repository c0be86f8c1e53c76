#pragma once
// Adding bars for coverage: each round measures coverage with the chosen camera, ranks the bars
// for the cells it finds dead, tries the best few and keeps the one that covers the most floor,
// so that suggest --dead-zones --apply raises the figure coverage reports, not just a feature count.

#include <cstddef>
#include <vector>

#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/Suggestions.h"

namespace Lumetra::Tools {

struct CoverageStep {
    Suggestion suggestion;
    double coveredBefore = 0;
    double coveredAfter = 0;
};

/// The cells among `cells` whose nearest coverage position is not covered.
std::vector<Cell> deadCellsOf(const EnvironmentDescription& layout, const CoverageMap& map, const std::vector<Cell>& cells);

/// Adds up to `count` bars to `layout`, trying `candidates` bars a round, each the one that covers
/// the most floor among those that cover more and spoil no unique feature; stops when none does.
/// `cells`: where bars may go.
std::vector<CoverageStep> applyForCoverage(EnvironmentDescription& layout, const SuggestionFinder& finder,
                                           std::vector<Cell> cells, const CoverageOptions& options, std::size_t count,
                                           std::size_t candidates);

}  // namespace Lumetra::Tools
