#include "grid/Field.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

Field::Field(LumetraMath::vector<unsigned long, 2> size) : cells_(size.x, size.y, -1) {}

Field::Field(std::vector<Bar> bars, LumetraMath::vector<unsigned long, 2> size) : Field(size) {
    bars_.reserve(bars.size());
    for (const Bar& bar : bars) Field::addBar(bar);
}

void Field::addBar(Bar bar) {
    if (!cells_.contains(bar._position)) throw std::out_of_range("bar cell lies outside the field");
    bars_.push_back(bar);
    cells_[bar._position] = static_cast<std::int64_t>(bars_.size() - 1);
}

void Field::removeBar(Bar bar) {
    const std::int64_t id = barIdAt(bar._position);
    if (id < 0) return;
    const auto index = static_cast<std::size_t>(id);
    const Bar moved = bars_.back();
    bars_[index] = moved;
    cells_[moved._position] = id;
    // Set last: when the removed bar is the last one, its cell must end up empty.
    cells_[bar._position] = -1;
    bars_.pop_back();
}

void Field::clear() {
    cells_.fill(-1);
    bars_.clear();
}

std::int64_t Field::barIdAt(Cell cell) const {
    return cells_.contains(cell) ? cells_[cell] : -1;
}

std::optional<Bar> Field::barAt(std::uint64_t index) const {
    if (index == ~std::uint64_t{0}) return std::nullopt;
    if (index >= bars_.size()) throw std::out_of_range("bar index lies outside the field's bar list");
    return bars_[static_cast<std::size_t>(index)];
}

std::optional<Bar> Field::barAt(Cell cell) const {
    return barAt(static_cast<std::uint64_t>(barIdAt(cell)));
}

Field::BarsWithinAreaSearch::BarsWithinAreaSearch(const Field& field)
    : field_(&field), nextBarRow_(static_cast<std::uint64_t>(field.width()),
                                  static_cast<std::uint64_t>(field.height()), noBarAbove) {
    for (const Bar& bar : field.bars())
        if (nextBarRow_.contains(bar._position)) nextBarRow_[bar._position] = bar._position.y;
    const auto width = static_cast<int>(field.width());
    const auto height = static_cast<int>(field.height());
    for (int x = 0; x < width; ++x)
        for (int y = height - 2; y >= 0; --y)
            if (nextBarRow_[{x, y}] == noBarAbove) nextBarRow_[{x, y}] = nextBarRow_[{x, y + 1}];
}

bool Field::BarsWithinAreaSearch::clip(LumetraMath::Rectangle& area) const {
    const LumetraMath::Rectangle bounds = nextBarRow_.bounds();
    area.lower.x = std::max(area.lower.x, 0);
    area.lower.y = std::max(area.lower.y, 0);
    area.upper.x = std::min(area.upper.x, bounds.upper.x);
    area.upper.y = std::min(area.upper.y, bounds.upper.y);
    // The row test also keeps a lower corner above the grid from reading past the table.
    return area.upper.x >= area.lower.x && area.upper.y >= area.lower.y;
}

void Field::BarsWithinAreaSearch::appendBars(LumetraMath::Rectangle area, std::vector<Bar>& bars) const {
    if (!clip(area)) return;
    const int top = area.upper.y;
    for (int x = area.lower.x; x <= area.upper.x; ++x) {
        for (std::int32_t row = nextBarRow_[{x, area.lower.y}]; row <= top;) {
            if (const std::optional<Bar> bar = field_->barAt(Cell{x, row})) bars.push_back(*bar);
            if (row == top) break;
            row = nextBarRow_[{x, row + 1}];
        }
    }
}

std::vector<Bar> Field::BarsWithinAreaSearch::getBars(LumetraMath::Rectangle area) const {
    std::vector<Bar> bars;
    appendBars(area, bars);
    return bars;
}

bool Field::BarsWithinAreaSearch::containsBars(LumetraMath::Rectangle area) const {
    if (!clip(area)) return false;
    for (int x = area.lower.x; x <= area.upper.x; ++x)
        if (nextBarRow_[{x, area.lower.y}] <= area.upper.y) return true;
    return false;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
