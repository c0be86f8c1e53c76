#include "catalogue/FeatureMapBuilder.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <stdexcept>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

/// Groups are numbered in the 30 bits that the sort items leave beside a turn.
constexpr std::size_t largestGroupCount = std::size_t{1} << 30;

/// Sorts by the upper 32 bits, a digit of `digitBits` bits at a time from the lowest (a counting sort
/// per digit): far cheaper than comparison sorting for the thousands to millions of keys of a
/// catalogue.
template <unsigned digitBits>
void sortByUpperHalfInDigits(std::vector<std::uint64_t>& items) {
    constexpr unsigned passes = (32 + digitBits - 1) / digitBits;
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

/// Bytes for the few thousand keys of an observation, three wider digits for large catalogues.
void sortByUpperHalf(std::vector<std::uint64_t>& items) {
    if (items.size() < 256)
        std::sort(items.begin(), items.end());
    else if (items.size() < 32768)
        sortByUpperHalfInDigits<8>(items);
    else
        sortByUpperHalfInDigits<11>(items);
}

}  // namespace

FeatureMapBuilder::FeatureMapBuilder(std::size_t barCount) { reset(barCount); }

void FeatureMapBuilder::reset(std::size_t barCount) {
    if (barCount > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many bars for a feature catalogue");
    barCount_ = barCount;
    occurrences_.clear();
    keys_.clear();
}

void FeatureMapBuilder::offer(std::span<const Bar> group, std::span<const std::size_t> barIds) {
    if (group.empty() || group.size() > largestGroupSize)
        throw std::invalid_argument("a feature holds one to four bars");
    if (barIds.size() != group.size() ||
        std::any_of(barIds.begin(), barIds.end(), [this](std::size_t id) { return id >= barCount_; }))
        throw std::invalid_argument("one field index per bar of a group");
    GroupKeysAndOrders turned;
    if (!groupKeysAndOrders(group, turned)) throw std::invalid_argument("bar group too wide for a catalogue key");
    if (!allDifferent(turned.keys)) return;
    if (occurrences_.size() >= largestGroupCount) throw std::length_error("too many bar groups in one catalogue");
    keys_.push_back(turned.keys);
    Occurrence& occurrence = occurrences_.emplace_back();
    occurrence.orders = turned.orders;
    occurrence.size = static_cast<std::uint32_t>(group.size());
    for (std::size_t k = 0; k < group.size(); ++k) occurrence.barIds[k] = static_cast<std::uint32_t>(barIds[k]);
}

std::vector<bool> FeatureMapBuilder::offeredOnce(std::size_t& count) const {
    // Groups in order of pattern: a pattern offered once is a feature.
    std::vector<std::uint64_t> patterns;  // pattern << 32 | group
    patterns.reserve(keys_.size());
    for (std::uint64_t group = 0; group < keys_.size(); ++group)
        patterns.push_back(std::uint64_t{*std::min_element(keys_[group].begin(), keys_[group].end())} << 32 | group);
    sortByUpperHalf(patterns);
    std::vector<bool> once(keys_.size(), false);
    count = 0;
    for (std::size_t run = 0, next = 0; run < patterns.size(); run = next) {
        for (next = run + 1; next < patterns.size() && patterns[next] >> 32 == patterns[run] >> 32;) ++next;
        if (next - run > 1) continue;
        once[static_cast<std::uint32_t>(patterns[run])] = true;
        ++count;
    }
    return once;
}

FlatFeatureMap::Entry FeatureMapBuilder::entry(std::uint32_t key, std::size_t group, unsigned turn) const {
    FlatFeatureMap::Entry result;
    result.first = key;
    const Occurrence& occurrence = occurrences_[group];
    for (std::size_t k = 0; k < occurrence.size; ++k)
        result.second.push_back(occurrence.barIds[occurrence.orders >> (8 * turn + 2 * k) & 3u]);
    return result;
}

std::vector<std::uint64_t> FeatureMapBuilder::featureItems() const {
    // Every feature is listed under its four keys.
    std::size_t featureCount = 0;
    const std::vector<bool> feature = offeredOnce(featureCount);
    std::vector<std::uint64_t> items;
    items.reserve(4 * featureCount);
    for (std::uint64_t group = 0; group < keys_.size(); ++group) {
        if (!feature[group]) continue;
        for (std::uint64_t turn = 0; turn < 4; ++turn)
            items.push_back(std::uint64_t{keys_[group][turn]} << 32 | group << 2 | turn);
    }
    return items;
}

FlatFeatureMap FeatureMapBuilder::build() && {
    std::vector<std::uint64_t> items = featureItems();
    std::vector<std::array<std::uint32_t, 4>>().swap(keys_);
    sortByUpperHalf(items);

    std::vector<FlatFeatureMap::Entry> entries;
    entries.reserve(items.size());
    constexpr std::size_t lookAhead = 16;
    for (std::size_t i = 0; i < items.size(); ++i) {
        // The occurrences are read in key order, out of memory order: fetch ahead, both ends of one.
        if (i + lookAhead < items.size()) {
            const Occurrence* ahead = &occurrences_[static_cast<std::uint32_t>(items[i + lookAhead]) >> 2];
            __builtin_prefetch(ahead);
            __builtin_prefetch(&ahead->size);
        }
        const auto low = static_cast<std::uint32_t>(items[i]);
        const Occurrence& occurrence = occurrences_[low >> 2];
        // Written in place: an entry assembled elsewhere and copied in stalls on the copy.
        FlatFeatureMap::Entry& written = entries.emplace_back();
        written.first = static_cast<std::uint32_t>(items[i] >> 32);
        for (std::size_t k = 0; k < occurrence.size; ++k)
            written.second.push_back(occurrence.barIds[occurrence.orders >> (8 * (low & 3) + 2 * k) & 3u]);
    }
    return FlatFeatureMap(std::move(entries));
}

std::optional<FlatFeatureMap::Entry> FeatureMapBuilder::firstIn(const FlatFeatureMap& catalogue) const {
    // The features' keys as a heap, smallest on top: the first key the catalogue holds usually comes
    // after a few, so the rest is never put in order. Keys are distinct, as in build().
    std::vector<std::uint64_t> items = featureItems();
    const auto above = std::greater<std::uint64_t>();
    std::make_heap(items.begin(), items.end(), above);
    for (auto end = items.end(); end != items.begin(); --end) {
        const std::uint64_t item = items.front();
        const auto key = static_cast<std::uint32_t>(item >> 32);
        if (catalogue.contains(key))
            return entry(key, static_cast<std::uint32_t>(item) >> 2, static_cast<std::uint32_t>(item) & 3u);
        std::pop_heap(items.begin(), end, above);
    }
    return std::nullopt;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
