#include "environment/FeatureMapBuilder.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <stdexcept>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

std::size_t FeatureMapBuilder::slotOf(unsigned long key) const {
    // Multiplicative hashing: the top bits of the product pick the slot.
    const std::size_t mask = slotKeys_.size() - 1;
    std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ul) >> (64 - std::countr_zero(slotKeys_.size())));
    while (slotKeys_[slot] != emptySlot && slotKeys_[slot] != key) slot = (slot + 1) & mask;
    return slot;
}

void FeatureMapBuilder::grow() {
    std::vector<unsigned long> oldKeys(std::max<std::size_t>(64, slotKeys_.size() * 2), emptySlot);
    std::vector<std::uint32_t> oldPatterns(oldKeys.size());
    oldKeys.swap(slotKeys_);
    oldPatterns.swap(slotPatterns_);
    for (std::size_t i = 0; i < oldKeys.size(); ++i) {
        if (oldKeys[i] == emptySlot) continue;
        const std::size_t slot = slotOf(oldKeys[i]);
        slotKeys_[slot] = oldKeys[i];
        slotPatterns_[slot] = oldPatterns[i];
    }
}

void FeatureMapBuilder::offer(std::span<const Bar> group) {
    const std::array<unsigned long, 4> keys = groupKeys(group);
    if (!allDifferent(keys)) return;
    const unsigned long pattern = *std::min_element(keys.begin(), keys.end());
    if (2 * (patterns_.size() + 1) > slotKeys_.size()) grow();
    const std::size_t slot = slotOf(pattern);
    if (slotKeys_[slot] == pattern) {
        patterns_[slotPatterns_[slot]].repeated = true;
        return;
    }
    if (patterns_.size() >= std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many bar patterns in one catalogue");
    Pattern added;
    added.size = static_cast<std::uint8_t>(group.size());
    for (std::size_t k = 0; k < group.size(); ++k)
        added.barIds[k] = static_cast<std::uint32_t>(field_->barIdAt(group[k]._position));
    slotKeys_[slot] = pattern;
    slotPatterns_[slot] = static_cast<std::uint32_t>(patterns_.size());
    patterns_.push_back(added);
}

std::span<const Bar> FeatureMapBuilder::barsOf(const Pattern& pattern,
                                               std::array<Bar, largestGroupSize>& storage) const {
    const std::size_t size = std::min<std::size_t>(pattern.size, storage.size());
    for (std::size_t k = 0; k < size; ++k) storage[k] = field_->bars()[pattern.barIds[k]];
    return {storage.data(), size};
}

FeatureMap FeatureMapBuilder::build() const {
    struct Entry {
        unsigned long key;
        std::uint32_t pattern;
        std::uint8_t turn;
    };
    std::vector<Entry> entries;
    std::array<Bar, largestGroupSize> storage;
    for (std::size_t p = 0; p < patterns_.size(); ++p) {
        if (patterns_[p].repeated) continue;
        const std::array<unsigned long, 4> keys = groupKeys(barsOf(patterns_[p], storage));
        for (std::uint8_t turn = 0; turn < 4; ++turn)
            entries.push_back({keys[turn], static_cast<std::uint32_t>(p), turn});
    }
    // Keys of different patterns differ, so the sorted entries can be appended at the map's end.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
    FeatureMap features;
    for (const Entry& entry : entries) {
        const Pattern& pattern = patterns_[entry.pattern];
        const TurnedGroupKey turned = turnedGroupKey(barsOf(pattern, storage), entry.turn);
        std::vector<unsigned long> indices(pattern.size);
        for (std::size_t k = 0; k < pattern.size; ++k) indices[k] = pattern.barIds[turned.order[k]];
        features.emplace_hint(features.end(), entry.key, std::move(indices));
    }
    return features;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
