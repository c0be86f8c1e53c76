// describe, encode and generate of lumetra-horizontal-grid, run as a user runs them.

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <random>

#include <nlohmann/json.hpp>

#include "environment/EnvironmentRecord.h"
#include "serialization/Base64Converter.h"
#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/MatchScenarios.h"
#include "simulation/SampleEnvironmentCodes.h"
#include "tests/tools/ToolRunner.h"

namespace Lumetra::Testing {
namespace {

using Vesk::Environment::HorizontalGrid::Bar;
using Vesk::Environment::HorizontalGrid::decodeEnvironmentCode;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;
using Json = nlohmann::json;

const std::string trussCode = "AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAgEAAgIBAA==";
const std::string yellowVersion0Code = "AAZ5ZWxsb3cEAwECAQE=";

/// A real-sized layout of each geometry that matching is tried on, as a code of `version`.
std::vector<std::string> layoutCodes(unsigned version) {
    std::vector<std::string> codes;
    std::mt19937_64 rng(5);
    for (const MatchGeometry& geometry : matchGeometries())
        codes.push_back(LumetraTest::writeEnvironmentCode(randomMatchLayout(geometry, 20, 12, rng), version));
    return codes;
}

/// Every code the test suite feeds the library, in every record version, and a few with unusual
/// values: unknown scheme names, upper property bits, negative zero and subnormal floats.
std::vector<std::string> roundTripCodes() {
    std::vector<std::string> codes(LumetraTest::sampleEnvironmentCodes.begin(), LumetraTest::sampleEnvironmentCodes.end());
    for (const unsigned version : {1u, 2u}) {
        const auto layouts = layoutCodes(version);
        codes.insert(codes.end(), layouts.begin(), layouts.end());
    }
    EnvironmentDescription odd = decodeEnvironmentCode(trussCode);
    odd.schemeName = "not a scheme <&>";
    odd.barSlope = -0.0f;
    odd.height = std::numeric_limits<float>::denorm_min();
    odd.barOffset = {1e-7f, -123456.79f};
    odd.bars[0]._properties = 0xFE;
    codes.push_back(LumetraTest::writeEnvironmentCode(odd, 1));
    codes.push_back(LumetraTest::writeEnvironmentCode(odd, 2));
    for (const char* scheme : {"yellow", "ceiling", "truss"}) {
        EnvironmentDescription old = decodeEnvironmentCode(yellowVersion0Code);
        old.schemeName = scheme;
        codes.push_back(LumetraTest::writeEnvironmentCode(old, 0));
    }
    return codes;
}

std::uint32_t bits(float value) { return std::bit_cast<std::uint32_t>(value); }

/// Equal content, floats bit for bit.
void expectSameContent(const EnvironmentDescription& a, const EnvironmentDescription& b) {
    EXPECT_EQ(a.schemeName, b.schemeName);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(bits(a.barLength), bits(b.barLength));
    EXPECT_EQ(bits(a.barProportion), bits(b.barProportion));
    EXPECT_EQ(bits(a.barSlope), bits(b.barSlope));
    EXPECT_EQ(bits(a.barOffset.x), bits(b.barOffset.x));
    EXPECT_EQ(bits(a.barOffset.y), bits(b.barOffset.y));
    EXPECT_EQ(a.ceiling, b.ceiling);
    EXPECT_EQ(bits(a.height), bits(b.height));
    EXPECT_EQ(bits(a.cellSize), bits(b.cellSize));
    EXPECT_EQ(a.connectors, b.connectors);
    EXPECT_EQ(a.bars, b.bars);
}

TEST(DescribeCommand, ShowsTheDocumentedExample) {
    const ToolResult result = runTool({"describe", trussCode});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string& out = result.out;
    EXPECT_NE(out.find("version      2 (current)"), std::string::npos) << out;
    EXPECT_NE(out.find("scheme       \"truss\""), std::string::npos);
    EXPECT_NE(out.find("grid         3 x 2 cells of 0.6 m"), std::string::npos);
    EXPECT_NE(out.find("room         at least 2.472 x 0.689 m"), std::string::npos) << out;
    EXPECT_NE(out.find("length 1.275, middle marker at 0.4"), std::string::npos);
    EXPECT_NE(out.find("under a ceiling at height 2.5"), std::string::npos);
    EXPECT_NE(out.find("(1, 0)   180 deg"), std::string::npos);
    EXPECT_NE(out.find("(2, 1)     0 deg"), std::string::npos);
    EXPECT_NE(out.find("       5      1  last end "), std::string::npos);
    EXPECT_NE(out.find("marker ellipse"), std::string::npos);
}

TEST(DescribeCommand, JsonCarriesTheCodeMarkersAndCatalogue) {
    const ToolResult result = runTool({"describe", "--json", yellowVersion0Code});
    ASSERT_EQ(result.status, 0) << result.err;
    const Json json = Json::parse(result.out);
    EXPECT_EQ(json["version"], 0);
    EXPECT_EQ(json["schemeName"], "yellow");
    EXPECT_EQ(json["size"], (Json{{"x", 4}, {"y", 3}}));
    EXPECT_EQ(json["barLength"].get<double>(), 1.0728674);  // the scheme's value, shortest form
    EXPECT_EQ(json["ceiling"], false);
    EXPECT_EQ(json["connectors"], true);
    EXPECT_EQ(json["bars"], (Json::parse(R"([{"x": 2, "y": 1, "rotationDegrees": 90}])")));
    ASSERT_EQ(json["markers"].size(), 3u);
    EXPECT_EQ(json["markers"][0].size(), 3u);
    // One bar alone is a feature of its own.
    EXPECT_EQ(json["catalogue"]["uniqueFeatures"], 1);
    EXPECT_EQ(json["catalogue"]["smallestFeatureSize"], 1);
}

TEST(DescribeCommand, ReadsCodesFromFilesAndStandardInputIgnoringWhitespace) {
    const ScratchDirectory scratch;
    const std::string wrapped = trussCode.substr(0, 20) + "\n  " + trussCode.substr(20) + "\n";
    const std::string path = scratch.write("code.txt", wrapped);
    const std::string expected = runTool({"describe", "--summary", trussCode}).out;
    EXPECT_EQ(runTool({"describe", "--summary", "@" + path}).out, expected);
    EXPECT_EQ(runTool({"describe", "--summary", "--file", path}).out, expected);
    EXPECT_EQ(runTool({"describe", "--summary"}, wrapped).out, expected);
}

TEST(DescribeCommand, RealSizedLayoutHasACatalogue) {
    const ToolResult result = runTool({"describe", "--json", "--summary", layoutCodes(2)[1]});
    ASSERT_EQ(result.status, 0) << result.err;
    const Json json = Json::parse(result.out);
    EXPECT_FALSE(json.contains("markers"));
    EXPECT_GT(json["catalogue"]["uniqueFeatures"].get<int>(), 10);
    EXPECT_GE(json["catalogue"]["smallestFeatureSize"].get<int>(), 1);
}

TEST(DescribeCommand, RefusesBadCodesWithTheLibrarysMessage) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"AgV0!nVz", "Wrong base64 string"},
        {"AwV0cnVzcw==", "need VersionConverter implementation"},
        {"AAZZZWxsb3cEAwECAQE=", "non-existent scheme name"},
        {"AgV0cnVzcwMC", "invalid environment code"},
    };
    for (const auto& [code, message] : cases) {
        const ToolResult result = runTool({"describe", code});
        EXPECT_NE(result.status, 0) << code;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
    }
    EXPECT_NE(runTool({"describe"}, " \n").err.find("the environment code is empty"), std::string::npos);
    EXPECT_NE(runTool({"describe", "@/nonexistent/code"}).err.find("cannot read /nonexistent/code"), std::string::npos);
    EXPECT_NE(runTool({"describe", trussCode, "--file", "x"}).err.find("not both"), std::string::npos);
}

