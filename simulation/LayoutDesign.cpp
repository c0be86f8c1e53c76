#include "simulation/LayoutDesign.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "environment/Environment.h"
#include "simulation/BarClearance.h"
#include "simulation/MatchScenarios.h"
#include "simulation/ParallelFor.h"

namespace Lumetra::Testing {

using Vesk::Environment::HorizontalGrid::Bar;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

namespace {

/// The cells and rotations a bar may take: every marker inside the room less its margin, no other
/// bar within the spacing (Chebyshev distance in cells), markers clear of other bars' markers by
/// the bar's own smallest marker spacing, and no two bars crossing.
class Placements {
public:
    Placements(const DesignRequest& request, std::uint32_t columns, std::uint32_t rows)
        : columns_(static_cast<int>(columns)), rows_(static_cast<int>(rows)), spacing_(request.spacing) {
        EnvironmentDescription empty = request.geometry;
        empty.size = {columns, rows};
        empty.bars.clear();
        const auto environment = makeEnvironment(empty);
        const double halfWidth = 0.5 * request.roomWidth - request.margin;
        const double halfDepth = 0.5 * request.roomDepth - request.margin;
        markers_.resize(static_cast<std::size_t>(columns_ * rows_) * 4);
        allowed_.assign(static_cast<std::size_t>(columns_ * rows_), 0);
        double extent = 0;
        for (int y = 0; y < rows_; ++y) {
            for (int x = 0; x < columns_; ++x) {
                for (std::uint8_t rotation = 0; rotation < 4; ++rotation) {
                    auto& markers = markers_[index(x, y) * 4 + rotation];
                    markers = Vesk::Environment::HorizontalGrid::Environment::getMarkers2D(
                        {Bar{{x, y}, rotation}}, environment->getBarGeometries(), environment->getGridCenter(),
                        environment->getCellSize());
                    const bool inside = std::all_of(markers.begin(), markers.end(), [&](const auto& m) {
                        return std::abs(m.x) <= halfWidth && std::abs(m.y) <= halfDepth;
                    });
                    if (inside) allowed_[index(x, y)] |= static_cast<std::uint8_t>(1u << rotation);
                }
            }
        }
        for (const auto& layout : environment->getBarGeometries())
            for (std::size_t k = 0; k < 3; ++k)
                extent = std::max(extent, static_cast<double>(LumetraMath::length(layout[k])));
        clearance_ = smallestSpacing(markers_.front());
        reach_ = std::max(spacing_, static_cast<int>(std::ceil((2 * extent + clearance_) / request.geometry.cellSize)) + 1);
    }

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    bool allows(int x, int y, unsigned rotation) const {
        return x >= 0 && y >= 0 && x < columns_ && y < rows_ && ((allowed_[index(x, y)] >> rotation) & 1u) != 0;
    }
    /// Whether a bar at (x, y) with `rotation` keeps clear of every bar of `bars` but the one at `skip`.
    bool clear(const std::vector<Bar>& bars, int x, int y, unsigned rotation, std::size_t skip) const {
        for (std::size_t i = 0; i < bars.size(); ++i) {
            const int dx = std::abs(bars[i]._position.x - x), dy = std::abs(bars[i]._position.y - y);
            if (i == skip || dx > reach_ || dy > reach_) continue;
            if (dx <= spacing_ && dy <= spacing_) return false;
            if (!barsKeepClear(markersOf(x, y, rotation), markersOf(bars[i]._position.x, bars[i]._position.y,
                                                                    bars[i]._properties & 3u),
                               clearance_))
                return false;
        }
        return true;
    }
    /// A random rotation of (x, y) that fits and keeps clear of `bars` (but `skip`), or nothing.
    std::optional<std::uint8_t> rotation(const std::vector<Bar>& bars, int x, int y, std::size_t skip,
                                         std::mt19937_64& rng) const {
        std::vector<std::uint8_t> choices;
        for (std::uint8_t r = 0; r < 4; ++r)
            if (allows(x, y, r) && clear(bars, x, y, r, skip)) choices.push_back(r);
        if (choices.empty()) return std::nullopt;
        return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(rng)];
    }

private:
    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y * columns_ + x); }
    const std::vector<Point2>& markersOf(int x, int y, unsigned rotation) const {
        return markers_[index(x, y) * 4 + rotation];
    }

    int columns_, rows_, spacing_;
    int reach_ = 0;  ///< cells beyond which no bar can come near
    double clearance_ = 0;
    std::vector<std::vector<Point2>> markers_;  ///< per cell and rotation
    std::vector<std::uint8_t> allowed_;  ///< per cell, bit r: rotation r fits the room
};

/// Cells visited in random order, each taking a bar when it keeps the spacing, up to `maxBars`.
std::vector<Bar> randomPacking(const Placements& placements, std::size_t maxBars, std::mt19937_64& rng) {
    std::vector<std::pair<int, int>> cells;
    for (int y = 0; y < placements.rows(); ++y)
        for (int x = 0; x < placements.columns(); ++x) cells.emplace_back(x, y);
    std::shuffle(cells.begin(), cells.end(), rng);
    std::vector<Bar> bars;
    for (const auto& [x, y] : cells) {
        if (maxBars > 0 && bars.size() >= maxBars) break;
        if (const auto rotation = placements.rotation(bars, x, y, bars.size(), rng)) bars.push_back(Bar{{x, y}, *rotation});
    }
    return bars;
}

