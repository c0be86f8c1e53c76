#include "grid/Field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <random>
#include <stdexcept>

#include "simulation/RandomBars.h"

namespace {

using namespace Lumetra::Vesk::Environment::HorizontalGrid;
using LumetraMath::Rectangle;

Bar bar(int x, int y, std::uint8_t properties = 0) { return Bar{{x, y}, properties}; }

TEST(FieldCells, EmptyFieldAndCellsOutsideTheGridHoldNoBar) {
    const Field field({3, 2});
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y) {
            EXPECT_EQ(field.barIdAt({x, y}), -1);
            EXPECT_FALSE(field.barAt(LumetraMath::vector<int, 2>{x, y}));
        }
    EXPECT_EQ(field.barIdAt({3, 0}), -1);
    EXPECT_EQ(field.barIdAt({0, 2}), -1);
    EXPECT_EQ(field.barIdAt({-1, 0}), -1);
    EXPECT_FALSE(field.barAt(LumetraMath::vector<int, 2>{-1, 0}));
}

TEST(FieldCells, RemovalMovesTheLastBarIntoTheGap) {
    Field field({3, 2});
    field.addBar(bar(0, 0, 1));
    field.addBar(bar(2, 1, 2));
    field.addBar(bar(1, 1, 0xFF));
    EXPECT_EQ(field.barIdAt({2, 1}), 1);
    EXPECT_EQ(field.barIdAt({1, 1}), 2);

    field.removeBar(bar(0, 0, 3));  // only the cell matters
    EXPECT_EQ(field.barIdAt({1, 1}), 0);
    EXPECT_EQ(field.barIdAt({0, 0}), -1);
    ASSERT_EQ(field.bars().size(), 2u);
    EXPECT_EQ(field.bars()[0], bar(1, 1, 0xFF));  // the whole properties byte moves with it

    field.removeBar(bar(2, 0));  // empty cell
    field.removeBar(bar(7, 7));  // outside the grid
    EXPECT_EQ(field.bars().size(), 2u);

    field.removeBar(bar(2, 1));  // the last bar of the list
    EXPECT_EQ(field.barIdAt({2, 1}), -1);
    EXPECT_EQ(field.barIdAt({1, 1}), 0);
    ASSERT_EQ(field.bars().size(), 1u);
}

TEST(FieldCells, ASecondBarInOneCellHidesTheFirst) {
    Field field({2, 2});
    field.addBar(bar(1, 1, 0));
    field.addBar(bar(1, 1, 2));
    EXPECT_EQ(field.barIdAt({1, 1}), 1);
    EXPECT_EQ(field.bars().size(), 2u);
    field.removeBar(bar(1, 1));
    EXPECT_EQ(field.barIdAt({1, 1}), -1);
    EXPECT_EQ(field.bars().size(), 1u);
}

TEST(FieldCells, BarAtByIndexDistinguishesNoBarFromABadIndex) {
    const Field field({bar(0, 0, 2)}, {1, 1});
    EXPECT_EQ(field.barAt(std::uint64_t{0}), bar(0, 0, 2));
    EXPECT_FALSE(field.barAt(~std::uint64_t{0}));
    EXPECT_THROW(field.barAt(std::uint64_t{1}), std::out_of_range);
}

TEST(FieldCells, AddingOutsideTheGridIsRejected) {
    Field field({2, 2});
    EXPECT_THROW(field.addBar(bar(2, 0)), std::out_of_range);
    EXPECT_THROW(field.addBar(bar(0, -1)), std::out_of_range);
    EXPECT_TRUE(field.bars().empty());
}

TEST(FieldCells, CopiesAreDeepAndMovesEmptyTheSource) {
    Field original({bar(0, 0), bar(1, 0)}, {2, 1});
    Field copy = original;
    copy.removeBar(bar(0, 0));
    EXPECT_EQ(original.barIdAt({0, 0}), 0);
    EXPECT_EQ(original.bars().size(), 2u);

    Field moved = std::move(original);
    EXPECT_EQ(moved.barIdAt({1, 0}), 1);
    EXPECT_EQ(original.barIdAt({0, 0}), -1);  // NOLINT(bugprone-use-after-move): defined empty state
    EXPECT_EQ(original.width(), 0);

    moved.clear();
    EXPECT_TRUE(moved.bars().empty());
    EXPECT_EQ(moved.barIdAt({1, 0}), -1);
}

TEST(FieldCells, SizesBeyondTheBoundsAreRefusedBeforeAllocating) {
    EXPECT_THROW(Field({1ul << 31, 1}), std::bad_array_new_length);
    EXPECT_THROW(Field({(1ul << 31) - 1, (1ul << 31) - 1}), std::bad_array_new_length);
    const Field empty({0, 5});
    EXPECT_EQ(empty.barIdAt({0, 0}), -1);
}

