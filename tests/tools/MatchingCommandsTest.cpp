// simulate, coverage and suggest of lumetra-horizontal-grid: matching through the built library.

#include <gtest/gtest.h>

#include <random>

#include <nlohmann/json.hpp>

#include "environment/EnvironmentRecord.h"
#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/MatchScenarios.h"
#include "tests/tools/ToolRunner.h"

namespace Lumetra::Testing {
namespace {

using Vesk::Environment::HorizontalGrid::decodeEnvironmentCode;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;
using Json = nlohmann::json;

const std::string trussCode = "AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAgEAAgIBAA==";

EnvironmentDescription floorLayout(std::uint32_t width, std::uint32_t height, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    return randomMatchLayout(matchGeometries()[1], width, height, rng);
}

/// A floor layout whose right part, columns 9 to 15 of rows 3 to 8, has lost its bars.
EnvironmentDescription layoutWithDeadZone() {
    EnvironmentDescription layout = floorLayout(16, 10, 3);
    std::erase_if(layout.bars, [](const auto& bar) {
        return bar._position.x >= 9 && bar._position.y >= 3 && bar._position.y <= 8;
    });
    return layout;
}

Json runJson(const std::vector<std::string>& arguments) {
    const ToolResult result = runTool(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.status == 0 ? Json::parse(result.out) : Json();
}

double coveredFraction(const std::string& code) {
    return runJson({"coverage", code, "--json", "--profile", "exact"})["coveredFraction"].get<double>();
}

TEST(SimulateCommand, MatchesMostFramesOfARealSizedLayoutCorrectly) {
    const Json figures = runJson({"simulate", LumetraTest::writeEnvironmentCode(floorLayout(20, 12, 1)), "--frames",
                                  "150", "--distance", "1.7,2.2", "--json"});
    EXPECT_EQ(figures["frames"], 150);
    EXPECT_GT(figures["successRate"].get<double>(), 0.6);
    EXPECT_EQ(figures["wrongRays"], 0);
    EXPECT_LT(figures["positionError"]["p50"].get<double>(), 1e-3);
    EXPECT_GT(figures["microsecondsPerFrame"]["max"].get<double>(), 0.0);
}

TEST(SimulateCommand, GivenPosesAndImperfectRays) {
    const ScratchDirectory scratch;
    const std::string code = LumetraTest::writeEnvironmentCode(floorLayout(20, 12, 1));
    const std::string poses = scratch.write("poses.txt", "# x y z yaw tilt axis\n0 2 0 0\n1,2,-1,45,10,30\n\n");
    const Json given = runJson({"simulate", code, "--poses", poses, "--pose", "0.3,1.9,0.2,90", "--json"});
    EXPECT_EQ(given["frames"], 3);

    const ToolResult noisy = runTool({"simulate", code, "-n", "40", "--noise", "0.05", "--drop", "0.1", "--spurious",
                                      "2", "--tilt", "20", "--progress", "always"});
    ASSERT_EQ(noisy.status, 0) << noisy.err;
    EXPECT_NE(noisy.out.find("matched correctly"), std::string::npos);
    EXPECT_NE(noisy.out.find("time per frame, us"), std::string::npos);
}

TEST(SimulateCommand, IdentifiesAndTracksThroughTheTrackingFace) {
    const std::string code = LumetraTest::writeEnvironmentCode(floorLayout(20, 12, 1));
    const std::vector<std::string> camera{"--noise", "0.05", "--drop", "0.05", "--spurious", "1", "--json"};
    const auto simulate = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"simulate", code});
        arguments.insert(arguments.end(), camera.begin(), camera.end());
        return runJson(arguments);
    };
    const Json matched = simulate({"-n", "60", "--distance", "2"});
    const Json identified = simulate({"-n", "60", "--distance", "2", "--method", "identify"});
    EXPECT_EQ(identified["frames"], 60);
    EXPECT_EQ(identified["wrongRays"], 0);
    EXPECT_GT(identified["successRate"].get<double>(), matched["successRate"].get<double>());

    // A 2 s walk at 30 Hz is tracked by default: the prediction holds in nearly every frame.
    const Json walked = simulate({"--walk", "2", "--rate", "30", "--distance", "2"});
    EXPECT_EQ(walked["frames"], 60);
    EXPECT_EQ(walked["wrongRays"], 0);
    EXPECT_GT(walked["successRate"].get<double>(), 0.9);
    EXPECT_LT(walked["fellBack"].get<int>(), 6);
    // The inertial tracker follows a walk with its inertial samples, and on its motion model without.
    for (const bool inertial : {true, false}) {
        std::vector<std::string> arguments{"--walk", "2", "--rate", "30", "--distance", "2", "--method", "tracker"};
        if (!inertial) arguments.push_back("--no-inertial");
        const Json tracker = simulate(arguments);
        EXPECT_EQ(tracker["wrongRays"], 0) << inertial;
        EXPECT_GT(tracker["successRate"].get<double>(), 0.9) << inertial;
    }

    for (const auto& [arguments, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"simulate", code, "--method", "track"}, "follows a sequence of poses"},
             {{"simulate", code, "--walk", "1", "--pose", "0,2,0,0"}, "leave out --pose"},
             {{"simulate", code, "--rate", "30"}, "requires --walk"},
             {{"simulate", code, "--method", "guess"}, "--method"}}) {
        const ToolResult result = runTool(arguments);
        EXPECT_EQ(result.status, 2) << message;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
}

