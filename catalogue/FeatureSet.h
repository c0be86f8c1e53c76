#pragma once
// A set of bar groups; the same bars in another order are another element.

#include <set>
#include <vector>

#include "container/VectorAlphanumericComparer.h"
#include "grid/Bar.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

using FeatureSet = std::set<std::vector<Bar>, Lumetra::Container::VectorAlphanumericComparer<Bar>>;

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
