// describe warns about a layout that repeats itself, and stays quiet about one that does not.

#include <gtest/gtest.h>

#include <random>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/MatchScenarios.h"
#include "tests/tools/ToolRunner.h"

namespace Lumetra::Testing {
namespace {

TEST(SymmetryWarning, DescribeNamesTheShiftThatRepeatsALayout) {
    std::mt19937_64 rng(3);
    auto layout = randomMatchLayout(matchGeometries()[2], 10, 20, rng);
    const std::string plain = LumetraTest::writeEnvironmentCode(layout, 2);
    layout.size = {20, 20};
    const std::size_t half = layout.bars.size();
    for (std::size_t i = 0; i < half; ++i) {
        auto copy = layout.bars[i];
        copy._position.x += 10;
        layout.bars.push_back(copy);
    }
    const ToolResult repeated = runTool({"describe", "--summary", LumetraTest::writeEnvironmentCode(layout, 2)});
    EXPECT_EQ(repeated.status, 0);
    EXPECT_NE(repeated.err.find("warning: the layout repeats itself under"), std::string::npos) << repeated.err;
    EXPECT_NE(repeated.err.find("a shift of (10, 0) cells"), std::string::npos) << repeated.err;
    const ToolResult single = runTool({"describe", "--summary", plain});
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(single.err, "");
}

}  // namespace
}  // namespace Lumetra::Testing
