#pragma once
// Which bar lies in each cell of a grid: a list position per cell, −1 for an empty cell. A grid with
// few bars for its size keeps only its occupied cells, sorted, instead of an entry for every cell.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "grid/Bar.h"
#include "grid/CellArray.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class CellIndex {
public:
    using Cell = LumetraMath::vector<int, 2>;
    using Id = std::int32_t;
    static constexpr Id empty = -1;

    /// No cells: the bounds (0, 0) to (−1, −1).
    CellIndex() = default;
    /// `width` × `height` empty cells, one entry each. Throws std::bad_array_new_length when a side
    /// does not fit the signed 32-bit bounds or the cell count cannot be represented.
    CellIndex(std::uint64_t width, std::uint64_t height);
    /// `width` × `height` cells naming `bars` by list position, a later bar in an occupied cell
    /// winning; sparse when the bars occupy few of the cells. The bars must lie inside the grid
    /// (std::out_of_range otherwise) and be fewer than 2^31 (std::length_error).
    CellIndex(std::uint64_t width, std::uint64_t height, std::span<const Bar> bars);

    CellIndex(const CellIndex&) = default;
    CellIndex& operator=(const CellIndex&) = default;
    /// A move takes the storage and leaves the source without cells.
    CellIndex(CellIndex&& other) noexcept;
    CellIndex& operator=(CellIndex&& other) noexcept;

    std::int64_t width() const { return std::int64_t{upper_.x} + 1; }
    std::int64_t height() const { return std::int64_t{upper_.y} + 1; }
    bool contains(Cell cell) const {
        return cell.x >= 0 && cell.y >= 0 && cell.x <= upper_.x && cell.y <= upper_.y;
    }

    /// The entry of `cell`; −1 for an empty cell or one outside the grid.
    Id at(Cell cell) const {
        if (!contains(cell)) return empty;
        return sparse_ ? sparseAt(cell) : dense_[cell];
    }
    /// Sets the entry of a cell inside the grid; −1 empties it.
    void set(Cell cell, Id id);
    /// Empties every cell.
    void clear();

private:
    static constexpr Cell emptyUpper{-1, -1};

    std::uint64_t key(Cell cell) const {
        return static_cast<std::uint64_t>(cell.y) * static_cast<std::uint64_t>(width()) +
               static_cast<std::uint64_t>(cell.x);
    }
    Id sparseAt(Cell cell) const;

    Cell upper_ = emptyUpper;
    bool sparse_ = false;
    CellArray<Id> dense_;
    // Sparse form: the keys y · width + x of the occupied cells, ascending, and their entries.
    std::vector<std::uint64_t> keys_;
    std::vector<Id> ids_;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