TEST(SimulateCommand, RefusesBadInput) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"simulate", trussCode, "--height", "3"}, "not below the ceiling markers at 2.5"},
        {{"simulate", trussCode, "--pose", "1,2,x,4"}, "\"x\" is not a number"},
        {{"simulate", trussCode, "--pose", "1,2,3"}, "a pose is x,y,z,yaw"},
        {{"simulate", trussCode, "--library", "/nonexistent.so"}, "cannot load library"},
        {{"simulate", trussCode, "--poses", "/nonexistent/poses"}, "cannot read /nonexistent/poses"},
        {{"simulate", trussCode, "--fov", "200"}, "--fov"},
        {{"simulate", trussCode, "--noise", "nan"}, "not a finite number"},
        {{"simulate", trussCode, "--distance", "1", "--height", "1"}, "excludes"},
    };
    for (const auto& [arguments, message] : cases) {
        const ToolResult result = runTool(arguments);
        EXPECT_NE(result.status, 0) << message;
        EXPECT_NE(result.err.find(message), std::string::npos) << message << " not in: " << result.err;
    }
}

TEST(CoverageCommand, TableAndFigureOfARealSizedLayout) {
    const std::string code = LumetraTest::writeEnvironmentCode(floorLayout(20, 12, 1));
    const Json map = runJson({"coverage", code, "--json", "--profile", "exact"});
    ASSERT_EQ(map["worldX"].size(), 20u);
    ASSERT_EQ(map["worldZ"].size(), 12u);
    ASSERT_EQ(map["shares"].size(), 12u);
    EXPECT_EQ(map["framesPerPosition"], 16);
    EXPECT_GT(map["coveredFraction"].get<double>(), 0.5);
    EXPECT_LE(map["coveredFraction"].get<double>(), 1.0);

    // Threads share the positions out; every position keeps its own frames.
    const std::vector<std::string> harsh{"coverage", code, "--json", "--profile", "harsh", "--spurious", "0"};
    std::vector<std::string> oneThread = harsh;
    oneThread.insert(oneThread.end(), {"--threads", "1"});
    const Json harshMap = runJson(harsh);
    EXPECT_EQ(harshMap["shares"], runJson(oneThread)["shares"]);
    EXPECT_EQ(harshMap["camera"], (Json{{"profile", "given"}, {"noiseDegrees", 0.1}, {"dropProbability", 0.1},
                                        {"spuriousRays", 0}}));
    EXPECT_EQ(harshMap["exactCoveredFraction"], map["coveredFraction"]);

    const ToolResult table = runTool({"coverage", code, "--step", "1.2", "--yaws", "2", "--tilts", "0,10,20"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("6 frames per position (2 headings x 3 tilts)"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("typical camera (0.05 deg noise, 5% of markers dropped, 1 stray ray a frame); exact rays: "),
              std::string::npos);
    EXPECT_NE(table.out.find("of 60 positions"), std::string::npos);  // 10 x 6 positions
}

TEST(CoverageCommand, NothingIsCoveredWithoutUniqueFeatures) {
    // The two bars of the example look the same after a half turn: nothing can be placed.
    EXPECT_EQ(coveredFraction(trussCode), 0.0);
    EXPECT_NE(runTool({"coverage", trussCode, "--step", "1e-30"}).err.find("too many tracker positions"),
              std::string::npos);
}

TEST(SuggestCommand, RanksBarsAndAppendsTheBest) {
    const EnvironmentDescription layout = layoutWithDeadZone();
    const std::string code = LumetraTest::writeEnvironmentCode(layout);
    const Json ranking = runJson({"suggest", code, "--json", "--top", "5", "--region", "9,3,15,8"});
    ASSERT_EQ(ranking["suggestions"].size(), 5u);
    long previous = std::numeric_limits<long>::max();
    for (const Json& suggestion : ranking["suggestions"]) {
        EXPECT_GE(suggestion["x"].get<int>(), 9);
        EXPECT_LE(suggestion["y"].get<int>(), 8);
        EXPECT_LE(suggestion["net"].get<long>(), previous);
        previous = suggestion["net"].get<long>();
    }
    EXPECT_GT(ranking["suggestions"][0]["newFeatures"].get<int>(), 0);

    const ToolResult applied = runTool({"suggest", code, "--apply", "3", "--region", "9,3,15,8"});
    ASSERT_EQ(applied.status, 0) << applied.err;
    const EnvironmentDescription improved = decodeEnvironmentCode(trimmed(applied.out));
    ASSERT_EQ(improved.bars.size(), layout.bars.size() + 3);
    EXPECT_TRUE(std::equal(layout.bars.begin(), layout.bars.end(), improved.bars.begin()));  // numbers stay
    EXPECT_EQ(improved.bars[layout.bars.size()]._position,
              (LumetraMath::vector<int, 2>{ranking["suggestions"][0]["x"], ranking["suggestions"][0]["y"]}));
}

TEST(SuggestCommand, FillingTheDeadZoneRaisesTheCoveredFraction) {
    const std::string code = LumetraTest::writeEnvironmentCode(layoutWithDeadZone());
    const ToolResult applied =
        runTool({"suggest", code, "--dead-zones", "--apply", "4", "--spacing", "2", "--profile", "exact"});
    ASSERT_EQ(applied.status, 0) << applied.err;
    const double before = coveredFraction(code), after = coveredFraction(trimmed(applied.out));
    std::printf("covered fraction %.3f before, %.3f after\n", before, after);
    EXPECT_GT(after, before + 0.1);
}

TEST(SuggestCommand, RefusesBadInput) {
    EXPECT_NE(runTool({"suggest", trussCode, "--region", "1,2,3"}).status, 0);
    EXPECT_NE(runTool({"suggest", trussCode, "--clearance", "-1"}).status, 0);
    const ToolResult result = runTool({"suggest", "AgV0cnVzcwMC"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("invalid environment code"), std::string::npos);
}

}  // namespace
}  // namespace Lumetra::Testing