TEST(EncodeCommand, DescribeThenEncodeKeepsEveryCode) {
    for (const std::string& code : roundTripCodes()) {
        const ToolResult described = runTool({"describe", "--json", code});
        ASSERT_EQ(described.status, 0) << code << ": " << described.err;
        const ToolResult encoded = runTool({"encode"}, described.out);
        ASSERT_EQ(encoded.status, 0) << code << ": " << encoded.err;
        const std::string reencoded = trimmed(encoded.out);
        expectSameContent(decodeEnvironmentCode(reencoded), decodeEnvironmentCode(code));
        // A version 2 code written as the writer writes it comes back as the same text.
        if (code.starts_with("Ag")) {
            EXPECT_EQ(reencoded, code);
        }
    }
}

TEST(EncodeCommand, AcceptsAHandWrittenDescription) {
    const std::string json = R"({
        "schemeName": "hand", "size": {"x": 2, "y": 1}, "barLength": 0.5, "barProportion": 0.3,
        "barSlope": 0, "barOffset": {"x": 0, "y": 0}, "ceiling": false, "height": 0, "cellSize": 0.6,
        "bars": [{"x": 0, "y": 0, "rotation": 3}, {"x": 1, "y": 0, "properties": 9}]})";
    const ToolResult result = runTool({"encode"}, json);
    ASSERT_EQ(result.status, 0) << result.err;
    const EnvironmentDescription decoded = decodeEnvironmentCode(trimmed(result.out));
    EXPECT_EQ(decoded.schemeName, "hand");
    EXPECT_FALSE(decoded.connectors);
    EXPECT_EQ(decoded.bars, (std::vector<Bar>{{{0, 0}, 3}, {{1, 0}, 9}}));
}

