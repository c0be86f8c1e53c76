#pragma once
// The groups that the feature descent registers, enumerated directly.
//
// The descent walks the subsets of a bar list from the full set downwards, level by level, and
// registers those of at most four bars that keep a bar of every required run. Those reach
// registration in order of decreasing size and, within one size, in ascending lexicographic order
// of their index lists. Listing them directly in that order gives the same registrations at a cost
// polynomial in the list length, where the walk itself is exponential. Groups that do not fit in a
// 6 × 6 box are skipped: registration ignores them.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <type_traits>

#include "catalogue/Combination.h"
#include "catalogue/GroupKey.h"
#include "grid/Bar.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// A consecutive run [begin, end) of the list from which every group must hold a bar.
struct RequiredRun {
    std::size_t begin = 0;
    std::size_t end = 0;
};

/// Positions in the list of a group's bars, ascending.
using GroupIndices = std::span<const std::size_t>;

namespace detail {

template <typename Visit>
class DescentGroupEnumeration {
public:
    DescentGroupEnumeration(std::span<const Bar> list, std::span<const RequiredRun> required, Visit& visit,
                            std::int64_t shorterSpanLimit)
        : list_(list), required_(required), visit_(visit), shorterSpanLimit_(shorterSpanLimit) {
        if (required.size() > 32) throw std::invalid_argument("at most 32 required runs");
        allRuns_ = required.empty() ? 0u : ~std::uint32_t{0} >> (32 - required.size());
    }

    void run(std::size_t size) {
        size_ = std::min(size, largestGroupSize);
        extend(0, 0, 0, Box{});
    }

private:
    struct Box {
        std::int64_t minX = 0, maxX = 0, minY = 0, maxY = 0;

        static Box of(const Bar& bar) {
            return {bar._position.x, bar._position.x, bar._position.y, bar._position.y};
        }
        Box with(const Bar& bar) const {
            return {std::min<std::int64_t>(minX, bar._position.x), std::max<std::int64_t>(maxX, bar._position.x),
                    std::min<std::int64_t>(minY, bar._position.y), std::max<std::int64_t>(maxY, bar._position.y)};
        }
        bool fits() const { return maxX - minX < Combination::side && maxY - minY < Combination::side; }
        std::int64_t shorterSpan() const { return std::min(maxX - minX, maxY - minY); }
    };

    /// Number of runs in a set; sets hold one or two runs, so clearing bit by bit beats the library
    /// call that a population count becomes without a processor-specific build.
    static std::size_t runCount(std::uint32_t runs) {
        std::size_t count = 0;
        for (; runs != 0; runs &= runs - 1) ++count;
        return count;
    }

    std::uint32_t runsHolding(std::size_t i) const {
        std::uint32_t runs = 0;
        for (std::size_t r = 0; r < required_.size(); ++r)
            if (i >= required_[r].begin && i < required_[r].end) runs |= std::uint32_t{1} << r;
        return runs;
    }

    /// Whether a run not yet covered ends at or before position i, so later picks cannot cover it.
    bool runLost(std::uint32_t covered, std::size_t i) const {
        for (std::size_t r = 0; r < required_.size(); ++r)
            if (!(covered >> r & 1u) && required_[r].end <= i) return true;
        return false;
    }

    void extend(std::size_t depth, std::size_t start, std::uint32_t covered, const Box& box) {
        if (depth >= size_) return;  // never taken; bounds the recursion for the optimiser
        const std::size_t picksAfter = size_ - depth - 1;
        for (std::size_t i = start; i + picksAfter < list_.size(); ++i) {
            if (runLost(covered, i)) return;
            const std::uint32_t now = covered | runsHolding(i);
            if (runCount(allRuns_ & ~now) > picksAfter) continue;
            const Box grown = depth == 0 ? Box::of(list_[i]) : box.with(list_[i]);
            // A part's shorter span never exceeds the whole group's.
            if (!grown.fits() || (size_ == largestGroupSize && grown.shorterSpan() >= shorterSpanLimit_)) continue;
            chosen_[depth] = i;
            if (picksAfter == 0)
                visit_(GroupIndices(chosen_.data(), std::min(size_, largestGroupSize)));  // bounded for the optimiser
            else
                extend(depth + 1, i + 1, now, grown);
        }
    }

    std::span<const Bar> list_;
    std::span<const RequiredRun> required_;
    Visit& visit_;
    std::int64_t shorterSpanLimit_;
    std::uint32_t allRuns_ = 0;
    std::size_t size_ = 0;
    std::array<std::size_t, largestGroupSize> chosen_{};
};

}  // namespace detail

/// Calls visit(GroupIndices) for every group the descent over `list` would register, in its order.
/// With `largestOnly` the descent stops at its first level of at most four bars: only groups of
/// min(4, list size) bars are visited. Groups of four bars whose cells span `shorterSpanLimit` or
/// more in both directions (the shorter side of their box minus one) are skipped.
template <typename Visit>
void forEachDescentGroup(std::span<const Bar> list, std::span<const RequiredRun> required, bool largestOnly,
                         Visit&& visit, std::int64_t shorterSpanLimit = Combination::side) {
    detail::DescentGroupEnumeration<std::remove_reference_t<Visit>> enumeration(list, required, visit,
                                                                                shorterSpanLimit);
    for (std::size_t size = std::min(list.size(), largestGroupSize); size > 0; --size) {
        enumeration.run(size);
        if (largestOnly) break;
    }
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
