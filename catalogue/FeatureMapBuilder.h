#pragma once
// Builds the catalogue of a field straight into a FlatFeatureMap from small records of the offered
// groups, where the calculator keeps lists and ordered maps per group. Sorting the groups by pattern
// (the smallest of a group's keys, the same for every turned copy) finds the patterns offered once;
// sorting their keys gives the map. It depends only on which patterns occur exactly once, not on the
// order in which the groups arrive.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "catalogue/FlatFeatureMap.h"
#include "catalogue/GroupKey.h"
#include "grid/Bar.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class FeatureMapBuilder {
public:
    /// For groups of a field of `barCount` bars, numbered in 32 bits (more throw std::length_error).
    explicit FeatureMapBuilder(std::size_t barCount);

    /// Counts one occurrence of a group of the field's bars (one to four, fitting in 6 × 6 cells,
    /// as found in the field's cells), barIds[k] being the field's list position of group[k]. Other
    /// sizes, groups spanning more cells and indices not naming a bar are refused with
    /// std::invalid_argument.
    void offer(std::span<const Bar> group, std::span<const std::size_t> barIds);

    /// Key → field indices under each of the four turns, for every pattern without turn symmetry
    /// that was offered exactly once. Uses up the builder.
    FlatFeatureMap build() &&;

    /// The entry of build() with the smallest key that `catalogue` holds, if any, without building
    /// the others.
    std::optional<FlatFeatureMap::Entry> firstIn(const FlatFeatureMap& catalogue) const;
    /// Forgets every offered group and takes groups of a field of `barCount` bars from now on,
    /// keeping the memory of its lists.
    void reset(std::size_t barCount);
    /// Forgets every offered group and gives back the memory of its lists.
    void release() {
        std::vector<Occurrence>().swap(occurrences_);
        std::vector<std::array<std::uint32_t, 4>>().swap(keys_);
    }

private:
    /// Per offered group, whether its pattern was offered exactly once.
    std::vector<bool> offeredOnce(std::size_t& count) const;
    /// key << 32 | group << 2 | turn for every turn of every feature, in group order.
    std::vector<std::uint64_t> featureItems() const;
    /// The entry of `group` under `turn`.
    FlatFeatureMap::Entry entry(std::uint32_t key, std::size_t group, unsigned turn) const;

    /// What the entries of an offered group need.
    struct Occurrence {
        std::array<std::uint32_t, largestGroupSize> barIds;  // field indices, in offered order
        std::uint32_t orders;  // as GroupKeysAndOrders::orders
        std::uint32_t size;
    };

    std::size_t barCount_;
    /// Per offered group without turn symmetry, in offered order: its occurrence and its keys under
    /// the turns 0 to 3.
    std::vector<Occurrence> occurrences_;
    std::vector<std::array<std::uint32_t, 4>> keys_;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