TEST(EncodeCommand, RefusesBadDescriptionsNamingTheField) {
    const Json valid = Json::parse(runTool({"describe", "--json", trussCode}).out);
    const auto edited = [&](auto edit) {
        Json json = valid;
        edit(json);
        return json.dump();
    };
    const std::vector<std::pair<std::string, std::string>> cases{
        {"{", "not JSON"},
        {"[]", "must be an object"},
        {edited([](Json& j) { j.erase("barLength"); }), "\"barLength\" is missing"},
        {edited([](Json& j) { j["connector"] = true; }), "\"connector\" is not a field"},
        {edited([](Json& j) { j["bars"][1]["flags"] = 1; }), "\"bars[1].flags\" is not a field"},
        {edited([](Json& j) { j["cellSize"] = -1; }), "cellSize must be greater than 0"},
        {edited([](Json& j) { j["cellSize"] = 1e300; }), "cellSize is not a finite number"},
        {edited([](Json& j) { j["ceiling"] = 1; }), "\"ceiling\" must be true or false"},
        {edited([](Json& j) { j["schemeName"] = 7; }), "\"schemeName\" must be a string"},
        {edited([](Json& j) { j["size"]["x"] = -3; }), "\"size.x\" must lie between 0"},
        {edited([](Json& j) { j["size"] = {{"x", 5000}, {"y", 5000}}; }), "more than the 16777216 allowed"},
        {edited([](Json& j) { j["bars"][0]["rotationDegrees"] = 45; }), "\"bars[0].rotationDegrees\" must be 0, 90"},
        {edited([](Json& j) { j["bars"][0]["rotation"] = 4; }), "may not stand beside"},
        {edited([](Json& j) { j["bars"][0]["x"] = 1.5; }), "\"bars[0].x\" must be a whole number"},
        {edited([](Json& j) { j["bars"][0]["x"] = 3; }), "lies outside the 3 x 2 grid"},
        {edited([](Json& j) { j["bars"][0] = {{"x", 2}, {"y", 1}, {"rotation", 0}}; }), "both lie at cell (2, 1)"},
        {edited([](Json& j) { j["bars"][0]["properties"] = 5; }), "disagrees"},
        {edited([](Json& j) { j["bars"][0].erase("rotationDegrees"); j["bars"][0]["rotation"] = 4; }),
         "\"bars[0].rotation\" must lie between 0 and 3"},
        {edited([](Json& j) { j["bars"] = {{{"x", 0}, {"y", 0}}}; }), "\"bars[0].rotationDegrees\" is missing"},
        {edited([](Json& j) { j["barLenght"] = j["barLength"]; j.erase("barLength"); }),
         "\"barLenght\" is not a field of an environment description (did you mean \"barLength\"?)"},
        {edited([](Json& j) { j["size"]["x"] = 0; }), "has no cells"},
    };
    for (const auto& [json, message] : cases) {
        const ToolResult result = runTool({"encode"}, json);
        EXPECT_NE(result.status, 0) << message;
        EXPECT_NE(result.err.find(message), std::string::npos) << message << " not in: " << result.err;
        EXPECT_TRUE(result.out.empty());
    }
}

