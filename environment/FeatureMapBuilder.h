#pragma once
// Builds the catalogue of a field straight into a FeatureMap, keeping one small record per pattern
// (up to quarter turns) where the calculator keeps lists and ordered maps per group. The map depends
// only on which patterns occur exactly once, not on the order in which the groups arrive.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "environment/Bar.h"
#include "environment/FeatureCalculator.h"
#include "environment/Field.h"
#include "environment/GroupKey.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class FeatureMapBuilder {
public:
    /// The field must outlive the builder.
    explicit FeatureMapBuilder(const Field& field) : field_(&field) {}

    /// Counts one occurrence of a group of the field's bars (at most four, fitting in 6 × 6 cells,
    /// as found in the field's cells); a group whose keys need more than 32 bits is refused with
    /// std::invalid_argument.
    void offer(std::span<const Bar> group);

    /// Key → field indices under each of the four turns, for every pattern without turn symmetry
    /// that was offered exactly once.
    FeatureMap build();

private:
    /// A group waiting for its pattern's slot, whose memory is being fetched meanwhile.
    struct Pending {
        std::uint32_t pattern;  // smallest of the four keys
        std::uint32_t size;
        std::array<std::uint32_t, largestGroupSize> barIds;
    };
    // A slot holds pattern << 32 | index into barIds_ | repeated flag.
    static constexpr std::uint64_t emptySlot = ~std::uint64_t{0};  // no key has all 32 bits set
    static constexpr std::uint64_t repeatedFlag = std::uint64_t{1} << 31;
    static constexpr std::size_t batchSize = 16;

    std::size_t firstSlot(std::uint32_t pattern) const;
    void flush();
    void grow();
    void count(const Pending& group);

    const Field* field_;
    std::vector<std::uint64_t> slots_;
    int slotBits_ = 0;
    std::size_t used_ = 0;
    /// Field indices of the first occurrence of each pattern, and its size.
    std::vector<std::array<std::uint32_t, largestGroupSize>> barIds_;
    std::vector<std::uint8_t> sizes_;
    std::array<Pending, batchSize> pending_{};
    std::size_t pendingCount_ = 0;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
