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
    FeatureMap build() const;

private:
    struct Pattern {
        std::array<std::uint32_t, largestGroupSize> barIds{};
        std::uint8_t size = 0;
        bool repeated = false;
    };
    static constexpr unsigned long emptySlot = ~0ul;  // no key has all bits set

    std::span<const Bar> barsOf(const Pattern& pattern, std::array<Bar, largestGroupSize>& storage) const;
    std::size_t slotOf(unsigned long key) const;
    void grow();

    const Field* field_;
    std::vector<Pattern> patterns_;
    /// Open addressing from a pattern's smallest key to its index in patterns_.
    std::vector<unsigned long> slotKeys_;
    std::vector<std::uint32_t> slotPatterns_;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
