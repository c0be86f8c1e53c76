#pragma once
// Offers every group of one to four bars of a field that fits in a window of at most 6 × 6 cells,
// each exactly once, in a fixed order.
//
// The window moves row pass by row pass and, within a pass, column by column, skipping positions
// whose new rows or left column hold no bar. At each position the bars fall into four parts: new
// columns and new rows (A), new columns and old rows (B), old columns and new rows (C), old columns
// and old rows (D). Groups lying only in old rows or only in old columns were offered at an earlier
// position; the others touch A, or touch both B and C. So the first phase offers the groups of
// A, B, C, D holding a bar of A, and the second the groups of B, C, D holding bars of both B and C.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "catalogue/DescentGroups.h"
#include "catalogue/GroupKey.h"
#include "catalogue/OfferedGroupBudget.h"
#include "grid/Bar.h"
#include "grid/Field.h"
#include "math/Rectangle.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Calls offer(std::span<const Bar> group, std::span<const std::size_t> barIds) for every group of
/// the field, as described above; barIds[k] is the field's list position of group[k]. Groups of four
/// bars spanning `shorterSpanLimit` cells or more in both directions are skipped (forEachDescentGroup).
template <typename Offer>
void forEachWindowGroup(const Field& field, const Field::BarsWithinAreaSearch& search, bool largestOnly,
                        OfferedGroupBudget& budget, Offer&& offer,
                        std::int64_t shorterSpanLimit = Combination::side) {
    constexpr std::int64_t windowSide = Combination::side;
    const std::int64_t width = field.width();
    const std::int64_t height = field.height();
    const std::int64_t windowWidth = std::min(width, windowSide);
    const std::int64_t windowHeight = std::min(height, windowSide);
    // Every corner lies in [−1, side] of a field whose sides fit in 31 bits.
    const auto cells = [](std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
        return LumetraMath::Rectangle{{static_cast<int>(x0), static_cast<int>(y0)},
                                      {static_cast<int>(x1), static_cast<int>(y1)}};
    };

    std::vector<Bar> parts;
    std::vector<std::size_t> partIds;
    std::array<Bar, largestGroupSize> group;
    std::array<std::size_t, largestGroupSize> groupIds;
    const auto offerGroupsOf = [&](std::size_t first, std::span<const RequiredRun> required) {
        const auto list = std::span<const Bar>(parts).subspan(first);
        const auto listIds = std::span<const std::size_t>(partIds).subspan(first);
        forEachDescentGroup(list, required, largestOnly, [&](GroupIndices indices) {
            budget.spend();
            for (std::size_t k = 0; k < indices.size(); ++k) {
                group[k] = list[indices[k]];
                groupIds[k] = listIds[indices[k]];
            }
            offer(std::span<const Bar>(group.data(), indices.size()),
                  std::span<const std::size_t>(groupIds.data(), indices.size()));
        }, shorterSpanLimit);
    };

    std::int64_t prevRow = -1;
    for (std::int64_t top = windowHeight - 1; top < height; ++top) {
        if (!search.containsBars(cells(0, prevRow + 1, width - 1, top))) continue;
        const std::int64_t bottom = top - windowHeight + 1;
        std::int64_t prevCol = -1;
        for (std::int64_t right = windowWidth - 1; right < width; ++right) {
            const std::int64_t left = right - windowWidth + 1;
            if (right != width - 1 && !search.containsBars(cells(left, bottom, left, top))) continue;
            parts.clear();
            partIds.clear();
            search.appendBars(cells(prevCol + 1, prevRow + 1, right, top), parts, partIds);
            const std::size_t sizeA = parts.size();
            search.appendBars(cells(prevCol + 1, bottom, right, prevRow), parts, partIds);
            const std::size_t sizeB = parts.size() - sizeA;
            search.appendBars(cells(left, prevRow + 1, prevCol, top), parts, partIds);
            const std::size_t sizeC = parts.size() - sizeA - sizeB;
            search.appendBars(cells(left, bottom, prevCol, prevRow), parts, partIds);

            const std::array<RequiredRun, 1> newCells{{{0, sizeA}}};
            if (sizeA > 0) offerGroupsOf(0, newCells);
            const std::array<RequiredRun, 2> acrossOldCells{{{0, sizeB}, {sizeB, sizeB + sizeC}}};
            if (sizeB > 0 && sizeC > 0) offerGroupsOf(sizeA, acrossOldCells);
            prevCol = right;
        }
        prevRow = top;
    }
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
