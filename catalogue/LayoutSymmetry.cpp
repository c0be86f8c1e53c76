#include "catalogue/LayoutSymmetry.h"

#include <algorithm>

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Cell = LumetraMath::vector<std::int64_t, 2>;

constexpr std::size_t maxBars = 4096;
constexpr std::int64_t maxSpan = 512;

/// A cell turned by c quarter turns counter-clockwise about the origin.
Cell turned(Cell p, int c) {
    switch (c & 3) {
        case 1: return {-p.y, p.x};
        case 2: return {-p.x, -p.y};
        case 3: return {p.y, -p.x};
        default: return p;
    }
}

Cell cellOf(const Bar& bar) { return {bar._position.x, bar._position.y}; }

/// Bars per inclusive cell rectangle, from prefix sums over the grid.
class BarCounts {
public:
    explicit BarCounts(const Field& field)
        : width_(field.width()), height_(field.height()),
          sums_(static_cast<std::size_t>((width_ + 1) * (height_ + 1)), 0) {
        for (const Bar& bar : field.bars())
            if (field.barIdAt(bar._position) >= 0) ++at(bar._position.x + 1, bar._position.y + 1);
        for (std::int64_t x = 1; x <= width_; ++x)
            for (std::int64_t y = 1; y <= height_; ++y) at(x, y) += at(x - 1, y) + at(x, y - 1) - at(x - 1, y - 1);
    }

    std::size_t count(Cell low, Cell high) {
        low = {std::max<std::int64_t>(low.x, 0), std::max<std::int64_t>(low.y, 0)};
        high = {std::min(high.x, width_ - 1), std::min(high.y, height_ - 1)};
        if (low.x > high.x || low.y > high.y) return 0;
        return at(high.x + 1, high.y + 1) - at(low.x, high.y + 1) - at(high.x + 1, low.y) + at(low.x, low.y);
    }

private:
    std::size_t& at(std::int64_t x, std::int64_t y) { return sums_[static_cast<std::size_t>(x * (height_ + 1) + y)]; }

    std::int64_t width_, height_;
    std::vector<std::size_t> sums_;
};

/// The bars the motion carries into the grid: those in the preimage of the grid, a rectangle.
std::size_t carriedInside(BarCounts& counts, const Field& field, int turn, Cell shift) {
    const int back = (4 - turn) & 3;
    const Cell a = turned({-shift.x, -shift.y}, back);
    const Cell b = turned({field.width() - 1 - shift.x, field.height() - 1 - shift.y}, back);
    return counts.count({std::min(a.x, b.x), std::min(a.y, b.y)}, {std::max(a.x, b.x), std::max(a.y, b.y)});
}

}  // namespace

LayoutSymmetries findLayoutSymmetries(const Field& field) {
    LayoutSymmetries found;
    const std::vector<Bar>& bars = field.bars();
    if (bars.size() > maxBars || field.width() > maxSpan || field.height() > maxSpan) {
        found.examined = false;
        return found;
    }
    if (bars.size() < symmetryMinimumMatched) return found;

    // A turned cell lies within ±span of the origin and a cell within [0, span), so a shift lies in
    // (−span, 2·span).
    const std::int64_t span = std::max(field.width(), field.height());
    const std::int64_t side = 3 * span;
    std::vector<std::uint32_t> votes(static_cast<std::size_t>(side * side));
    BarCounts counts(field);
    for (int turn = 0; turn < 4; ++turn) {
        std::fill(votes.begin(), votes.end(), 0u);
        for (const Bar& from : bars) {
            const Cell start = turned(cellOf(from), turn);
            for (const Bar& to : bars)
                if (to.rotation() == ((from.rotation() + static_cast<unsigned>(turn)) & 3u)) {
                    const Cell shift = cellOf(to) - start;
                    ++votes[static_cast<std::size_t>((shift.x + span) * side + shift.y + span)];
                }
        }
        for (std::int64_t i = 0; i < side * side; ++i) {
            const std::size_t matched = votes[static_cast<std::size_t>(i)];
            const Cell shift{i / side - span, i % side - span};
            if (matched < symmetryMinimumMatched || (turn == 0 && shift.x == 0 && shift.y == 0)) continue;
            const std::size_t inside = carriedInside(counts, field, turn, shift);
            if (static_cast<double>(matched) < symmetryMinimumShare * static_cast<double>(inside)) continue;

            LayoutSymmetry symmetry{turn, {static_cast<int>(shift.x), static_cast<int>(shift.y)}, matched, inside, {}};
            symmetry.image.reserve(bars.size());
            for (const Bar& bar : bars) {
                const Cell to = turned(cellOf(bar), turn) + shift;
                const bool onGrid = to.x >= 0 && to.y >= 0 && to.x < field.width() && to.y < field.height();
                const std::int64_t id = onGrid ? field.barIdAt({static_cast<int>(to.x), static_cast<int>(to.y)}) : -1;
                const bool same = id >= 0 && field.bars()[static_cast<std::size_t>(id)].rotation() ==
                                                 ((bar.rotation() + static_cast<unsigned>(turn)) & 3u);
                symmetry.image.push_back(same ? id : -1);
            }
            found.symmetries.push_back(std::move(symmetry));
        }
    }
    return found;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
