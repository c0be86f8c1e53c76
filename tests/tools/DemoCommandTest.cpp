// demo of lumetra-horizontal-grid: the embedded environment described, drawn and simulated with
// exactly what describe, render and simulate show for it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "environment/EnvironmentRecord.h"
#include "tests/tools/ToolRunner.h"
#include "tools/horizontal-grid/DefaultEnvironment.h"

namespace Lumetra::Testing {
namespace {

using Vesk::Environment::HorizontalGrid::decodeEnvironmentCode;
using Json = nlohmann::json;

const std::string demoCode(Tools::defaultEnvironmentCode);

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

/// The output of a successful run.
std::string output(const std::vector<std::string>& arguments) {
    const ToolResult result = runTool(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

TEST(DemoCommand, DescribesDrawsAndSimulatesTheEmbeddedEnvironment) {
    const ScratchDirectory scratch;
    const std::string svgPath = scratch.file("demo.svg");
    const std::string out = output({"demo", "--frames", "30", "--svg", svgPath});

    const ToolResult lint = runProgram("xmllint", {"--noout", svgPath});
    EXPECT_EQ(lint.status, 0) << lint.err;
    const std::size_t bars = decodeEnvironmentCode(demoCode).bars.size();
    EXPECT_EQ(count(readFile(svgPath), "<circle"), 3 * bars + 1);  // three markers per bar and the origin

    EXPECT_NE(out.find(demoCode + "\n"), std::string::npos);
    EXPECT_NE(out.find(output({"describe", "--summary", demoCode})), std::string::npos) << out;
    EXPECT_NE(out.find("picture      " + svgPath + "\n"), std::string::npos);
    // The figures are simulate's for the same frames; only the measured times differ.
    const std::string figures = output({"simulate", demoCode, "--frames", "30", "--progress", "never"});
    const std::string untimed = figures.substr(0, figures.find("time per frame, us"));
    ASSERT_NE(untimed.find("matched correctly"), std::string::npos);
    EXPECT_NE(out.find(untimed), std::string::npos) << out;
    EXPECT_NE(out.find("time per frame, us"), std::string::npos);
}

TEST(DemoCommand, EmbeddedEnvironmentIsRealSizedAndMatchesWell) {
    const auto description = decodeEnvironmentCode(demoCode);
    EXPECT_EQ(description.size.x * description.size.y, 240u);
    EXPECT_GE(description.bars.size(), 30u);
    const Json figures = Json::parse(output({"simulate", demoCode, "--frames", "300", "--json"}));
    EXPECT_GT(figures["successRate"].get<double>(), 0.85);
    EXPECT_EQ(figures["wrongRays"], 0);
    // Perfect rays cover nearly everything; a typical camera's errors cost coverage.
    const Json coverage = Json::parse(output({"coverage", demoCode, "--json"}));
    EXPECT_EQ(coverage["camera"]["profile"], "typical");
    EXPECT_GT(coverage["exactCoveredFraction"].get<double>(), 0.95);
    EXPECT_LT(coverage["coveredFraction"].get<double>(), coverage["exactCoveredFraction"].get<double>());
}

TEST(DemoCommand, RefusesBadOptionsBeforePrintingAnything) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"demo", "--svg", "/nonexistent/dir/demo.svg"},
          std::vector<std::string>{"demo", "--frames", "0"}}) {
        const ToolResult result = runTool(arguments);
        EXPECT_NE(result.status, 0) << arguments.back();
        EXPECT_TRUE(result.out.empty()) << result.out;
        EXPECT_FALSE(result.err.empty());
    }
}

}  // namespace
}  // namespace Lumetra::Testing
