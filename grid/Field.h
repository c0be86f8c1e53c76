#pragma once
// The bars of one environment: a list in insertion order and a cell index that names, for every
// cell of the grid, the list position of the bar lying there (−1 for an empty cell).

#include <cstdint>
#include <optional>
#include <vector>

#include "grid/Bar.h"
#include "grid/CellArray.h"
#include "math/Rectangle.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Field {
public:
    using Cell = LumetraMath::vector<int, 2>;
    class BarsWithinAreaSearch;

    /// An empty grid of no cells.
    Field() = default;
    /// A grid of `size` (width, height) empty cells; see CellArray for the size limits.
    explicit Field(LumetraMath::vector<unsigned long, 2> size);
    /// The grid with `bars` added in the given order.
    Field(std::vector<Bar> bars, LumetraMath::vector<unsigned long, 2> size);

    Field(const Field&) = default;
    Field(Field&&) noexcept = default;
    Field& operator=(const Field&) = default;
    Field& operator=(Field&&) noexcept = default;
    virtual ~Field() = default;

    /// Appends the bar and names it in its cell; a bar already in that cell stays in the list but can
    /// no longer be found by cell. Throws std::out_of_range for a cell outside the grid.
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
    CellArray<std::int64_t> cells_;
    std::vector<Bar> bars_;
};

/// Lists the bars of an integer rectangle of cells column by column, skipping empty cells through a
/// table that names, for every cell, the nearest occupied row at or above it in its column.
/// A snapshot: the field must outlive it and must not change while it is used (a stale table never
/// reads outside the field, but may miss or repeat bars).
class Field::BarsWithinAreaSearch {
public:
    explicit BarsWithinAreaSearch(const Field& field);

    /// The bars whose cells lie in the inclusive `area`, clipped to the grid, by column x ascending
    /// and, within a column, by row y ascending.
    std::vector<Bar> getBars(LumetraMath::Rectangle area) const;
    /// getBars appending to `bars` instead of a new list.
    void appendBars(LumetraMath::Rectangle area, std::vector<Bar>& bars) const;
    /// Whether getBars(area) would list any bar; its cost grows with the columns, not the rows.
    bool containsBars(LumetraMath::Rectangle area) const;

private:
    static constexpr std::int32_t noBarAbove = 2147483647;

    /// The area clipped to the grid: false when nothing of it remains.
    bool clip(LumetraMath::Rectangle& area) const;

    const Field* field_;
    CellArray<std::int32_t> nextBarRow_;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
