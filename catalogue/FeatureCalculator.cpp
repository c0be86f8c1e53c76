#include "catalogue/FeatureCalculator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "catalogue/FeatureMapBuilder.h"
#include "catalogue/GroupKey.h"
#include "catalogue/WindowGroupScan.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

/// Maps the coordinates of bars along one axis onto a short range: every gap of six or more cells
/// between neighbouring occupied values shrinks to six. No group spans such a gap, and every window
/// keeps the same bars in the same parts, so the catalogue is unchanged, while bars observed far
/// apart (or at extreme coordinates) no longer ask for a field spanning the whole distance.
class CompactAxis {
public:
    explicit CompactAxis(std::vector<int> values) : values_(std::move(values)) {
        std::sort(values_.begin(), values_.end());
        values_.erase(std::unique(values_.begin(), values_.end()), values_.end());
        compact_.resize(values_.size());
        for (std::size_t k = 1; k < values_.size(); ++k)
            compact_[k] = compact_[k - 1] + std::min<std::int64_t>(std::int64_t{values_[k]} - values_[k - 1],
                                                                    Combination::side);
    }

    /// Number of cells the compact values span.
    unsigned long extent() const { return static_cast<unsigned long>(compact_.back() + 1); }

    int operator()(int value) const {
        const auto at = std::lower_bound(values_.begin(), values_.end(), value) - values_.begin();
        return static_cast<int>(compact_[static_cast<std::size_t>(at)]);
    }

private:
    std::vector<int> values_;
    std::vector<std::int64_t> compact_;
};

}  // namespace

FeatureCalculator::FeatureCalculator(const Field& catalogued, bool onlyLargest, std::size_t maxOfferedGroups)
    : field(&catalogued), search(catalogued), largestOnly(onlyLargest) {
    OfferedGroupBudget budget(maxOfferedGroups);
    forEachWindowGroup(catalogued, search, largestOnly, budget,
                       [this](std::span<const Bar> group, std::span<const std::size_t>) { registerGroup(group); });
}

bool FeatureCalculator::registerCombination(const std::vector<Bar>& bars) {
    if (bars.empty() || bars.size() > largestGroupSize || !fitsInFeatureWindow(bars)) return true;
    registerGroup(bars);
    return true;
}

void FeatureCalculator::registerGroup(std::span<const Bar> group) {
    const unsigned long key0 = turnedGroupKey(group, 0).key;
    // A turned copy of a registered group has one of its keys under turn 0.
    if (const auto registered = featuresByKey.find(key0); registered != featuresByKey.end()) {
        std::vector<Bar>().swap(features.at(registered->second.featureId));
        return;
    }
    const std::array<unsigned long, 4> keys = groupKeys(group);
    if (!allDifferent(keys)) return;
    const unsigned long id = features.size();
    std::vector<Bar>& sorted = features.emplace_back(group.begin(), group.end());
    std::sort(sorted.begin(), sorted.end());
    for (int turn = 0; turn < 4; ++turn)
        featuresByKey.emplace(keys[static_cast<std::size_t>(turn)], FeatureIdAndRotation{id, turn});
}

void FeatureCalculator::setCombinationInvalid(std::vector<bool>& valid, unsigned long mask, unsigned long count) {
    if (mask >= valid.size()) throw std::out_of_range("no validity flag for the combination mask");
    const unsigned long bitCount = std::min(count, 64ul);
    // Sub-masks already invalid have all their own sub-masks invalid, so the walk stops there.
    const auto invalidate = [&valid, bitCount](const auto& self, unsigned long subMask) -> void {
        valid[subMask] = false;
        for (unsigned long i = 0; i < bitCount; ++i) {
            const unsigned long smaller = subMask & ~(1ul << i);
            if (smaller != subMask && valid[smaller]) self(self, smaller);
        }
    };
    invalidate(invalidate, mask);
}

namespace {

/// `bars` moved onto a compact field, with its rectangle search.
class CompactGrid {
public:
    explicit CompactGrid(const std::vector<Bar>& bars) : grid_(compacted(bars)), search_(grid_) {}

    const std::vector<Bar>& bars() const { return grid_.bars(); }

    /// Calls visit(group, barIds) for every group the catalogue examines, except groups of four
    /// bars spanning `shorterSpanLimit` cells or more in both directions.
    template <typename Visit>
    void forEachGroup(bool largestOnly, std::size_t maxOfferedGroups, Visit&& visit,
                      std::int64_t shorterSpanLimit = Combination::side) const {
        OfferedGroupBudget budget(maxOfferedGroups);
        forEachWindowGroup(grid_, search_, largestOnly, budget, visit, shorterSpanLimit);
    }

private:
    static Field compacted(const std::vector<Bar>& bars) {
        std::vector<int> xs(bars.size()), ys(bars.size());
        std::transform(bars.begin(), bars.end(), xs.begin(), [](const Bar& bar) { return bar._position.x; });
        std::transform(bars.begin(), bars.end(), ys.begin(), [](const Bar& bar) { return bar._position.y; });
        const CompactAxis compactX(std::move(xs)), compactY(std::move(ys));
        std::vector<Bar> shifted(bars);
        for (Bar& bar : shifted) bar._position = {compactX(bar._position.x), compactY(bar._position.y)};
        return Field(std::move(shifted), {compactX.extent(), compactY.extent()});
    }

