#pragma once
// The feature catalogue written the slow, literal way: the window scan with a first-in, first-out
// descent over every subset mask of each window phase, registration through Combination objects,
// and the neighbourhood descent with a flag per mask. Exponential in the bars of a window or
// neighbourhood, so only for small test layouts; the library's direct enumeration must agree.

#include <map>
#include <vector>

#include "catalogue/FeatureCalculator.h"
#include "catalogue/FeatureSet.h"
#include "grid/Bar.h"
#include "grid/Field.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid::Reference {

/// Largest window phase or neighbourhood the reference accepts (std::length_error beyond).
inline constexpr std::size_t largestList = 22;

struct Catalogue {
    std::vector<std::vector<Bar>> features;
    std::map<unsigned long, FeatureCalculator::FeatureIdAndRotation> featuresByKey;
};

Catalogue catalogue(const Field& field, bool largestOnly);

FeatureMap combinationsForBarsOnGrid(const std::vector<Bar>& bars, bool largestOnly);

void potentialFeatures(const Catalogue& catalogue, const Field& field, bool largestOnly, Bar candidate,
                       FeatureSet& newFeatures, FeatureSet& matchedFeatures);

void setCombinationInvalid(std::vector<bool>& valid, unsigned long mask, unsigned long count);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid::Reference
