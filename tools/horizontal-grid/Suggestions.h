#pragma once
// Where to add a bar: for empty cells, the bar (cell and rotation) whose neighbourhood gains the most
// unique features by FeatureCalculator::getPotentialFeatures, less the unique features it would
// spoil. A candidate must keep clear of the bars already there.

#include <cstddef>
#include <optional>
#include <vector>

#include "grid/Bar.h"
#include "tools/horizontal-grid/EnvironmentModel.h"
#include "tools/horizontal-grid/Progress.h"
#include "tools/horizontal-grid/Room.h"

namespace Lumetra::Tools {

using Vesk::Environment::HorizontalGrid::Bar;
using Cell = LumetraMath::vector<int, 2>;

struct Suggestion {
    Bar bar;
    std::size_t newFeatures = 0;   ///< unique features the bar would add
    std::size_t lostFeatures = 0;  ///< catalogued unique features it would make ambiguous

    long net() const { return static_cast<long>(newFeatures) - static_cast<long>(lostFeatures); }
};

class SuggestionFinder {
public:
    /// `geometry` is an environment of the same bar geometry and grid size (its bars play no part).
    /// A candidate keeps every marker at least `clearance` from the markers of other bars, may not
    /// cross another bar and has no bar within `spacing` cells (Chebyshev distance); clearance 0
    /// means the bar's own smallest marker spacing.
    SuggestionFinder(const Environment& geometry, double clearance, int spacing,
                     ProgressMode progress = ProgressMode::never);

    double clearance() const { return clearance_; }

    /// From now on a candidate also keeps its markers inside `room` less `margin`.
    void keepInside(const RoomSize& room, double margin) { room_ = room, margin_ = margin; }

    /// The best rotation of every admissible empty cell among `cells`, best first: by net gain, then
    /// new features, then row, column and rotation.
    std::vector<Suggestion> rank(const EnvironmentDescription& layout, const std::vector<Cell>& cells) const;

    /// Adds up to `count` bars one at a time, each time the best remaining suggestion that adds
    /// unique features and spoils none (later ranks change as bars are added). Returns the bars
    /// added, in order.
    std::vector<Suggestion> apply(EnvironmentDescription& layout, std::vector<Cell> cells, std::size_t count) const;

private:
    using Vector2 = LumetraMath::vector<float, 2>;

    std::vector<Vector2> markersOf(const Bar& bar) const;
    bool keepsClear(const Bar& candidate, const Vesk::Environment::HorizontalGrid::Field& field) const;

    const Environment& geometry_;
    double clearance_;
    int spacing_;
    ProgressMode progress_;
    int reach_;  ///< cells around a candidate where a bar could come too close
    std::optional<RoomSize> room_;
    double margin_ = 0;
};

/// The empty cells of the layout inside the inclusive rectangle of cells `area`.
std::vector<Cell> emptyCells(const EnvironmentDescription& layout, LumetraMath::Rectangle area);

}  // namespace Lumetra::Tools
