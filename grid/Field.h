#pragma once
// The bars of one environment: a list in insertion order and a cell index that names, for every
// cell of the grid, the list position of the bar lying there (−1 for an empty cell).

#include <cstdint>
#include <optional>
#include <vector>

#include "grid/Bar.h"
#include "grid/CellArray.h"
#include "grid/CellIndex.h"
#include "math/Rectangle.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Field {
public:
    using Cell = LumetraMath::vector<int, 2>;
    class BarsWithinAreaSearch;

    /// An empty grid of no cells.
    Field() = default;
    /// A grid of `size` (width, height) empty cells; see CellIndex for the size limits.
    explicit Field(LumetraMath::vector<unsigned long, 2> size);
    /// The grid with `bars` added in the given order; its cell index is sparse when the bars occupy
    /// few of the cells.
    Field(std::vector<Bar> bars, LumetraMath::vector<unsigned long, 2> size);

    Field(const Field&) = default;
    Field(Field&&) noexcept = default;
    Field& operator=(const Field&) = default;
    Field& operator=(Field&&) noexcept = default;
    virtual ~Field() = default;

    /// Appends the bar and names it in its cell; a bar already in that cell stays in the list but can
    /// no longer be found by cell. Throws std::out_of_range for a cell outside the grid and
    /// std::length_error past 2^31 − 1 bars.
    virtual void addBar(Bar bar);
    /// Removes the bar lying in the cell of `bar` (only the position is used) by moving the last bar
    /// of the list into its place. An empty cell, or one outside the grid, is left alone.
    virtual void removeBar(Bar bar);
    /// Empties every cell and the list.
    virtual void clear();

    /// List position of the bar in `cell`, or −1 for an empty cell or one outside the grid.
    std::int64_t barIdAt(Cell cell) const;
    /// The bar at list position `index`; the all-ones index (−1 from barIdAt) gives nothing. Throws
    /// std::out_of_range for any other index past the list.
    std::optional<Bar> barAt(std::uint64_t index) const;
    /// The bar in `cell`, if any.
    std::optional<Bar> barAt(Cell cell) const;

    const std::vector<Bar>& bars() const { return bars_; }
    std::int64_t width() const { return cells_.width(); }
    std::int64_t height() const { return cells_.height(); }

private:
    CellIndex cells_;
    std::vector<Bar> bars_;
};

/// Lists the bars of an integer rectangle of cells column by column. It keeps one bit per cell,
/// column after column, with a running count of set bits per 64-bit word that turns a cell's bit
/// into the position of its bar among the occupied cells, and one bit per row across the grid; about
/// 1.5 bits per cell where a table of rows would take 32.
/// A snapshot: the field must outlive it and must not change while it is used (a stale snapshot
/// never reads outside its own tables, but may miss or repeat bars).
class Field::BarsWithinAreaSearch {
public:
    explicit BarsWithinAreaSearch(const Field& field);

    /// The bars whose cells lie in the inclusive `area`, clipped to the grid, by column x ascending
    /// and, within a column, by row y ascending.
    std::vector<Bar> getBars(LumetraMath::Rectangle area) const;
    /// getBars appending to `bars` instead of a new list.
    void appendBars(LumetraMath::Rectangle area, std::vector<Bar>& bars) const;
    /// appendBars also appending each bar's list position to `ids`.
    void appendBars(LumetraMath::Rectangle area, std::vector<Bar>& bars, std::vector<std::size_t>& ids) const;
    /// Whether getBars(area) would list any bar.
    bool containsBars(LumetraMath::Rectangle area) const;

private:
    /// The area clipped to the grid: false when nothing of it remains.
    bool clip(LumetraMath::Rectangle& area) const;
    /// Calls visit(list position) for the bars of the clipped area, in the order of getBars.
    template <typename Visit>
    void forEachBar(const LumetraMath::Rectangle& area, Visit&& visit) const;
    std::uint64_t bit(int x, int y) const {
        return static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(upper_.y + 1) + static_cast<std::uint64_t>(y);
    }

    const Field* field_;
    LumetraMath::vector<int, 2> upper_;
    std::vector<std::uint64_t> cells_;      // bit x · height + y: the cell holds a bar
    std::vector<std::uint32_t> bitsBefore_;  // per word of cells_, the set bits of the words before it
    std::vector<std::uint32_t> ids_;         // list positions of the occupied cells, in bit order
    std::vector<std::uint64_t> rows_;        // bit y: row y holds a bar
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
