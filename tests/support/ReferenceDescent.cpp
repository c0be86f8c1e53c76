#include "ReferenceDescent.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>

#include "catalogue/Combination.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid::Reference {

namespace {

using Rect = LumetraMath::Rectangle;

bool tooWide(const std::vector<Bar>& bars) {
    if (bars.size() < 2) return false;
    std::int64_t minX = bars[0]._position.x, maxX = minX, minY = bars[0]._position.y, maxY = minY;
    for (const Bar& bar : bars) {
        minX = std::min<std::int64_t>(minX, bar._position.x);
        maxX = std::max<std::int64_t>(maxX, bar._position.x);
        minY = std::min<std::int64_t>(minY, bar._position.y);
        maxY = std::max<std::int64_t>(maxY, bar._position.y);
    }
    return maxX - minX + 1 > 6 || maxY - minY + 1 > 6;
}

std::vector<Bar> sortedByCell(std::vector<Bar> bars) {
    std::sort(bars.begin(), bars.end(), [](const Bar& a, const Bar& b) {
        if (a._position.x != b._position.x) return a._position.x < b._position.x;
        if (a._position.y != b._position.y) return a._position.y < b._position.y;
        return (a._properties & 3) < (b._properties & 3);
    });
    return bars;
}

/// The queue descent. `offer` returns whether the descent may continue below the group.
void descent(const std::vector<std::vector<Bar>>& groups, const std::vector<bool>& required, bool largestOnly,
             std::vector<bool>* flags, const std::function<bool(const std::vector<Bar>&, std::uint64_t)>& offer) {
    std::vector<Bar> list;
    std::vector<std::uint64_t> groupMasks;
    for (const auto& group : groups) {
        std::uint64_t mask = 0;
        for (const Bar& bar : group) {
            mask |= std::uint64_t{1} << list.size();
            list.push_back(bar);
        }
        groupMasks.push_back(mask);
    }
    const std::size_t n = list.size();
    if (n > largestList) throw std::length_error("reference descent over too many bars");
    if (flags) flags->assign(std::size_t{1} << n, true);
    std::deque<std::uint64_t> queue{(std::uint64_t{1} << n) - 1};
    while (!queue.empty()) {
        const std::uint64_t mask = queue.front();
        queue.pop_front();
        bool hasRequired = true;
        for (std::size_t g = 0; g < groups.size(); ++g)
            if (required[g] && (mask & groupMasks[g]) == 0) hasRequired = false;
        if (!hasRequired) continue;
        if (flags && !(*flags)[mask]) continue;
        std::vector<Bar> subset;
        for (std::size_t p = 0; p < n; ++p)
            if (mask >> p & 1) subset.push_back(list[p]);
        if (subset.empty()) continue;
        bool expand = !(largestOnly && subset.size() <= 4);
        if (subset.size() <= 4 && !offer(subset, mask)) {
            setCombinationInvalid(*flags, mask, n);
            expand = false;
        }
        if (!expand) continue;
        for (std::size_t k = n; k-- > 0;) {
            if (!(mask >> k & 1)) break;
            queue.push_back(mask & ~(std::uint64_t{1} << k));
        }
    }
}

void registerCombination(Catalogue& catalogue, const std::vector<Bar>& bars) {
    if (bars.size() > 4 || tooWide(bars)) return;
    catalogue.features.push_back(sortedByCell(bars));
    const unsigned long id = catalogue.features.size() - 1;
    const unsigned long key0 = Combination(bars, 0).key;
    if (const auto found = catalogue.featuresByKey.find(key0); found != catalogue.featuresByKey.end()) {
        catalogue.features.pop_back();
        catalogue.features[found->second.featureId].clear();
        return;
    }
    const unsigned long keys[4] = {key0, Combination(bars, 1).key, Combination(bars, 2).key, Combination(bars, 3).key};
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
            if (keys[a] == keys[b]) {
                catalogue.features.pop_back();
                return;
            }
    for (int r = 0; r < 4; ++r) catalogue.featuresByKey.emplace(keys[r], FeatureCalculator::FeatureIdAndRotation{id, r});
}

bool storeSomeKeyAndSortedBars(const Catalogue& catalogue, const std::vector<Bar>& bars,
                               std::map<unsigned long, std::vector<Bar>>& patterns) {
    if (bars.size() > 4 || tooWide(bars)) return true;
    bool seen = false;
    unsigned long keys[4];
    for (int r = 0; r < 4; ++r) {
        keys[r] = Combination(bars, r).key;
        if (const auto found = patterns.find(keys[r]); found != patterns.end()) {
            found->second.clear();
            seen = true;
        }
    }
    bool symmetric = false;
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b) symmetric = symmetric || keys[a] == keys[b];
    if (symmetric)
        seen = true;
    else if (!seen)
        patterns[keys[0]] = bars;
    const auto found = catalogue.featuresByKey.find(keys[0]);
    if (found == catalogue.featuresByKey.end()) return true;
    if (catalogue.features[found->second.featureId].empty()) return false;
    return !seen;
}

}  // namespace

