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
    if (*std::max_element(keys.begin(), keys.end()) > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("bar group too wide for a catalogue key");
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

namespace {

/// One key of the result with the field indices of its bars in the order of that key's turn.
struct Entry {
    std::uint32_t key;
    std::uint32_t size;
    std::array<std::uint32_t, largestGroupSize> barIds;
};

/// Sorts by key, byte by byte from the lowest (a stable counting sort per byte): far cheaper than
/// comparison sorting for the hundreds of thousands of keys of a large catalogue.
void sortByKey(std::vector<Entry>& entries) {
    if (entries.size() < 256) {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
        return;
    }
    std::vector<Entry> sorted(entries.size());
    for (unsigned shift = 0; shift < 32; shift += 8) {
        std::array<std::size_t, 257> start{};
        for (const Entry& entry : entries) ++start[(entry.key >> shift & 0xFF) + 1];
        if (std::find(start.begin(), start.end(), entries.size()) != start.end()) continue;  // one value: no change
        for (std::size_t digit = 1; digit < start.size(); ++digit) start[digit] += start[digit - 1];
        for (const Entry& entry : entries) sorted[start[entry.key >> shift & 0xFF]++] = entry;
        entries.swap(sorted);
    }
}

}  // namespace

FeatureMap FeatureMapBuilder::build() const {
    std::vector<Entry> entries;
    std::array<Bar, largestGroupSize> storage;
    for (const Pattern& pattern : patterns_) {
        if (pattern.repeated) continue;
        const std::span<const Bar> bars = barsOf(pattern, storage);
        for (unsigned turn = 0; turn < 4; ++turn) {
            const TurnedGroupKey turned = turnedGroupKey(bars, turn);
            Entry& entry = entries.emplace_back(Entry{static_cast<std::uint32_t>(turned.key),
                                                      static_cast<std::uint32_t>(bars.size()), {}});
            for (std::size_t k = 0; k < bars.size(); ++k) entry.barIds[k] = pattern.barIds[turned.order[k]];
        }
    }
    sortByKey(entries);
    // Keys of different patterns differ, so the sorted entries are appended at the map's end.
    FeatureMap features;
    for (const Entry& entry : entries)
        features.emplace_hint(features.end(), entry.key,
                              std::vector<unsigned long>(entry.barIds.begin(), entry.barIds.begin() + entry.size));
    return features;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
