#include "matching/ConflictMatrix.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "matching/GroupGenerator.h"

ConflictMatrix::ConflictMatrix(unsigned long count) : n(count) {
    if (n > MaxSize)
        throw std::length_error(std::to_string(n) + " is greater than ConflictMatrix::MaxSize " +
                                std::to_string(MaxSize));
    pairs.assign(n > 0 ? n * (n - 1) / 2 : 0, 0);
}

unsigned long ConflictMatrix::pairIndex(unsigned long i, unsigned long j) const {
    if (!(i < j && j < n)) throw std::out_of_range("ConflictMatrix: no pair (" + std::to_string(i) +
                                                    ", " + std::to_string(j) + ")");
    return i * n - i * (i + 1) / 2 + (j - i - 1);
}

std::vector<std::vector<unsigned long>> ConflictMatrix::solve() const { return solve(GroupGenerator::MaxSteps); }

std::vector<std::vector<unsigned long>> ConflictMatrix::solve(std::size_t maxSteps) const {
    std::vector<VerticeSet> compatibility(n);
    for (unsigned long i = 0; i < n; ++i)
        for (unsigned long j = i + 1; j < n; ++j)
            if (!isConflict(i, j)) {
                compatibility[i].insert(j);
                compatibility[j].insert(i);
            }

    std::vector<std::vector<unsigned long>> groups;
    for (const VerticeSet found : GroupGenerator(std::move(compatibility)).findGroups(maxSteps)) {
        std::vector<unsigned long>& group = groups.emplace_back();
        for (unsigned long v = found.lowestAtOrAbove(0); v < VerticeSet::Capacity;
             v = found.lowestAtOrAbove(v + 1))
            group.push_back(v);
    }
    return groups;
}
