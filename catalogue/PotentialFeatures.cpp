// The inspection members of FeatureCalculator: what adding one bar would make of the catalogue.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_set>

#include "catalogue/DescentGroups.h"
#include "catalogue/FeatureCalculator.h"
#include "catalogue/GroupKey.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

/// How far the neighbourhood of a candidate reaches: the farthest a bar of a shared group can lie.
constexpr std::int64_t reach = Combination::side - 1;

int clampedCoordinate(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                      std::numeric_limits<int>::max()));
}

/// Groups (as ascending list positions) under a group whose examination ended the descent below it.
/// A group is coded by its positions plus one, 16 bits each.
class InvalidGroups {
public:
    bool contains(GroupIndices group) const { return codes_.contains(code(group, fullSet(group))); }

    /// Marks the group and all its subgroups.
    void invalidate(GroupIndices group) {
        for (unsigned subset = 1; subset <= fullSet(group); ++subset) codes_.insert(code(group, subset));
    }

private:
    static unsigned fullSet(GroupIndices group) { return (1u << group.size()) - 1; }

    static std::uint64_t code(GroupIndices group, unsigned subset) {
        std::uint64_t result = 0;
        for (std::size_t k = 0; k < group.size(); ++k)
            if (subset >> k & 1u) result = result << 16 | (group[k] + 1);
        return result;
    }

    std::unordered_set<std::uint64_t> codes_;
};

}  // namespace

bool FeatureCalculator::storeSomeKeyAndSortedBars(const std::vector<Bar>& bars,
                                                  std::map<unsigned long, std::vector<Bar>>& patterns) const {
    if (bars.empty() || bars.size() > largestGroupSize || !fitsInFeatureWindow(bars)) return true;
    const std::array<unsigned long, 4> keys = groupKeys(bars);
    bool seen = false;
    for (const unsigned long key : keys) {
        if (const auto found = patterns.find(key); found != patterns.end()) {
            found->second.clear();
            seen = true;
        }
    }
    // A group that looks the same after a turn is never stored.
    if (!allDifferent(keys))
        seen = true;
    else if (!seen)
        patterns.emplace(keys[0], bars);

    const auto catalogued = featuresByKey.find(keys[0]);
    if (catalogued == featuresByKey.end()) return true;
    if (features.at(catalogued->second.featureId).empty()) return false;
    return !seen;
}

void FeatureCalculator::getPotentialFeatures(Bar candidate, FeatureSet& newFeatures,
                                             FeatureSet& matchedFeatures) const {
    const std::int64_t x = candidate._position.x, y = candidate._position.y;
    std::vector<Bar> around{candidate};
    search.appendBars({{clampedCoordinate(x - reach), clampedCoordinate(y - reach)},
                       {clampedCoordinate(x + reach), clampedCoordinate(y + reach)}},
                      around);

    std::map<unsigned long, std::vector<Bar>> patterns;
    InvalidGroups invalid;
    std::vector<Bar> group;
    const std::array<RequiredRun, 1> holdingCandidate{{{0, 1}}};
    forEachDescentGroup(around, holdingCandidate, largestOnly, [&](GroupIndices indices) {
        if (invalid.contains(indices)) return;
        group.clear();
        for (const std::size_t index : indices) group.push_back(around[index]);
        if (!storeSomeKeyAndSortedBars(group, patterns)) invalid.invalidate(indices);
    });

    for (const auto& [key, bars] : patterns) {
        const auto catalogued = featuresByKey.find(key);
        if (catalogued != featuresByKey.end()) {
            const std::vector<Bar>& feature = features.at(catalogued->second.featureId);
            if (!feature.empty()) matchedFeatures.insert(feature);
        } else if (!bars.empty()) {
            newFeatures.insert(bars);
        }
    }
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
