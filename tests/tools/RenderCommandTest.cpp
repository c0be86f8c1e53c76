// render of lumetra-horizontal-grid: well-formed SVG showing every bar and marker.

#include <gtest/gtest.h>

#include <random>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/MatchScenarios.h"
#include "tests/tools/ToolRunner.h"

namespace Lumetra::Testing {
namespace {

const std::string trussCode = "AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAgEAAgIBAA==";

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

/// Renders with `arguments` into a file and checks it with xmllint.
std::string renderValid(std::vector<std::string> arguments) {
    const ScratchDirectory scratch;
    const std::string path = scratch.file("picture.svg");
    arguments.insert(arguments.begin(), "render");
    arguments.insert(arguments.end(), {"--output", path});
    const ToolResult result = runTool(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    const ToolResult lint = runProgram("xmllint", {"--noout", path});
    EXPECT_EQ(lint.status, 0) << lint.err;
    return readFile(path);
}

TEST(RenderCommand, ExampleShowsBarsNumberedMarkersAxesAndContour) {
    const std::string svg = renderValid({trussCode});
    EXPECT_EQ(count(svg, "<svg "), 1u);
    EXPECT_NE(svg.find("id=\"contour\""), std::string::npos);
    EXPECT_NE(svg.find("id=\"axes\""), std::string::npos);
    EXPECT_EQ(count(svg, "<g id=\"bar"), 3u);  // the group of all bars and one per bar
    EXPECT_EQ(count(svg, "<circle"), 2u * 3u + 1u);  // three markers per bar and the origin
    for (const char* number : {">0</text>", ">1</text>", ">5</text>"}) EXPECT_NE(svg.find(number), std::string::npos);
    EXPECT_NE(svg.find("bar 0 at cell (1, 0), rotation 180 deg"), std::string::npos);
}

TEST(RenderCommand, RealSizedLayoutWithCoverageAndAwkwardNames) {
    std::mt19937_64 rng(8);
    auto layout = randomMatchLayout(matchGeometries()[2], 20, 12, rng);
    layout.schemeName = "<floor & \"more\">";
    const std::string svg =
        renderValid({LumetraTest::writeEnvironmentCode(layout), "--coverage", "--yaws", "2", "--tilts", "0"});
    EXPECT_EQ(count(svg, "<circle"), 3 * layout.bars.size() + 1);
    EXPECT_NE(svg.find("id=\"coverage\""), std::string::npos);
    EXPECT_EQ(count(svg, "hsl("), 20u * 12u);  // one coloured square per cell
    EXPECT_NE(svg.find("&lt;floor &amp; &quot;more&quot;&gt;"), std::string::npos);
    const std::string plain = renderValid({LumetraTest::writeEnvironmentCode(layout), "--no-numbers"});
    EXPECT_EQ(count(svg, "</text>") - count(plain, "</text>"), 3 * layout.bars.size() + 1);  // and the coverage line
}

TEST(RenderCommand, RefusesBadInput) {
    const ToolResult result = runTool({"render", "not!a!code"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("Wrong base64 string"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
    EXPECT_NE(runTool({"render", trussCode, "--cell-pixels", "0"}).status, 0);
    EXPECT_NE(runTool({"render", trussCode, "--output", "/nonexistent/dir/picture.svg"}).status, 0);
}

}  // namespace
}  // namespace Lumetra::Testing
