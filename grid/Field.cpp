#include "grid/Field.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <stdexcept>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

Field::Field(LumetraMath::vector<unsigned long, 2> size) : cells_(size.x, size.y) {}

// Indexing the whole list at once names the same bar in every cell as adding the bars one by one.
Field::Field(std::vector<Bar> bars, LumetraMath::vector<unsigned long, 2> size)
    : cells_(size.x, size.y, bars), bars_(std::move(bars)) {}

void Field::addBar(Bar bar) {
    if (!cells_.contains(bar._position)) throw std::out_of_range("bar cell lies outside the field");
    if (bars_.size() >= static_cast<std::size_t>(std::numeric_limits<CellIndex::Id>::max()))
        throw std::length_error("too many bars for one field");
    bars_.push_back(bar);
    cells_.set(bar._position, static_cast<CellIndex::Id>(bars_.size() - 1));
}

void Field::removeBar(Bar bar) {
    const std::int64_t id = barIdAt(bar._position);
    if (id < 0) return;
    const auto index = static_cast<std::size_t>(id);
    const Bar moved = bars_.back();
    bars_[index] = moved;
    cells_.set(moved._position, static_cast<CellIndex::Id>(id));
    // Set last: when the removed bar is the last one, its cell must end up empty.
    cells_.set(bar._position, CellIndex::empty);
    bars_.pop_back();
}

void Field::clear() {
    cells_.clear();
    bars_.clear();
}

std::int64_t Field::barIdAt(Cell cell) const {
    return cells_.at(cell);
}

std::optional<Bar> Field::barAt(std::uint64_t index) const {
    if (index == ~std::uint64_t{0}) return std::nullopt;
    if (index >= bars_.size()) throw std::out_of_range("bar index lies outside the field's bar list");
    return bars_[static_cast<std::size_t>(index)];
}

std::optional<Bar> Field::barAt(Cell cell) const {
    return barAt(static_cast<std::uint64_t>(barIdAt(cell)));
}

namespace {

constexpr std::uint64_t wordBits = 64;

std::vector<std::uint64_t> bitWords(std::uint64_t bits) {
    return std::vector<std::uint64_t>(static_cast<std::size_t>((bits + wordBits - 1) / wordBits), 0);
}

void setBit(std::vector<std::uint64_t>& words, std::uint64_t bit) {
    words[static_cast<std::size_t>(bit / wordBits)] |= std::uint64_t{1} << (bit % wordBits);
}

/// The bits first..last (inclusive) of `words`, one word at a time: visit(word index, masked word).
template <typename Visit>
void forEachWord(const std::vector<std::uint64_t>& words, std::uint64_t first, std::uint64_t last, Visit&& visit) {
    const std::size_t firstWord = static_cast<std::size_t>(first / wordBits);
    const std::size_t lastWord = static_cast<std::size_t>(last / wordBits);
    for (std::size_t w = firstWord; w <= lastWord; ++w) {
        std::uint64_t word = words[w];
        if (w == firstWord) word &= ~std::uint64_t{0} << (first % wordBits);
        if (w == lastWord) word &= ~std::uint64_t{0} >> (wordBits - 1 - last % wordBits);
        if (!visit(w, word)) return;
    }
}

bool anyBit(const std::vector<std::uint64_t>& words, std::uint64_t first, std::uint64_t last) {
    bool any = false;
    forEachWord(words, first, last, [&any](std::size_t, std::uint64_t word) { return !(any = word != 0); });
    return any;
}

}  // namespace