TEST(GenerateCommand, WritesAValidLayoutOfTheChosenSize) {
    const ToolResult result = runTool({"generate", "--geometry", "short-floor", "--size", "9,7", "--seed", "4"});
    ASSERT_EQ(result.status, 0) << result.err;
    const EnvironmentDescription layout = decodeEnvironmentCode(trimmed(result.out));
    EXPECT_EQ(layout.size, (LumetraMath::vector<unsigned long, 2>{9, 7}));
    EXPECT_FALSE(layout.bars.empty());
    EXPECT_EQ(runTool({"generate", "--geometry", "short-floor", "--size", "9,7", "--seed", "4"}).out, result.out);
    EXPECT_NE(runTool({"generate", "--geometry", "round"}).status, 0);
    EXPECT_NE(runTool({"generate", "--size", "0,3"}).status, 0);
}

TEST(GenerateCommand, RoomInMetresHoldsEveryMarkerDesignedOrRandom) {
    for (const char* geometry : {"long-ceiling", "short-floor"}) {
        const bool random = std::string(geometry) == "short-floor";
        std::vector<std::string> arguments{"generate", "--room", "8x5", "--margin", "0.25", "--geometry", geometry,
                                           "--yaws", "2", "--tilts", "0"};
        if (random) arguments.push_back("--random");
        const ToolResult room = runTool(arguments);
        ASSERT_EQ(room.status, 0) << room.err;
        EXPECT_NE(room.err.find(random ? "room 8 x 5 m, margin 0.25 m: grid 12 x 7 cells"
                                       : "room 8 x 5 m, markers on the floor at 0 m: grid 12 x 7 cells"),
                  std::string::npos)
            << room.err;
        if (!random) {
            EXPECT_NE(room.err.find("covered: "), std::string::npos) << room.err;
        }
        // Bars that suggest adds stay inside the room too.
        const ToolResult more = runTool({"suggest", trimmed(room.out), "--apply", "6", "--room", "8x5", "--margin", "0.25"});
        ASSERT_EQ(more.status, 0) << more.err;
        const Json json = Json::parse(runTool({"describe", "--json", "--summary", trimmed(more.out)}).out);
        EXPECT_LE(json["room"]["neededWidth"].get<double>(), 7.5);
        EXPECT_LE(json["room"]["neededDepth"].get<double>(), 4.5);
        EXPECT_GT(json["bars"].size(), 6u);
    }
    EXPECT_EQ(runTool({"generate", "--room", "0.5x5"}).status, 2);
    EXPECT_EQ(runTool({"generate", "--room", "8by5"}).status, 2);
}