void setCombinationInvalid(std::vector<bool>& valid, unsigned long mask, unsigned long count) {
    valid[mask] = false;
    for (unsigned long i = 0; i < count; ++i)
        if (mask >> i & 1) setCombinationInvalid(valid, mask & ~(1ul << i), count);
}

Catalogue catalogue(const Field& field, bool largestOnly) {
    Catalogue result;
    const Field::BarsWithinAreaSearch search(field);
    const int W = static_cast<int>(field.width()), H = static_cast<int>(field.height());
    const int winW = std::min(W, 6), winH = std::min(H, 6);
    const auto offer = [&](const std::vector<Bar>& bars, std::uint64_t) {
        registerCombination(result, bars);
        return true;
    };
    int prevRow = -1;
    for (int i = winH - 1; i <= H - 1; ++i) {
        if (search.getBars(Rect{{0, prevRow + 1}, {W - 1, i}}).empty()) continue;
        const int bottom = i - winH + 1;
        int prevCol = -1;
        for (int j = winW - 1; j <= W - 1; ++j) {
            const int left = j - winW + 1;
            if (search.getBars(Rect{{left, bottom}, {left, i}}).empty() && j != W - 1) continue;
            const auto A = search.getBars(Rect{{prevCol + 1, prevRow + 1}, {j, i}});
            const auto B = search.getBars(Rect{{prevCol + 1, bottom}, {j, prevRow}});
            const auto C = search.getBars(Rect{{left, prevRow + 1}, {prevCol, i}});
            const auto D = search.getBars(Rect{{left, bottom}, {prevCol, prevRow}});
            descent({A, B, C, D}, {true, false, false, false}, largestOnly, nullptr, offer);
            descent({B, C, D}, {true, true, false}, largestOnly, nullptr, offer);
            prevCol = j;
        }
        prevRow = i;
    }
    return result;
}

FeatureMap combinationsForBarsOnGrid(const std::vector<Bar>& bars, bool largestOnly) {
    if (bars.empty()) return {};
    int minX = bars[0]._position.x, maxX = minX, minY = bars[0]._position.y, maxY = minY;
    for (const Bar& bar : bars) {
        minX = std::min(minX, bar._position.x);
        maxX = std::max(maxX, bar._position.x);
        minY = std::min(minY, bar._position.y);
        maxY = std::max(maxY, bar._position.y);
    }
    std::vector<Bar> shifted = bars;
    for (Bar& bar : shifted) bar._position = {bar._position.x - minX, bar._position.y - minY};
    const Field field(shifted, {static_cast<unsigned long>(maxX - minX + 1), static_cast<unsigned long>(maxY - minY + 1)});
    const Catalogue found = catalogue(field, largestOnly);
    FeatureMap result;
    for (const auto& [key, idAndRotation] : found.featuresByKey) {
        const std::vector<Bar>& feature = found.features[idAndRotation.featureId];
        if (feature.empty()) continue;
        const Combination combination(feature, idAndRotation.rotation);
        std::vector<unsigned long> indices;
        for (const Bar& bar : combination.sourceBars)
            indices.push_back(static_cast<unsigned long>(field.barIdAt(bar._position)));
        result[key] = indices;
    }
    return result;
}

void potentialFeatures(const Catalogue& catalogue, const Field& field, bool largestOnly, Bar candidate,
                       FeatureSet& newFeatures, FeatureSet& matchedFeatures) {
    const Field::BarsWithinAreaSearch search(field);
    const int x = candidate._position.x, y = candidate._position.y;
    const auto neighbours = search.getBars(Rect{{x - 5, y - 5}, {x + 5, y + 5}});
    std::map<unsigned long, std::vector<Bar>> patterns;
    std::vector<bool> flags;
    descent({{candidate}, neighbours}, {true, false}, largestOnly, &flags,
            [&](const std::vector<Bar>& bars, std::uint64_t) { return storeSomeKeyAndSortedBars(catalogue, bars, patterns); });
    for (const auto& [key, group] : patterns) {
        const auto found = catalogue.featuresByKey.find(key);
        if (found != catalogue.featuresByKey.end() && !catalogue.features[found->second.featureId].empty())
            matchedFeatures.insert(catalogue.features[found->second.featureId]);
        else if (!group.empty() && found == catalogue.featuresByKey.end())
            newFeatures.insert(group);
    }
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid::Reference
