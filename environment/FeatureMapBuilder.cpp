#include "environment/FeatureMapBuilder.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

std::size_t FeatureMapBuilder::firstSlot(std::uint32_t pattern) const {
    // Multiplicative hashing: the top bits of the product pick the slot.
    return static_cast<std::size_t>((pattern * 0x9E3779B97F4A7C15ul) >> (64 - slotBits_));
}

void FeatureMapBuilder::grow() {
    const int bits = std::max(slotBits_ + 1, 8);
    std::vector<std::uint64_t> old(std::size_t{1} << bits, emptySlot);
    old.swap(slots_);
    slotBits_ = bits;
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint64_t slot : old) {
        if (slot == emptySlot) continue;
        std::size_t at = firstSlot(static_cast<std::uint32_t>(slot >> 32));
        while (slots_[at] != emptySlot) at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

void FeatureMapBuilder::offer(std::span<const Bar> group) {
    const std::array<unsigned long, 4> keys = groupKeys(group);
    if (!allDifferent(keys)) return;
    if (*std::max_element(keys.begin(), keys.end()) >= emptySlot >> 32)
        throw std::invalid_argument("bar group too wide for a catalogue key");
    Pending& waiting = pending_[pendingCount_++];
    waiting.pattern = static_cast<std::uint32_t>(*std::min_element(keys.begin(), keys.end()));
    waiting.size = static_cast<std::uint32_t>(group.size());
    for (std::size_t k = 0; k < group.size(); ++k)
        waiting.barIds[k] = static_cast<std::uint32_t>(field_->barIdAt(group[k]._position));
    // Large catalogues miss the cache on nearly every slot; fetching a batch at once overlaps the waits.
    if (!slots_.empty()) __builtin_prefetch(&slots_[firstSlot(waiting.pattern)]);
    if (pendingCount_ == batchSize) flush();
}

void FeatureMapBuilder::flush() {
    for (std::size_t i = 0; i < pendingCount_; ++i) count(pending_[i]);
    pendingCount_ = 0;
}

void FeatureMapBuilder::count(const Pending& group) {
    if (4 * (used_ + 1) > 3 * slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = firstSlot(group.pattern);
    for (; slots_[at] != emptySlot; at = (at + 1) & mask) {
        if (slots_[at] >> 32 == group.pattern) {
            slots_[at] |= repeatedFlag;
            return;
        }
    }
    if (barIds_.size() >= repeatedFlag) throw std::length_error("too many bar patterns in one catalogue");
    slots_[at] = std::uint64_t{group.pattern} << 32 | barIds_.size();
    ++used_;
    barIds_.push_back(group.barIds);
    sizes_.push_back(static_cast<std::uint8_t>(group.size));
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

FeatureMap FeatureMapBuilder::build() {
    flush();
    std::vector<Entry> entries;
    entries.reserve(4 * static_cast<std::size_t>(std::count_if(slots_.begin(), slots_.end(), [](std::uint64_t slot) {
                        return slot != emptySlot && !(slot & repeatedFlag);
                    })));
    for (const std::uint64_t slot : slots_) {
        if (slot == emptySlot || (slot & repeatedFlag)) continue;
        const auto pattern = static_cast<std::size_t>(slot & (repeatedFlag - 1));
        const std::size_t size = std::min<std::size_t>(sizes_[pattern], largestGroupSize);
        std::array<Bar, largestGroupSize> bars;
        for (std::size_t k = 0; k < size; ++k) bars[k] = field_->bars()[barIds_[pattern][k]];
        for (unsigned turn = 0; turn < 4; ++turn) {
            const TurnedGroupKey turned = turnedGroupKey(std::span<const Bar>(bars.data(), size), turn);
            Entry& entry = entries.emplace_back(Entry{static_cast<std::uint32_t>(turned.key),
                                                      static_cast<std::uint32_t>(size), {}});
            for (std::size_t k = 0; k < size; ++k) entry.barIds[k] = barIds_[pattern][turned.order[k]];
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
