#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <utility>

#include "matching/ConflictMatrix.h"
#include "matching/GroupGenerator.h"

namespace {

using Groups = std::vector<std::vector<unsigned long>>;

ConflictMatrix allInConflict(unsigned long n) {
    ConflictMatrix matrix(n);
    for (unsigned long i = 0; i < n; ++i)
        for (unsigned long j = i + 1; j < n; ++j) matrix.markConflict(i, j);
    return matrix;
}

}  // namespace

TEST(ConflictMatrix, RejectsMoreThanSixtyFourPatternsWithItsMessage) {
    EXPECT_NO_THROW(ConflictMatrix(64));
    try {
        ConflictMatrix matrix(65);
        FAIL() << "no exception";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "65 is greater than ConflictMatrix::MaxSize 64");
    }
}

TEST(ConflictMatrix, PairsAreIndependentAndOnlyOrderedPairsExist) {
    ConflictMatrix matrix(5);
    matrix.markConflict(1, 3);
    for (unsigned long i = 0; i < 5; ++i)
        for (unsigned long j = i + 1; j < 5; ++j) EXPECT_EQ(matrix.isConflict(i, j), i == 1 && j == 3);
    EXPECT_THROW(matrix.isConflict(3, 1), std::out_of_range);
    EXPECT_THROW(matrix.isConflict(2, 2), std::out_of_range);
    EXPECT_THROW(matrix.markConflict(0, 5), std::out_of_range);
}

TEST(ConflictMatrixSolve, AllCompatibleGivesOneGroupOfAll) {
    EXPECT_EQ(ConflictMatrix(5).solve(), (Groups{{0, 1, 2, 3, 4}}));
    EXPECT_EQ(ConflictMatrix(64).solve().size(), 1u);
    EXPECT_EQ(ConflictMatrix(64).solve()[0].size(), 64u);
}

TEST(ConflictMatrixSolve, NoGroupWithoutTwoCompatiblePatterns) {
    EXPECT_TRUE(allInConflict(6).solve().empty());
    EXPECT_TRUE(ConflictMatrix(0).solve().empty());
    EXPECT_TRUE(ConflictMatrix(1).solve().empty());
}

TEST(ConflictMatrixSolve, FindsEveryMaximalGroupDepthFirstInAscendingOrder) {
    // Compatible: 0-1, 0-2, 1-2, 1-3, 2-3, 3-4; pattern 5 conflicts with all.
    const std::set<std::pair<unsigned long, unsigned long>> edges{{0, 1}, {0, 2}, {1, 2}, {1, 3}, {2, 3}, {3, 4}};
    ConflictMatrix graph(6);
    for (unsigned long i = 0; i < 6; ++i)
        for (unsigned long j = i + 1; j < 6; ++j)
            if (!edges.contains({i, j})) graph.markConflict(i, j);
    EXPECT_EQ(graph.solve(), (Groups{{0, 1, 2}, {1, 2, 3}, {3, 4}}));
}

TEST(ConflictMatrixSolve, StopsOnGraphsWithExplosivelyManyGroups) {
    // 21 triples, conflicting inside, compatible across: 3^21 maximal groups of 21 patterns.
    ConflictMatrix matrix(63);
    for (unsigned long i = 0; i < 63; ++i)
        for (unsigned long j = i + 1; j < 63; ++j)
            if (i / 3 == j / 3) matrix.markConflict(i, j);
    const Groups groups = matrix.solve();
    ASSERT_FALSE(groups.empty());
    EXPECT_LE(groups.size(), GroupGenerator::MaxSteps);
    EXPECT_EQ(groups.front(), (std::vector<unsigned long>{0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39,
                                                          42, 45, 48, 51, 54, 57, 60}));
    for (const auto& group : groups) {
        ASSERT_EQ(group.size(), 21u);
        for (std::size_t k = 0; k < group.size(); ++k) EXPECT_EQ(group[k] / 3, k);
    }
}
