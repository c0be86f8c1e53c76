#pragma once
// Enumerates the maximal sets of mutually compatible patterns (maximal cliques of the
// compatibility graph) by Bron–Kerbosch without pivoting, on one-word vertex sets.

#include <cstddef>
#include <vector>

#include "matching/VerticeSet.h"

class GroupGenerator {
public:
    /// Loop steps one search may take. Real views of dense layouts took at most 8,489 (short bars
    /// filling neighbouring cells, 150 degree field of view); a crafted one could have billions of
    /// maximal cliques, so the search stops here and keeps what it found. The matcher bounds how
    /// many of the groups it then tries.
    static constexpr std::size_t MaxSteps = std::size_t{1} << 16;

    /// `compatibility[v]`: the patterns compatible with pattern v (never v itself).
    explicit GroupGenerator(std::vector<VerticeSet> compatibility);

    /// Every maximal set of two or more compatible patterns, depth first in ascending order of
    /// members. Patterns compatible with no other one never form a group.
    std::vector<VerticeSet> findGroups() const { return findGroups(MaxSteps); }
    /// The same within `maxSteps` loop steps.
    std::vector<VerticeSet> findGroups(std::size_t maxSteps) const;

    /// One level of the search: extends `group` by members of `candidates` (scanning from
    /// `from` upwards), never by `excluded` ones. Each loop step spends one unit of `budget`.
    std::vector<VerticeSet> extendGroup(VerticeSet candidates, VerticeSet excluded, VerticeSet group,
                                        unsigned long from, std::size_t& budget) const;

private:
    /// extendGroup appending to `found`, so that the whole search fills one list.
    void collectGroups(VerticeSet candidates, VerticeSet excluded, VerticeSet group, unsigned long from,
                       std::size_t& budget, std::vector<VerticeSet>& found) const;
    VerticeSet neighbours(unsigned long v) const;
    /// Whether some excluded pattern is compatible with every candidate: then every set grown
    /// from here could take it too, so none would be maximal.
    bool dominated(VerticeSet candidates, VerticeSet excluded) const;

    std::vector<VerticeSet> compatibility;
};