    Field grid_;
    Field::BarsWithinAreaSearch search_;
};

/// Groups by their number of bars n and the shorter side m of their bounding box. Every key of such
/// a group (the key under any turn) lies in [24 (m − 1), 24 m) · 256^(n − 1): the last place holds
/// the bar of the highest cell index, at least 6 (m − 1) under every turn and below 6 m under a turn
/// that makes the shorter side the height. So the keys of one layer all lie below those of the next
/// (smaller groups first), and all turned copies of a pattern fall in one layer.
constexpr std::size_t layerCount = largestGroupSize * Combination::side;

std::size_t layerOf(std::span<const Bar> group) {
    int minX = group[0]._position.x, maxX = minX, minY = group[0]._position.y, maxY = minY;
    for (const Bar& bar : group) {
        minX = std::min(minX, bar._position.x);
        maxX = std::max(maxX, bar._position.x);
        minY = std::min(minY, bar._position.y);
        maxY = std::max(maxY, bar._position.y);
    }
    const auto shorter = static_cast<std::size_t>(std::min(maxX - minX, maxY - minY));
    return (group.size() - 1) * Combination::side + std::min<std::size_t>(shorter, Combination::side - 1);
}

/// The working lists of the lookup of observed groups.
struct LookupLists {
    std::array<std::vector<std::array<std::uint32_t, largestGroupSize>>, layerCount> layers;
    FeatureMapBuilder observed{0};

    /// Empties the lists for one lookup, and gives their memory back after it if they grew large.
    class Lease {
    public:
        Lease(LookupLists& lists, std::size_t barCount) : lists_(lists) {
            for (auto& layer : lists_.layers) layer.clear();
            lists_.observed.reset(barCount);
        }
        ~Lease() {
            constexpr std::size_t keptGroups = std::size_t{1} << 14;
            std::size_t groups = 0;
            for (const auto& layer : lists_.layers) groups += layer.capacity();
            if (groups <= keptGroups) return;
            for (auto& layer : lists_.layers) std::vector<std::array<std::uint32_t, largestGroupSize>>().swap(layer);
            lists_.observed.release();
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

    private:
        LookupLists& lists_;
    };
};

}  // namespace

FlatFeatureMap FeatureCalculator::getFlatCombinationsForBarsOnGrid(const std::vector<Bar>& bars, bool largestOnly,
                                                                   std::size_t maxOfferedGroups) {
    if (bars.empty()) return {};
    FeatureMapBuilder catalogue(bars.size());
    CompactGrid(bars).forEachGroup(largestOnly, maxOfferedGroups,
                                   [&catalogue](std::span<const Bar> group, std::span<const std::size_t> barIds) {
                                       catalogue.offer(group, barIds);
                                   });
    return std::move(catalogue).build();
}

std::optional<FlatFeatureMap::Entry> FeatureCalculator::firstCataloguedCombination(const std::vector<Bar>& bars,
                                                                                 const FlatFeatureMap& catalogue) {
    if (bars.empty()) return std::nullopt;
    // The groups are sorted into layers first; only the layers up to the first one holding a
    // catalogued feature are keyed. A first pass leaves out the four-bar groups of the later layers,
    // which are the most numerous and seldom needed.
    const CompactGrid grid(bars);
    // The lists of this thread's previous lookup, cleared: matching then seldom allocates. A lookup
    // that needed large lists gives them back on the way out.
    thread_local LookupLists lists;
    const LookupLists::Lease lease(lists, bars.size());
    auto& layers = lists.layers;
    FeatureMapBuilder& observed = lists.observed;
    std::array<Bar, largestGroupSize> group;
    std::array<std::size_t, largestGroupSize> groupIds;
    constexpr std::int64_t firstPassSpan = 2;
    std::size_t done = 0;  // layers below this one were keyed
    for (const std::int64_t spanLimit : {firstPassSpan, std::int64_t{Combination::side}}) {
        const auto store = [&](std::span<const Bar> members, std::span<const std::size_t> ids) {
            const std::size_t layer = layerOf(members);
            if (layer < done) return;
            std::array<std::uint32_t, largestGroupSize> stored{};
            for (std::size_t k = 0; k < ids.size(); ++k) stored[k] = static_cast<std::uint32_t>(ids[k]);
            layers[layer].push_back(stored);
        };
        grid.forEachGroup(true, unlimitedGroups, store, spanLimit);
        const std::size_t end = (largestGroupSize - 1) * Combination::side + static_cast<std::size_t>(spanLimit);
        for (std::size_t layer = done; layer < end; ++layer) {
            if (layers[layer].empty()) continue;
            const std::size_t size = layer / Combination::side + 1;
            observed.reset(bars.size());
            for (const auto& ids : layers[layer]) {
                for (std::size_t k = 0; k < size; ++k) {
                    groupIds[k] = ids[k];
                    group[k] = grid.bars()[ids[k]];
                }
                observed.offer(std::span<const Bar>(group.data(), size),
                               std::span<const std::size_t>(groupIds.data(), size));
            }
            if (std::optional<FlatFeatureMap::Entry> first = observed.firstIn(catalogue)) return first;
        }
        done = end;
    }
    return std::nullopt;
}

FeatureMap FeatureCalculator::getCombinationsForBarsOnGrid(const std::vector<Bar>& bars, bool largestOnly,
                                                           std::size_t maxOfferedGroups) {
    return getFlatCombinationsForBarsOnGrid(bars, largestOnly, maxOfferedGroups).toFeatureMap();
}

FeatureSet FeatureCalculator::getFeaturesWithoutRepeats() const {
    FeatureSet unique;
    for (const std::vector<Bar>& feature : features)
        if (!feature.empty()) unique.insert(feature);
    return unique;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