class AreaSearch : public ::testing::Test {
protected:
    // Column 1 holds bars at rows 0 and 4, column 3 at row 2; inserted out of order.
    Field field{{bar(3, 2), bar(1, 4), bar(1, 0), bar(0, 5)}, {4, 6}};
    Field::BarsWithinAreaSearch search{field};

    std::vector<Bar> bars(int x0, int y0, int x1, int y1) const { return search.getBars(Rectangle{{x0, y0}, {x1, y1}}); }
};

TEST_F(AreaSearch, ListsColumnByColumnAndRowByRow) {
    EXPECT_EQ(bars(0, 0, 3, 5), (std::vector<Bar>{bar(0, 5), bar(1, 0), bar(1, 4), bar(3, 2)}));
    EXPECT_EQ(bars(1, 0, 1, 0), (std::vector<Bar>{bar(1, 0)}));
    EXPECT_TRUE(bars(2, 0, 2, 0).empty());
}

TEST_F(AreaSearch, ColumnWalkStopsAtTheTopRow) {
    EXPECT_TRUE(bars(1, 1, 1, 3).empty());
    EXPECT_EQ(bars(1, 1, 1, 4), (std::vector<Bar>{bar(1, 4)}));
    EXPECT_EQ(bars(1, 4, 1, 4), (std::vector<Bar>{bar(1, 4)}));
}

TEST_F(AreaSearch, ClipsToTheGrid) {
    EXPECT_EQ(bars(-5, -5, 100, 100).size(), 4u);
    EXPECT_EQ(bars(3, 2, 9, 9), (std::vector<Bar>{bar(3, 2)}));
    EXPECT_TRUE(bars(2, 0, 1, 5).empty());   // x1 < x0
    EXPECT_TRUE(bars(0, 6, 3, 9).empty());   // lower corner above the grid
    EXPECT_TRUE(bars(4, 0, 9, 5).empty());   // lower corner right of the grid
    EXPECT_TRUE(bars(0, 3, 3, 1).empty());   // y1 < y0
    EXPECT_TRUE(bars(-9, -9, -1, -1).empty());
    EXPECT_FALSE(search.containsBars(Rectangle{{0, 6}, {3, 9}}));
}

// Small dense grids, and large grids with few bars (a sparse cell index, bit rows spanning words).
TEST(AreaSearchProperty, AgreesWithFilteringTheBarList) {
    std::mt19937 random(7);
    for (int round = 0; round < 240; ++round) {
        const bool large = round % 6 == 5;
        std::uniform_int_distribution<int> side(large ? 100 : 1, large ? 400 : 9);
        const int width = side(random), height = side(random);
        const auto bars = large ? Testing::randomBars(random, width, height, 40)
                                : Testing::randomLayout(random, width, height, 0.4);
        const Field field(bars, {static_cast<unsigned long>(width), static_cast<unsigned long>(height)});
        const Field::BarsWithinAreaSearch search(field);
        std::uniform_int_distribution<int> corner(-3, large ? 420 : 11);
        for (int query = 0; query < 20; ++query) {
            const Rectangle area{{corner(random), corner(random)}, {corner(random), corner(random)}};
            std::vector<Bar> expected;
            for (const Bar& b : bars)
                if (b._position.x >= area.lower.x && b._position.x <= area.upper.x && b._position.y >= area.lower.y &&
                    b._position.y <= area.upper.y)
                    expected.push_back(b);
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(search.getBars(area), expected);
            EXPECT_EQ(search.containsBars(area), !expected.empty());
        }
    }
}

TEST(FieldCells, SparseIndexOfALargeGridAnswersAndEditsLikeTheDenseOne) {
    std::mt19937 random(11);
    std::vector<Bar> bars = Testing::randomBars(random, 500, 400, 60);
    bars.push_back(Bar{bars[3]._position, 2});  // hides bars[3]
    Field sparse(bars, {500, 400});
    Field dense({500, 400});
    for (const Bar& b : bars) dense.addBar(b);
    std::vector<LumetraMath::vector<int, 2>> cells{{0, 0}, {499, 399}, {500, 0}, {-1, 3}};
    for (const Bar& b : bars) cells.push_back(b._position);
    const auto expectSame = [&] {
        for (const auto& cell : cells) EXPECT_EQ(sparse.barIdAt(cell), dense.barIdAt(cell)) << cell.x << "," << cell.y;
        EXPECT_EQ(sparse.bars(), dense.bars());
    };
    expectSame();
    EXPECT_EQ(sparse.barIdAt(bars[3]._position), 60);
    for (int i : {0, 7, 3, 20}) {
        sparse.removeBar(bars[static_cast<std::size_t>(i)]);
        dense.removeBar(bars[static_cast<std::size_t>(i)]);
    }
    for (const Bar& b : {bar(1, 1), bar(250, 399, 3), bars[0]}) {
        sparse.addBar(b);
        dense.addBar(b);
        cells.push_back(b._position);
    }
    expectSame();
    sparse.clear();
    for (const auto& cell : cells) EXPECT_EQ(sparse.barIdAt(cell), -1);
}

}  // namespace