Field::BarsWithinAreaSearch::BarsWithinAreaSearch(const Field& field)
    : field_(&field), upper_{static_cast<int>(field.width() - 1), static_cast<int>(field.height() - 1)} {
    const std::uint64_t cellCount = static_cast<std::uint64_t>(field.width()) * static_cast<std::uint64_t>(field.height());
    cells_ = bitWords(cellCount);
    rows_ = bitWords(static_cast<std::uint64_t>(field.height()));
    // Only the bar a cell names is listed: one hidden by a later bar in its cell is not.
    const std::vector<Bar>& bars = field.bars();
    std::vector<std::uint32_t> named;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Cell cell = bars[i]._position;
        if (field.barIdAt(cell) != static_cast<std::int64_t>(i)) continue;
        named.push_back(static_cast<std::uint32_t>(i));
        setBit(cells_, bit(cell.x, cell.y));
        setBit(rows_, static_cast<std::uint64_t>(cell.y));
    }
    bitsBefore_.resize(cells_.size());
    std::uint32_t count = 0;
    for (std::size_t w = 0; w < cells_.size(); ++w) {
        bitsBefore_[w] = count;
        count += static_cast<std::uint32_t>(std::popcount(cells_[w]));
    }
    ids_.resize(named.size());
    for (const std::uint32_t i : named) {
        const std::uint64_t b = bit(bars[i]._position.x, bars[i]._position.y);
        const std::uint64_t below = cells_[static_cast<std::size_t>(b / wordBits)] & ((std::uint64_t{1} << (b % wordBits)) - 1);
        ids_[bitsBefore_[static_cast<std::size_t>(b / wordBits)] + static_cast<std::uint32_t>(std::popcount(below))] = i;
    }
}

bool Field::BarsWithinAreaSearch::clip(LumetraMath::Rectangle& area) const {
    area.lower.x = std::max(area.lower.x, 0);
    area.lower.y = std::max(area.lower.y, 0);
    area.upper.x = std::min(area.upper.x, upper_.x);
    area.upper.y = std::min(area.upper.y, upper_.y);
    return area.upper.x >= area.lower.x && area.upper.y >= area.lower.y;
}

template <typename Visit>
void Field::BarsWithinAreaSearch::forEachBar(const LumetraMath::Rectangle& area, Visit&& visit) const {
    for (int x = area.lower.x; x <= area.upper.x; ++x)
        forEachWord(cells_, bit(x, area.lower.y), bit(x, area.upper.y), [&](std::size_t w, std::uint64_t word) {
            if (word == 0) return true;
            // The word's bits are consecutive cells: one count gives the first bar's place, the
            // others follow it.
            std::uint32_t place = bitsBefore_[w] + static_cast<std::uint32_t>(std::popcount(cells_[w] & ((word & -word) - 1)));
            for (; word != 0; word &= word - 1) visit(ids_[place++]);
            return true;
        });
}

void Field::BarsWithinAreaSearch::appendBars(LumetraMath::Rectangle area, std::vector<Bar>& bars) const {
    if (clip(area)) forEachBar(area, [&](std::uint32_t id) { bars.push_back(field_->bars()[id]); });
}

void Field::BarsWithinAreaSearch::appendBars(LumetraMath::Rectangle area, std::vector<Bar>& bars,
                                             std::vector<std::size_t>& ids) const {
    if (!clip(area)) return;
    forEachBar(area, [&](std::uint32_t id) {
        bars.push_back(field_->bars()[id]);
        ids.push_back(id);
    });
}

std::vector<Bar> Field::BarsWithinAreaSearch::getBars(LumetraMath::Rectangle area) const {
    std::vector<Bar> bars;
    appendBars(area, bars);
    return bars;
}

bool Field::BarsWithinAreaSearch::containsBars(LumetraMath::Rectangle area) const {
    if (!clip(area)) return false;
    if (!anyBit(rows_, static_cast<std::uint64_t>(area.lower.y), static_cast<std::uint64_t>(area.upper.y))) return false;
    // Across the whole width the rows answer alone.
    if (area.lower.x == 0 && area.upper.x == upper_.x) return true;
    for (int x = area.lower.x; x <= area.upper.x; ++x)
        if (anyBit(cells_, bit(x, area.lower.y), bit(x, area.upper.y))) return true;
    return false;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
