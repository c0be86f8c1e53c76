#pragma once
// Builds the catalogue of a field straight into a FlatFeatureMap, keeping one small record per pattern
// (up to quarter turns) where the calculator keeps lists and ordered maps per group. The map depends
// only on which patterns occur exactly once, not on the order in which the groups arrive.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "environment/Bar.h"
#include "environment/Field.h"
#include "environment/FlatFeatureMap.h"
#include "environment/GroupKey.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class FeatureMapBuilder {
public:
    /// The field must outlive the builder; its bars are numbered in 32 bits (more throw
    /// std::length_error).
    explicit FeatureMapBuilder(const Field& field);

    /// Counts one occurrence of a group of the field's bars (one to four, fitting in 6 × 6 cells,
    /// as found in the field's cells); other sizes, and groups whose keys need more than 32 bits,
    /// are refused with std::invalid_argument.
    void offer(std::span<const Bar> group);

    /// Key → field indices under each of the four turns, for every pattern without turn symmetry
    /// that was offered exactly once.
    FlatFeatureMap build();

private:
    /// The first occurrence of a pattern: what its four entries need.
    struct Occurrence {
        std::array<std::uint32_t, 4> keys;  // under the turns 0 to 3
        std::array<std::uint32_t, largestGroupSize> barIds;  // field indices, in offered order
        /// Per turn, two bits per place k: the position in barIds of the bar at place k.
        std::array<std::uint8_t, 4> orders;
        std::uint8_t size;
    };
    // A slot holds pattern << 32 | index into occurrences_.
    static constexpr std::uint64_t emptySlot = ~std::uint64_t{0};  // no key has all 32 bits set
    static constexpr std::size_t batchSize = 16;

    std::size_t firstSlot(std::uint32_t pattern) const;
    void flush();
    void grow();
    void count(const Occurrence& group, std::uint32_t pattern);

    const Field* field_;
    std::vector<std::uint64_t> slots_;
    int slotBits_ = 0;
    std::size_t used_ = 0;
    std::vector<Occurrence> occurrences_;
    /// Per occurrence: whether its pattern was offered again.
    std::vector<std::uint8_t> repeated_;
    /// Groups waiting for their pattern's slot, whose memory is being fetched meanwhile; the
    /// pattern of each is the smallest of its keys.
    std::array<Occurrence, batchSize> pending_{};
    std::array<std::uint32_t, batchSize> pendingPatterns_{};
    std::size_t pendingCount_ = 0;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
