#pragma once
// A two-dimensional array over the cells of a grid, stored row after row. Its inclusive bounds run
// from (0, 0) to (width − 1, height − 1); an empty array has the bounds (0, 0) to (−1, −1).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "math/Rectangle.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

template <typename T>
class CellArray {
public:
    using Cell = LumetraMath::vector<int, 2>;

    CellArray() = default;

    /// Throws std::bad_array_new_length when a side does not fit the signed 32-bit bounds or the
    /// cell count cannot be represented, and std::bad_alloc when memory runs out.
    CellArray(std::uint64_t width, std::uint64_t height, const T& fill) {
        constexpr std::uint64_t largestSide = std::numeric_limits<std::int32_t>::max();
        const std::uint64_t largestCount = std::vector<T>().max_size();
        if (width > largestSide || height > largestSide || (width != 0 && height > largestCount / width))
            throw std::bad_array_new_length();
        cells_.assign(static_cast<std::size_t>(width * height), fill);
        upper_ = {static_cast<int>(static_cast<std::int64_t>(width) - 1),
                  static_cast<int>(static_cast<std::int64_t>(height) - 1)};
    }

    CellArray(const CellArray&) = default;
    CellArray& operator=(const CellArray&) = default;
    /// A move takes the storage and leaves the source empty.
    CellArray(CellArray&& other) noexcept
        : upper_(std::exchange(other.upper_, emptyUpper)), cells_(std::exchange(other.cells_, {})) {}
    CellArray& operator=(CellArray&& other) noexcept {
        if (this != &other) {
            upper_ = std::exchange(other.upper_, emptyUpper);
            cells_ = std::exchange(other.cells_, {});
        }
        return *this;
    }

    LumetraMath::Rectangle bounds() const { return {{0, 0}, upper_}; }
    std::int64_t width() const { return std::int64_t{upper_.x} + 1; }
    std::int64_t height() const { return std::int64_t{upper_.y} + 1; }

    bool contains(Cell cell) const {
        return cell.x >= 0 && cell.y >= 0 && cell.x <= upper_.x && cell.y <= upper_.y;
    }

    /// The cell must lie inside the bounds.
    T& operator[](Cell cell) { return cells_[offset(cell)]; }
    const T& operator[](Cell cell) const { return cells_[offset(cell)]; }

    void fill(const T& value) { std::fill(cells_.begin(), cells_.end(), value); }

private:
    static constexpr Cell emptyUpper{-1, -1};

    std::size_t offset(Cell cell) const {
        return static_cast<std::size_t>(cell.y) * static_cast<std::size_t>(width()) + static_cast<std::size_t>(cell.x);
    }

    Cell upper_ = emptyUpper;
    std::vector<T> cells_;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
