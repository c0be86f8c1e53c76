#include "tools/horizontal-grid/Suggestions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "catalogue/FeatureCalculator.h"
#include "grid/Field.h"
#include "simulation/BarClearance.h"

namespace Lumetra::Tools {

using Vesk::Environment::HorizontalGrid::FeatureCalculator;
using Vesk::Environment::HorizontalGrid::FeatureSet;
using Vesk::Environment::HorizontalGrid::Field;


SuggestionFinder::SuggestionFinder(const Environment& geometry, double clearance, int spacing, ProgressMode progress)
    : geometry_(geometry), spacing_(spacing), progress_(progress) {
    const std::vector<Vector2> own = markersOf(Bar{});
    clearance_ = clearance > 0 ? clearance : Testing::smallestSpacing(own);
    // Markers lie at most `extent` from their cell centre: bars of cells farther apart than reach_
    // cannot come within the clearance.
    double extent = 0;
    for (const auto& layout : geometry_.getBarGeometries())
        for (std::size_t k = 0; k < 3; ++k) extent = std::max(extent, static_cast<double>(LumetraMath::length(layout[k])));
    // Grids have at most 4096 cells a side, so no reach beyond that matters.
    const double cells = std::ceil((2 * extent + clearance_) / geometry_.getCellSize()) + 1;
    reach_ = std::max(spacing_, static_cast<int>(std::min(cells, 4096.0)));
}

std::vector<SuggestionFinder::Vector2> SuggestionFinder::markersOf(const Bar& bar) const {
    return Environment::getMarkers2D({bar}, geometry_.getBarGeometries(), geometry_.getGridCenter(),
                                     geometry_.getCellSize());
}

bool SuggestionFinder::keepsClear(const Bar& candidate, const Field& field) const {
    const std::vector<Vector2> markers = markersOf(candidate);
    if (room_ && !markerBox(markers)->inside(*room_, margin_)) return false;
    const auto [x, y] = std::tuple(candidate._position.x, candidate._position.y);
    for (int v = y - reach_; v <= y + reach_; ++v) {
        for (int u = x - reach_; u <= x + reach_; ++u) {
            const auto other = field.barAt(Cell{u, v});
            if (!other) continue;
            if (std::abs(u - x) <= spacing_ && std::abs(v - y) <= spacing_) return false;
            if (!Testing::barsKeepClear(markers, markersOf(*other), clearance_)) return false;
        }
    }
    return true;
}

std::vector<Suggestion> SuggestionFinder::rank(const EnvironmentDescription& layout, const std::vector<Cell>& cells) const {
    const Field field(layout.bars, layout.size);
    const FeatureCalculator calculator(field, false);
    std::vector<Suggestion> suggestions;
    Progress progress("ranking", cells.size(), progress_);
    for (const Cell& cell : cells) {
        progress.advance();
        if (field.barIdAt(cell) != -1) continue;
        std::optional<Suggestion> best;
        for (std::uint8_t rotation = 0; rotation < 4; ++rotation) {
            const Bar candidate{cell, rotation};
            if (!keepsClear(candidate, field)) continue;
            FeatureSet added, spoiled;
            calculator.getPotentialFeatures(candidate, added, spoiled);
            const Suggestion suggestion{candidate, added.size(), spoiled.size()};
            if (!best || suggestion.net() > best->net() ||
                (suggestion.net() == best->net() && suggestion.newFeatures > best->newFeatures))
                best = suggestion;
        }
        if (best) suggestions.push_back(*best);
    }
    std::stable_sort(suggestions.begin(), suggestions.end(), [](const Suggestion& a, const Suggestion& b) {
        return std::tuple(-a.net(), -static_cast<long>(a.newFeatures), a.bar._position.y, a.bar._position.x) <
               std::tuple(-b.net(), -static_cast<long>(b.newFeatures), b.bar._position.y, b.bar._position.x);
    });
    return suggestions;
}

std::vector<Suggestion> SuggestionFinder::apply(EnvironmentDescription& layout, std::vector<Cell> cells,
                                                std::size_t count) const {
    std::vector<Suggestion> added;
    while (added.size() < count) {
        const std::vector<Suggestion> ranked = rank(layout, cells);
        // A bar that spoils a unique feature is never written, whatever it adds.
        const auto best = std::find_if(ranked.begin(), ranked.end(),
                                       [](const Suggestion& s) { return s.lostFeatures == 0 && s.newFeatures > 0; });
        if (best == ranked.end()) break;
        layout.bars.push_back(best->bar);
        std::erase(cells, best->bar._position);
        added.push_back(*best);
    }
    return added;
}

std::vector<Cell> emptyCells(const EnvironmentDescription& layout, LumetraMath::Rectangle area) {
    const Field field(layout.bars, layout.size);
    const auto width = static_cast<int>(field.width()), height = static_cast<int>(field.height());
    std::vector<Cell> cells;
    for (int y = std::max(area.lower.y, 0); y <= std::min(area.upper.y, height - 1); ++y)
        for (int x = std::max(area.lower.x, 0); x <= std::min(area.upper.x, width - 1); ++x)
            if (field.barIdAt({x, y}) == -1) cells.push_back({x, y});
    return cells;
}

}  // namespace Lumetra::Tools
