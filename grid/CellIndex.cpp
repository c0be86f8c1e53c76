#include "grid/CellIndex.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

/// Below this many cells the dense form is small anyway and its lookups are the cheapest.
constexpr std::uint64_t smallestSparseGrid = 1u << 16;
/// The sparse form costs 12 bytes per bar against 4 per cell; it is chosen only when it is also far
/// smaller, so that the lookups of a dense grid keep their constant cost.
constexpr std::uint64_t cellsPerBarForSparse = 32;

}  // namespace

CellIndex::CellIndex(std::uint64_t width, std::uint64_t height)
    : upper_{static_cast<int>(static_cast<std::int64_t>(width) - 1),
             static_cast<int>(static_cast<std::int64_t>(height) - 1)},
      dense_(width, height, empty) {}

CellIndex::CellIndex(std::uint64_t width, std::uint64_t height, std::span<const Bar> bars) {
    if (bars.size() > static_cast<std::size_t>(std::numeric_limits<Id>::max()))
        throw std::length_error("too many bars for one field");
    constexpr std::uint64_t largestSide = std::numeric_limits<std::int32_t>::max();
    if (width > largestSide || height > largestSide || (width != 0 && height > std::vector<Id>().max_size() / width))
        throw std::bad_array_new_length();
    const std::uint64_t cells = width * height;
    upper_ = {static_cast<int>(static_cast<std::int64_t>(width) - 1),
              static_cast<int>(static_cast<std::int64_t>(height) - 1)};
    for (const Bar& bar : bars)
        if (!contains(bar._position)) throw std::out_of_range("bar cell lies outside the field");

    sparse_ = cells >= smallestSparseGrid && cells / cellsPerBarForSparse > bars.size();
    if (!sparse_) {
        dense_ = CellArray<Id>(width, height, empty);
        for (std::size_t i = 0; i < bars.size(); ++i) dense_[bars[i]._position] = static_cast<Id>(i);
        return;
    }
    // Sorted by cell and, within a cell, by list position, so the last bar of a cell wins.
    std::vector<std::pair<std::uint64_t, Id>> entries;
    entries.reserve(bars.size());
    for (std::size_t i = 0; i < bars.size(); ++i) entries.emplace_back(key(bars[i]._position), static_cast<Id>(i));
    std::sort(entries.begin(), entries.end());
    keys_.reserve(entries.size());
    ids_.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i + 1 < entries.size() && entries[i + 1].first == entries[i].first) continue;
        keys_.push_back(entries[i].first);
        ids_.push_back(entries[i].second);
    }
}

CellIndex::CellIndex(CellIndex&& other) noexcept
    : upper_(std::exchange(other.upper_, emptyUpper)),
      sparse_(std::exchange(other.sparse_, false)),
      dense_(std::move(other.dense_)),
      keys_(std::exchange(other.keys_, {})),
      ids_(std::exchange(other.ids_, {})) {}

CellIndex& CellIndex::operator=(CellIndex&& other) noexcept {
    if (this != &other) {
        upper_ = std::exchange(other.upper_, emptyUpper);
        sparse_ = std::exchange(other.sparse_, false);
        dense_ = std::move(other.dense_);
        keys_ = std::exchange(other.keys_, {});
        ids_ = std::exchange(other.ids_, {});
    }
    return *this;
}

CellIndex::Id CellIndex::sparseAt(Cell cell) const {
    const auto found = std::lower_bound(keys_.begin(), keys_.end(), key(cell));
    return found != keys_.end() && *found == key(cell) ? ids_[static_cast<std::size_t>(found - keys_.begin())]
                                                        : empty;
}

void CellIndex::set(Cell cell, Id id) {
    if (!sparse_) {
        dense_[cell] = id;
        return;
    }
    const auto found = std::lower_bound(keys_.begin(), keys_.end(), key(cell));
    const auto at = found - keys_.begin();
    const bool present = found != keys_.end() && *found == key(cell);
    if (id == empty) {
        if (!present) return;
        keys_.erase(found);
        ids_.erase(ids_.begin() + at);
    } else if (present) {
        ids_[static_cast<std::size_t>(at)] = id;
    } else {
        keys_.insert(found, key(cell));
        ids_.insert(ids_.begin() + at, id);
    }
}

void CellIndex::clear() {
    dense_.fill(empty);
    keys_.clear();
    ids_.clear();
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
