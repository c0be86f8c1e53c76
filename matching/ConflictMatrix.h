#pragma once
// Which pairs of patterns cannot belong to one consistent view: one byte per unordered pair,
// rows of the strict upper triangle one after another.

#include <cstddef>
#include <cstdint>
#include <vector>

class ConflictMatrix {
public:
    /// Pattern sets are single 64-bit words in the clique search.
    static constexpr unsigned long MaxSize = 64;

    /// All pairs compatible. Throws std::length_error when n exceeds MaxSize.
    explicit ConflictMatrix(unsigned long n);

    unsigned long size() const { return n; }

    /// Pair (i, j) with i < j < size(); any other pair throws std::out_of_range.
    bool isConflict(unsigned long i, unsigned long j) const { return pairs.at(pairIndex(i, j)) != 0; }
    void markConflict(unsigned long i, unsigned long j) { pairs.at(pairIndex(i, j)) = 1; }

    /// The maximal groups of mutually compatible patterns (at least two each), every group's
    /// pattern indices in ascending order.
    std::vector<std::vector<unsigned long>> solve() const;
    /// The same within `maxSteps` steps of the clique search (GroupGenerator::MaxSteps for solve()).
    std::vector<std::vector<unsigned long>> solve(std::size_t maxSteps) const;

private:
    unsigned long pairIndex(unsigned long i, unsigned long j) const;

    unsigned long n;
    std::vector<std::uint8_t> pairs;
};
