#include "matching/GroupGenerator.h"

#include <utility>

GroupGenerator::GroupGenerator(std::vector<VerticeSet> compatibilitySets)
    : compatibility(std::move(compatibilitySets)) {}

VerticeSet GroupGenerator::neighbours(unsigned long v) const {
    return v < compatibility.size() ? compatibility[v] : VerticeSet{};
}

bool GroupGenerator::dominated(VerticeSet candidates, VerticeSet excluded) const {
    for (unsigned long x = excluded.lowestAtOrAbove(0); x < VerticeSet::Capacity;
         x = excluded.lowestAtOrAbove(x + 1)) {
        if (candidates.isSubsetOf(neighbours(x))) return true;
    }
    return false;
}

std::vector<VerticeSet> GroupGenerator::findGroups(std::size_t maxSteps) const {
    VerticeSet connected;
    for (unsigned long v = 0; v < compatibility.size() && v < VerticeSet::Capacity; ++v)
        if (!compatibility[v].empty()) connected.insert(v);
    std::size_t budget = maxSteps;
    std::vector<VerticeSet> found;
    collectGroups(connected, VerticeSet{}, VerticeSet{}, 0, budget, found);
    return found;
}

std::vector<VerticeSet> GroupGenerator::extendGroup(VerticeSet candidates, VerticeSet excluded,
                                                    VerticeSet group, unsigned long from,
                                                    std::size_t& budget) const {
    std::vector<VerticeSet> found;
    collectGroups(candidates, excluded, group, from, budget, found);
    return found;
}

void GroupGenerator::collectGroups(VerticeSet candidates, VerticeSet excluded, VerticeSet group,
                                   unsigned long from, std::size_t& budget, std::vector<VerticeSet>& found) const {
    unsigned long v = from;
    while (!candidates.empty() && budget > 0) {
        --budget;
        if (dominated(candidates, excluded)) break;
        v = candidates.lowestAtOrAbove(v);
        if (v >= VerticeSet::Capacity) break;  // callers pass no candidates below `from`
        const VerticeSet extended = group | VerticeSet::single(v);
        const VerticeSet adjacent = neighbours(v);
        if ((adjacent & (candidates | excluded)).empty())
            found.push_back(extended);
        else
            collectGroups(candidates & adjacent, excluded & adjacent, extended, v, budget, found);
        candidates.erase(v);
        excluded.insert(v);
    }
}
