// render of lumetra-horizontal-grid: well-formed SVG showing every bar and marker.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <tuple>

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
    EXPECT_NE(svg.find("smallest room holding every marker: 2.472 x 0.689 m"), std::string::npos);
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
    EXPECT_EQ(count(svg, "% of 2 frames located correctly"), 20u * 12u);  // one square per cell, value on hover
    EXPECT_NE(svg.find("id=\"colour-legend\""), std::string::npos);
    EXPECT_NE(svg.find("&lt;floor &amp; &quot;more&quot;&gt;"), std::string::npos);
    const std::string plain = renderValid({LumetraTest::writeEnvironmentCode(layout), "--no-numbers"});
    // Marker numbers, the coverage line and the five labels of the colour bar.
    EXPECT_EQ(count(svg, "</text>") - count(plain, "</text>"), 3 * layout.bars.size() + 6);
}

/// The centres of the texts in the bars' group, with their lengths.
std::vector<std::tuple<double, double, std::size_t>> barLabels(const std::string& svg) {
    const std::string bars = svg.substr(svg.find("<g id=\"bars\""));
    const std::regex text(R"re(<text x="([-0-9.e]+)" y="([-0-9.e]+)"[^>]*>([^<]*)</text>)re");
    std::vector<std::tuple<double, double, std::size_t>> labels;
    for (auto it = std::sregex_iterator(bars.begin(), bars.end(), text); it != std::sregex_iterator(); ++it)
        labels.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]), (*it)[3].length());
    return labels;
}

TEST(RenderCommand, RoomRulersBarNumbersApartAndTheViewFromBelow) {
    const std::string code = trimmed(runTool({"generate", "--room", "8x5", "--geometry", "short-floor", "--random"}).out);
    const std::string above = renderValid({code, "--room", "8x5", "--cell-pixels", "30"});
    for (const char* part : {"id=\"room\"", "id=\"rulers\"", ">-3 m</text>", ">#0</text>", "seen from above"})
        EXPECT_NE(above.find(part), std::string::npos) << part;
    const auto labels = barLabels(above);
    ASSERT_GT(labels.size(), 40u);
    const double font = 0.2 * 30;
    for (std::size_t i = 0; i < labels.size(); ++i)
        for (std::size_t j = i + 1; j < labels.size(); ++j) {
            const auto [xi, yi, li] = labels[i];
            const auto [xj, yj, lj] = labels[j];
            const bool apart = std::abs(xi - xj) >= 0.3 * font * static_cast<double>(li + lj) || std::abs(yi - yj) >= font;
            EXPECT_TRUE(apart) << "labels " << i << " and " << j << " overlap";
        }
    // From below, world x runs the other way: the first marker is drawn mirrored.
    const std::string below = renderValid({code, "--view", "below"});
    const std::regex circle(R"re(<g id="bar0">[\s\S]*?<circle cx="([-0-9.e]+)")re");
    std::smatch fromAbove, fromBelow;
    const std::string plainAbove = renderValid({code});
    ASSERT_TRUE(std::regex_search(plainAbove, fromAbove, circle));
    ASSERT_TRUE(std::regex_search(below, fromBelow, circle));
    EXPECT_DOUBLE_EQ(std::stod(fromAbove[1]), -std::stod(fromBelow[1]));
    EXPECT_NE(below.find("seen from below"), std::string::npos);
}

TEST(RenderCommand, RefusesBadInput) {
    const ToolResult result = runTool({"render", "not!a!code"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("Wrong base64 string"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
    EXPECT_NE(runTool({"render", trussCode, "--cell-pixels", "0"}).status, 0);
    EXPECT_NE(runTool({"render", trussCode, "--output", "/nonexistent/dir/picture.svg"}).status, 0);
}

/// The numbers of a pattern's first group in every match.
std::vector<std::string> allMatches(const std::string& text, const std::regex& pattern) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it)
        found.push_back((*it)[1]);
    return found;
}

TEST(RenderCommand, InstallationSheetDistancesMatchTheMarkersToTheMillimetreAtPrintableSizes) {
    ScratchDirectory scratch;
    const std::string code = trimmed(runTool({"generate", "--room", "9x6", "--yaws", "2", "--tilts", "0"}).out);
    const std::vector<std::string> sheet{code, "--room", "9x6", "--sheet", "--paper", "A3", "--scale", "1:50",
                                         "--yaws", "2", "--tilts", "0", "--progress", "never"};
    const std::string svg = renderValid(sheet);
    EXPECT_NE(svg.find("width=\"420mm\" height=\"297mm\""), std::string::npos);
    for (const std::string& size : allMatches(svg, std::regex(R"re(font-size="([0-9.]+)")re")))
        EXPECT_GE(std::stod(size), 10 * 25.4 / 72) << "text under 10 pt";

    // Every end marker's row: "#n: a side, b end" in cm from the nearer walls of the 9 x 6 m room.
    std::map<int, std::pair<double, double>> rows;
    const std::regex row(R"re(>#([0-9]+): ([0-9.]+) (left|right), ([0-9.]+) (top|bottom)</text>)re");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), row); it != std::sregex_iterator(); ++it)
        rows[std::stoi((*it)[1])] = {std::stod((*it)[2]), std::stod((*it)[4])};
    std::istringstream csv(runTool({"describe", "--markers", "--csv", code}).out);
    std::string line;
    std::getline(csv, line);
    std::size_t ends = 0;
    while (std::getline(csv, line)) {
        int number = 0, bar = 0;
        char marker[16] = {};
        double x = 0, y = 0, z = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,%15[^,],%lf,%lf,%lf", &number, &bar, marker, &x, &y, &z), 6) << line;
        if (std::string(marker) == "middle") continue;
        ++ends;
        ASSERT_EQ(rows.count(number), 1u) << number;
        EXPECT_NEAR(rows[number].first, 100 * std::min(x + 4.5, 4.5 - x), 0.05 + 1e-9) << number;
        EXPECT_NEAR(rows[number].second, 100 * std::min(z + 3, 3 - z), 0.05 + 1e-9) << number;
    }
    EXPECT_EQ(rows.size(), ends);

    // PNG and PDF by the file's extension.
    for (const char* name : {"sheet.pdf", "sheet.png"}) {
        std::vector<std::string> arguments{"render", "-o", scratch.file(name)};
        arguments.insert(arguments.end(), sheet.begin(), sheet.end());
        ASSERT_EQ(runTool(arguments).status, 0) << name;
        std::ifstream file(scratch.file(name), std::ios::binary);
        std::string start(8, '\0');
        file.read(start.data(), 8);
        EXPECT_TRUE(start.rfind("%PDF", 0) == 0 || start.rfind("\x89PNG", 0) == 0) << name;
    }
}

}  // namespace
}  // namespace Lumetra::Testing
