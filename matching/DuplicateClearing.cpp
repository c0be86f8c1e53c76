#include "matching/DuplicateClearing.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {
constexpr MarkerIndex largestMarkerNumber = 0xFFFFFFF0;
}  // namespace

bool clearDuplicateMarkers(std::vector<MarkerIndex>& entries) {
    // Sorting (value, position) pairs puts the occurrences of each value together, in entry order.
    std::vector<std::pair<MarkerIndex, std::size_t>> sorted;
    sorted.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i] <= largestMarkerNumber) sorted.emplace_back(entries[i], i);
    std::sort(sorted.begin(), sorted.end());

    bool collided = false;
    for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
        if (sorted[i].first != sorted[i + 1].first) continue;
        entries[sorted[i].second] = MarkerUnidentified;
        entries[sorted[i + 1].second] = MarkerUnidentified;
        collided = true;
        ++i;  // this pair is spent; the next occurrence starts a new pair
    }
    return collided;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
