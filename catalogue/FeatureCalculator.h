#pragma once
// The feature catalogue: every group of one to four bars fitting in 6 × 6 cells whose pattern occurs
// exactly once up to quarter turns and has no turn symmetry. Seeing such a group identifies both its
// place on the grid and the turn; each is listed under its four combination keys.

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "catalogue/FeatureSet.h"
#include "catalogue/FlatFeatureMap.h"
#include "catalogue/OfferedGroupBudget.h"
#include "grid/Bar.h"
#include "grid/Field.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class FeatureCalculator {
public:
    struct FeatureIdAndRotation {
        unsigned long featureId = 0;  ///< index into `features`
        int rotation = 0;             ///< the turn (0 to 3) under which the key was computed
    };

    /// Without a limit on the groups examined.
    static constexpr std::size_t unlimitedGroups = OfferedGroupBudget::unlimited;

    /// Catalogues the field, which must outlive the calculator and stay unchanged. With `onlyLargest`
    /// a window's groups are only its largest ones (four bars, or all when fewer). Throws
    /// std::runtime_error when more than `maxOfferedGroups` groups would be examined.
    FeatureCalculator(const Field& field, bool onlyLargest, std::size_t maxOfferedGroups = unlimitedGroups);

    /// Offers one group: a group of up to four bars fitting in 6 × 6 cells becomes a feature, unless
    /// it looks the same after a turn; a second occurrence of its pattern empties the first for good.
    /// Always returns true.
    bool registerCombination(const std::vector<Bar>& bars);

    /// Clears the flag of `mask` and of every mask made from it by removing some of its bits below
    /// `count` (at most 64).
    /// Throws std::out_of_range when `valid` has no flag for `mask`.
    static void setCombinationInvalid(std::vector<bool>& valid, unsigned long mask, unsigned long count);

    /// The catalogue of `bars` (pairwise different cells, any signed coordinates) as key → indices
    /// into `bars`. Throws std::runtime_error when more than `maxOfferedGroups` groups would be
    /// examined.
    static FlatFeatureMap getFlatCombinationsForBarsOnGrid(const std::vector<Bar>& bars, bool largestOnly,
                                                           std::size_t maxOfferedGroups = unlimitedGroups);
    /// The same catalogue as an ordered map of lists.
    /// Of the catalogue of `bars` built with `largestOnly`, the entry with the smallest key that
    /// `catalogue` also holds: what walking the whole catalogue in key order would find first.
    static std::optional<FlatFeatureMap::Entry> firstCataloguedCombination(const std::vector<Bar>& bars,
                                                                         const FlatFeatureMap& catalogue);
    static FeatureMap getCombinationsForBarsOnGrid(const std::vector<Bar>& bars, bool largestOnly,
                                                   std::size_t maxOfferedGroups = unlimitedGroups);

    /// The features still unique.
    FeatureSet getFeaturesWithoutRepeats() const;
    /// Adds to `newFeatures` the groups around `candidate` (within 5 cells, always holding it) whose
    /// pattern occurs once among those groups, has no turn symmetry and is not catalogued, and to
    /// `matchedFeatures` the unique catalogued features whose pattern occurs among those groups.
    void getPotentialFeatures(Bar candidate, FeatureSet& newFeatures, FeatureSet& matchedFeatures) const;
    /// One group's step of getPotentialFeatures: records its pattern (key under turn 0 → bars, emptied
    /// when seen again) and tells whether the groups below it are still worth examining.
    bool storeSomeKeyAndSortedBars(const std::vector<Bar>& bars,
                                   std::map<unsigned long, std::vector<Bar>>& patterns) const;

    // The catalogue, filled by the constructor and only read afterwards.
    const Field* field;
    Field::BarsWithinAreaSearch search;
    /// One entry per registered group, its bars sorted (Bar's operator<); emptied when its pattern
    /// turns up again.
    std::vector<std::vector<Bar>> features;
    /// The four keys of every registered group; an emptied feature keeps its keys.
    std::map<unsigned long, FeatureIdAndRotation> featuresByKey;
    bool largestOnly;

private:
    void registerGroup(std::span<const Bar> group);
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
