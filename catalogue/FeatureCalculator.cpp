#include "catalogue/FeatureCalculator.h"

#include <algorithm>
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

FlatFeatureMap FeatureCalculator::getFlatCombinationsForBarsOnGrid(const std::vector<Bar>& bars, bool largestOnly,
                                                                   std::size_t maxOfferedGroups) {
    if (bars.empty()) return {};
    std::vector<int> xs(bars.size()), ys(bars.size());
    std::transform(bars.begin(), bars.end(), xs.begin(), [](const Bar& bar) { return bar._position.x; });
    std::transform(bars.begin(), bars.end(), ys.begin(), [](const Bar& bar) { return bar._position.y; });
    const CompactAxis compactX(std::move(xs)), compactY(std::move(ys));
    std::vector<Bar> shifted(bars);
    for (Bar& bar : shifted) bar._position = {compactX(bar._position.x), compactY(bar._position.y)};

    const Field grid(std::move(shifted), {compactX.extent(), compactY.extent()});
    const Field::BarsWithinAreaSearch search(grid);
    FeatureMapBuilder catalogue(grid.bars().size());
    OfferedGroupBudget budget(maxOfferedGroups);
    forEachWindowGroup(grid, search, largestOnly, budget,
                       [&catalogue](std::span<const Bar> group, std::span<const std::size_t> barIds) {
                           catalogue.offer(group, barIds);
                       });
    return std::move(catalogue).build();
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