TEST(Tool, UsageErrorsExitTwoWithSuggestionsAndReadableBounds) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"coverage", "--nosie", "1", trussCode}, "unknown option --nosie (did you mean --noise?)"},
        {{"describ", trussCode}, "unknown subcommand describ (did you mean describe?)"},
        {{"coverage", trussCode, "--distance", "-1"}, "--distance: Value -1 must be greater than 0\n"},
        {{"generate", "--seed", "-1"}, "--seed: Value -1 must not be negative"},
        {{"suggest", trussCode, "--region", "3,0,1,1"}, "--region 3,0,1,1 is reversed"},
        {{"render", trussCode, "--cell-pixels", "0"}, "--cell-pixels"},
    };
    for (const auto& [arguments, message] : cases) {
        const ToolResult result = runTool(arguments);
        EXPECT_EQ(result.status, 2) << message;
        EXPECT_NE(result.err.find("lumetra-horizontal-grid: error: " + message), std::string::npos) << result.err;
    }
    const ToolResult version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("lumetra-horizontal-grid "), std::string::npos);
    EXPECT_NE(version.out.find("(built as version"), std::string::npos) << version.out;
}

TEST(Tool, UsesTheInstalledLibraryBesideItself) {
    const ScratchDirectory prefix;
    const std::filesystem::path bin = prefix.file("bin"), lib = prefix.file("lib");
    std::filesystem::create_directories(bin);
    std::filesystem::copy_file(LUMETRA_TOOL_PATH, bin / "lumetra-horizontal-grid");
    const std::string tool = (bin / "lumetra-horizontal-grid").string();
    EXPECT_NE(runProgram(tool, {"--version"}).out.find("library " LUMETRA_LIBRARY_PATH " "), std::string::npos);
    std::filesystem::create_directories(lib);
    const std::filesystem::path installed = lib / std::filesystem::path(LUMETRA_LIBRARY_PATH).filename();
    std::filesystem::copy_file(LUMETRA_LIBRARY_PATH, installed);
    const ToolResult version = runProgram(tool, {"--version"});
    EXPECT_NE(version.out.find("library " + installed.string() + " (built as version"), std::string::npos) << version.out;
    EXPECT_NE(version.out.find("; loads)"), std::string::npos) << version.out;
}

TEST(DescribeCommand, TellsWhatIsWrongWithPastedCodes) {
    const std::vector<std::uint8_t> bytes = LumetraSerialization::Base64Converter::decode(trussCode);
    const auto code = [](std::vector<std::uint8_t> data) { return LumetraTest::encodeBase64(data); };
    const ToolResult cut = runTool({"describe", code({bytes.begin(), bytes.end() - 2})});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("truncated after 44 of at least 46 bytes: was it copied completely?"), std::string::npos)
        << cut.err;
    EXPECT_NE(runTool({"describe", "{\"schemeName\": 1}"}).err.find("this looks like JSON"), std::string::npos);
    EXPECT_NE(runTool({"describe", "AgV0!nVz"}).err.find("character '!' at position 5"), std::string::npos);
    std::vector<std::uint8_t> longer = bytes;
    longer.insert(longer.end(), {1, 2, 3});
    const ToolResult appended = runTool({"describe", "--summary", code(longer)});
    EXPECT_EQ(appended.status, 0);
    EXPECT_NE(appended.err.find("warning: 3 bytes after the record are ignored"), std::string::npos) << appended.err;
}

TEST(Tool, EverySubcommandHasHelpAndBadOptionsFail) {
    for (const char* command : {"describe", "encode", "generate", "render", "simulate", "coverage", "suggest"}) {
        const ToolResult help = runTool({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << command;
        EXPECT_NE(runTool({command, "--no-such-option"}).status, 0) << command;
    }
    EXPECT_NE(runTool({}).status, 0);
    EXPECT_NE(runTool({"frobnicate"}).status, 0);
}

}  // namespace
}  // namespace Lumetra::Testing
