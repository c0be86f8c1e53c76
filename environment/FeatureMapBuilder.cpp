#include "environment/FeatureMapBuilder.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

/// Occurrences are numbered in the 30 bits that the sort items leave beside a turn.
constexpr std::size_t largestOccurrenceCount = std::size_t{1} << 30;

}  // namespace

FeatureMapBuilder::FeatureMapBuilder(const Field& field) : field_(&field) {
    if (field.bars().size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many bars for a feature catalogue");
}

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
    if (group.empty() || group.size() > largestGroupSize) throw std::invalid_argument("a feature holds one to four bars");
    Occurrence& waiting = pending_[pendingCount_];
    std::array<unsigned long, 4> keys{};
    for (unsigned turn = 0; turn < 4; ++turn) {
        const TurnedGroupKey turned = turnedGroupKey(group, turn);
        keys[turn] = turned.key;
        std::uint8_t order = 0;
        for (std::size_t k = 0; k < group.size(); ++k) order |= static_cast<std::uint8_t>(turned.order[k] << (2 * k));
        waiting.orders[turn] = order;
    }
    if (!allDifferent(keys)) return;
    if (*std::max_element(keys.begin(), keys.end()) >= emptySlot >> 32)
        throw std::invalid_argument("bar group too wide for a catalogue key");
    for (std::size_t turn = 0; turn < 4; ++turn) waiting.keys[turn] = static_cast<std::uint32_t>(keys[turn]);
    waiting.size = static_cast<std::uint8_t>(group.size());
    for (std::size_t k = 0; k < group.size(); ++k)
        waiting.barIds[k] = static_cast<std::uint32_t>(field_->barIdAt(group[k]._position));
    const std::uint32_t pattern = *std::min_element(waiting.keys.begin(), waiting.keys.end());
    pendingPatterns_[pendingCount_++] = pattern;
    // Large catalogues miss the cache on nearly every slot; fetching a batch at once overlaps the waits.
    if (!slots_.empty()) __builtin_prefetch(&slots_[firstSlot(pattern)]);
    if (pendingCount_ == batchSize) flush();
}

void FeatureMapBuilder::flush() {
    for (std::size_t i = 0; i < pendingCount_; ++i) count(pending_[i], pendingPatterns_[i]);
    pendingCount_ = 0;
}

void FeatureMapBuilder::count(const Occurrence& group, std::uint32_t pattern) {
    if (4 * (used_ + 1) > 3 * slots_.size()) grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = firstSlot(pattern);
    for (; slots_[at] != emptySlot; at = (at + 1) & mask) {
        if (slots_[at] >> 32 == pattern) {
            repeated_[static_cast<std::uint32_t>(slots_[at])] = 1;
            return;
        }
    }
    if (occurrences_.size() >= largestOccurrenceCount) throw std::length_error("too many bar patterns in one catalogue");
    slots_[at] = std::uint64_t{pattern} << 32 | occurrences_.size();
    ++used_;
    occurrences_.push_back(group);
    repeated_.push_back(0);
}

namespace {

/// Sorts by the upper 32 bits, eleven bits at a time from the lowest (a counting sort per digit):
/// far cheaper than comparison sorting for the hundreds of thousands of keys of a large catalogue.
void sortByUpperHalf(std::vector<std::uint64_t>& items) {
    if (items.size() < 256) {
        std::sort(items.begin(), items.end());  // the upper halves differ, so this orders them alone
        return;
    }
    constexpr unsigned digitBits = 11, passes = 3;
    constexpr std::size_t digits = std::size_t{1} << digitBits;
    const auto digitOf = [](std::uint64_t item, unsigned pass) {
        return static_cast<std::size_t>(item >> (32 + digitBits * pass) & (digits - 1));
    };
    std::vector<std::array<std::size_t, digits>> start(passes);
    for (const std::uint64_t item : items)
        for (unsigned pass = 0; pass < passes; ++pass) ++start[pass][digitOf(item, pass)];
    std::vector<std::uint64_t> sorted(items.size());
    for (unsigned pass = 0; pass < passes; ++pass) {
        std::array<std::size_t, digits>& next = start[pass];
        if (std::find(next.begin(), next.end(), items.size()) != next.end()) continue;  // one digit: no change
        std::size_t sum = 0;
        for (std::size_t& digitStart : next) sum += std::exchange(digitStart, sum);
        for (const std::uint64_t item : items) sorted[next[digitOf(item, pass)]++] = item;
        items.swap(sorted);
    }
}

}  // namespace

FlatFeatureMap FeatureMapBuilder::build() {
    flush();
    // One item per entry: key << 32 | occurrence << 2 | turn, sorted by key.
    std::vector<std::uint64_t> items;
    items.reserve(4 * static_cast<std::size_t>(std::count(repeated_.begin(), repeated_.end(), 0)));
    for (std::size_t i = 0; i < occurrences_.size(); ++i) {
        if (repeated_[i]) continue;
        for (std::uint64_t turn = 0; turn < 4; ++turn)
            items.push_back(std::uint64_t{occurrences_[i].keys[turn]} << 32 | i << 2 | turn);
    }
    sortByUpperHalf(items);

    std::vector<FlatFeatureMap::Entry> entries;
    entries.reserve(items.size());
    constexpr std::size_t lookAhead = 8;
    for (std::size_t i = 0; i < items.size(); ++i) {
        // The occurrences are read in key order, out of memory order: fetch a few ahead.
        if (i + lookAhead < items.size()) __builtin_prefetch(&occurrences_[static_cast<std::uint32_t>(items[i + lookAhead]) >> 2]);
        const auto low = static_cast<std::uint32_t>(items[i]);
        const Occurrence& occurrence = occurrences_[low >> 2];
        const unsigned order = occurrence.orders[low & 3];
        std::array<std::uint32_t, largestGroupSize> ids{};
        for (std::size_t k = 0; k < occurrence.size; ++k) ids[k] = occurrence.barIds[order >> (2 * k) & 3];
        entries.push_back({items[i] >> 32, FeatureBarIds(ids, occurrence.size)});
    }
    return FlatFeatureMap(std::move(entries));
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