/// One local change of the layout, or nothing when the drawn change is not allowed.
std::optional<std::vector<Bar>> localMove(const Placements& placements, std::vector<Bar> bars, std::size_t maxBars,
                                          std::mt19937_64& rng) {
    const int kind = std::uniform_int_distribution<int>(0, 3)(rng);
    if (kind == 2 || bars.empty()) {  // add a bar
        if (maxBars > 0 && bars.size() >= maxBars) return std::nullopt;
        const int x = std::uniform_int_distribution<int>(0, placements.columns() - 1)(rng);
        const int y = std::uniform_int_distribution<int>(0, placements.rows() - 1)(rng);
        const auto rotation = placements.rotation(bars, x, y, bars.size(), rng);
        if (!rotation) return std::nullopt;
        bars.push_back(Bar{{x, y}, *rotation});
        return bars;
    }
    const std::size_t i = std::uniform_int_distribution<std::size_t>(0, bars.size() - 1)(rng);
    Bar& bar = bars[i];
    if (kind == 0) {  // turn it
        const auto rotation = placements.rotation(bars, bar._position.x, bar._position.y, i, rng);
        if (!rotation || *rotation == (bar._properties & 3)) return std::nullopt;
        bar._properties = *rotation;
        return bars;
    }
    if (kind == 1) {  // shift it by up to two cells
        const int x = bar._position.x + std::uniform_int_distribution<int>(-2, 2)(rng);
        const int y = bar._position.y + std::uniform_int_distribution<int>(-2, 2)(rng);
        if (x == bar._position.x && y == bar._position.y) return std::nullopt;
        if (!placements.allows(x, y, bar._properties & 3u) || !placements.clear(bars, x, y, bar._properties & 3u, i))
            return std::nullopt;
        bar._position = {x, y};
        return bars;
    }
    bars.erase(bars.begin() + static_cast<std::ptrdiff_t>(i));  // remove it
    return bars;
}

struct Scored {
    std::vector<Bar> bars;
    double estimate = -1;

    /// Higher estimate first, then fewer bars.
    bool betterThan(const Scored& other) const {
        return std::tuple(estimate, -static_cast<double>(bars.size())) >
               std::tuple(other.estimate, -static_cast<double>(other.bars.size()));
    }
};

double score(const DesignRequest& request, EnvironmentDescription layout, std::vector<Bar> bars) {
    layout.bars = std::move(bars);
    if (layout.bars.empty()) return 0;
    try {
        const auto environment = makeEnvironment(layout);
        // Two features in view, so that one lost to a dropped marker or a stray ray leaves another.
        return identifiableCoverage(*environment, layout, request.coverage, 2).identifiableFraction();
    } catch (const std::runtime_error&) {
        return -1;  // a catalogue too slow to build
    }
}

}  // namespace

std::pair<std::uint32_t, std::uint32_t> gridInRoom(double width, double depth, double margin, double cellSize) {
    // A hair of slack, so that 9 m holds fifteen cells of 0.6 m (a float a little above 0.6).
    const double columns = std::floor((width - 2 * margin) / cellSize * (1 + 1e-6));
    const double rows = std::floor((depth - 2 * margin) / cellSize * (1 + 1e-6));
    if (!(columns >= 1 && rows >= 1)) throw std::invalid_argument("the room holds no cell");
    if (columns > 4096 || rows > 4096) throw std::invalid_argument("the room needs more than 4096 cells a side");
    return {static_cast<std::uint32_t>(columns), static_cast<std::uint32_t>(rows)};
}

DesignResult designLayout(const DesignRequest& request, const DesignProgress& progress) {
    const auto [columns, rows] = gridInRoom(request.roomWidth, request.roomDepth, request.margin, request.geometry.cellSize);
    EnvironmentDescription layout = request.geometry;
    layout.size = {columns, rows};
    layout.bars.clear();
    const Placements placements(request, columns, rows);
    // The scoring runs one layout per thread; each scores its layout alone.
    CoverageSettings single = request.coverage;
    single.threads = 1;
    DesignRequest scoring = request;
    scoring.coverage = single;

    DesignResult result;
    const auto scoreAll = [&](std::vector<Scored>& candidates) {
        parallelFor(candidates.size(), request.threads, [&](std::size_t i) {
            candidates[i].estimate = score(scoring, layout, candidates[i].bars);
        });
        result.evaluations += candidates.size();
    };

    std::vector<Scored> starts(std::max<std::size_t>(1, request.starts));
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::mt19937_64 rng(request.seed * 1000003 + i);
        starts[i].bars = randomPacking(placements, request.maxBars, rng);
    }
    scoreAll(starts);
    Scored best = starts.front();
    for (const Scored& start : starts)
        if (start.betterThan(best)) best = start;
    if (progress) progress(result.evaluations, best.estimate);

    // Batches of moves of the best layout, the best of each batch kept when it is better.
    constexpr std::size_t batch = 8;
    std::mt19937_64 rng(request.seed);
    std::size_t stalled = 0;
    while (best.estimate < request.target && result.evaluations + batch <= request.evaluations &&
           stalled < request.patience) {
        std::vector<Scored> moves;
        for (int attempt = 0; moves.size() < batch && attempt < 64; ++attempt)
            if (auto bars = localMove(placements, best.bars, request.maxBars, rng)) moves.push_back({std::move(*bars)});
        if (moves.empty()) break;
        scoreAll(moves);
        ++stalled;
        for (const Scored& move : moves)
            if (move.betterThan(best)) best = move, stalled = 0;
        if (progress) progress(result.evaluations, best.estimate);
    }
    layout.bars = std::move(best.bars);
    result.layout = std::move(layout);
    result.estimate = best.estimate;
    return result;
}

}  // namespace Lumetra::Testing
