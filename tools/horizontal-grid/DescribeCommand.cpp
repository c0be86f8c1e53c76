// describe: everything an environment code holds and what the library makes of it.

#include "tools/horizontal-grid/DescribeCommand.h"

#include <numbers>
#include <memory>

#include <fmt/core.h>

#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/DescriptionJson.h"
#include "tools/horizontal-grid/EnvironmentModel.h"
#include "tools/horizontal-grid/Room.h"

namespace Lumetra::Tools {
namespace {

constexpr const char* markerNames[3] = {"first end", "middle", "last end"};

std::string plural(std::size_t count, const char* noun) {
    return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

Json catalogueJson(const CatalogueFigures& figures) {
    Json bySize = Json::object();
    for (const auto& [size, count] : figures.uniqueFeaturesBySize) bySize[std::to_string(size)] = count;
    return Json{
        {"uniqueFeatures", figures.uniqueFeatures},
        {"uniqueFeaturesBySize", std::move(bySize)},
        {"smallestFeatureSize", figures.smallestFeatureSize ? Json(*figures.smallestFeatureSize) : Json(nullptr)},
        {"barsInFeatures", figures.barsInFeatures},
        {"markerSpacing", shortestDouble(figures.markerSpacing)},
        {"markerEllipse", Json{{"t00", shortestDouble(figures.markerEllipse.x)},
                               {"t11", shortestDouble(figures.markerEllipse.y)},
                               {"t01", shortestDouble(figures.markerEllipse.z)}}},
    };
}

Json roomJson(const Environment& environment) {
    const auto box = markerBox(environment.getMarkers2D());
    if (!box) return nullptr;
    const RoomSize needed = box->roomNeeded();
    return Json{{"markersMinX", box->minX}, {"markersMaxX", box->maxX}, {"markersMinZ", box->minZ},
                {"markersMaxZ", box->maxZ}, {"neededWidth", needed.width}, {"neededDepth", needed.depth}};
}

void printJson(const LoadedCode& loaded, const Environment& environment, const CatalogueFigures& figures,
               bool summary) {
    Json json{{"version", loaded.version}};
    json.update(descriptionToJson(loaded.description));
    json["room"] = roomJson(environment);
    if (!summary) {
        Json markers = Json::array();
        for (const auto& marker : environment.getMarkers())
            markers.push_back(Json::array(
                {shortestDouble(marker.x), shortestDouble(marker.y), shortestDouble(marker.z)}));
        json["markers"] = std::move(markers);
    }
    json["catalogue"] = catalogueJson(figures);
    fmt::print("{}\n", json.dump(2));
}

void printGeometry(const LoadedCode& loaded) {
    const EnvironmentDescription& d = loaded.description;
    fmt::print("version      {}{}\n", loaded.version, loaded.version == 2 ? " (current)" : " (upgraded to 2 on reading)");
    fmt::print("scheme       \"{}\"\n", d.schemeName);
    fmt::print("grid         {} x {} cells of {} m = {:g} x {:g} m, centred on the origin\n", d.size.x, d.size.y,
               d.cellSize, static_cast<double>(d.size.x) * d.cellSize, static_cast<double>(d.size.y) * d.cellSize);
    fmt::print("bar          length {}, middle marker at {} of the length, slope {} rad ({:.2f} deg), "
               "offset ({}, {})\n",
               d.barLength, d.barProportion, d.barSlope, d.barSlope * 180.0 / std::numbers::pi, d.barOffset.x, d.barOffset.y);
    fmt::print("markers      {} at height {}\n", d.ceiling ? "under a ceiling" : "on the floor", d.height);
    fmt::print("connectors   {}\n", d.connectors ? "yes" : "no");
}

void printRoom(const EnvironmentDescription& d, const Environment& environment) {
    const auto box = markerBox(environment.getMarkers2D());
    if (!box) return;
    const RoomSize needed = box->roomNeeded();
    const double gridWidth = static_cast<double>(d.size.x) * d.cellSize, gridDepth = static_cast<double>(d.size.y) * d.cellSize;
    fmt::print("extent       markers span {:.3f} x {:.3f} m (world x {:.3f} to {:.3f}, z {:.3f} to {:.3f})\n", box->width(),
               box->depth(), box->minX, box->maxX, box->minZ, box->maxZ);
    fmt::print("room         at least {:.3f} x {:.3f} m, centred on the grid{}\n", needed.width, needed.depth,
               needed.width > gridWidth + 1e-6 || needed.depth > gridDepth + 1e-6 ? " (bars reach beyond the grid)" : "");
}

void printMarkerTable(const Environment& environment, const char* indent) {
    const auto markers = environment.getMarkers();
    fmt::print("{}{:>6}  {:>5}  {:<9}  {:>10} {:>10} {:>10}\n", indent, "number", "bar", "marker", "x", "y", "z");
    for (std::size_t i = 0; i < markers.size(); ++i)
        fmt::print("{}{:>6}  {:>5}  {:<9}  {:>10.4f} {:>10.4f} {:>10.4f}\n", indent, i, i / 3, markerNames[i % 3],
                   markers[i].x, markers[i].y, markers[i].z);
}

void printBarsAndMarkers(const EnvironmentDescription& d, const Environment& environment) {
    fmt::print("\nbars ({})\n  {:>5}  {:>12}  {:>8}\n", d.bars.size(), "bar", "cell", "rotation");
    for (std::size_t i = 0; i < d.bars.size(); ++i) {
        const auto& bar = d.bars[i];
        const std::string cell = fmt::format("({}, {})", bar._position.x, bar._position.y);
        fmt::print("  {:>5}  {:>12}  {:>4} deg{}\n", i, cell, rotationDegrees(bar.rotation()),
                   (bar._properties & ~3u) != 0 ? fmt::format("  (properties byte {})", bar._properties) : "");
    }
    fmt::print("\nmarkers ({})\n", environment.getMarkers().size());
    printMarkerTable(environment, "  ");
}

void printCatalogue(const CatalogueFigures& figures, std::size_t bars) {
    std::string bySize;
    for (const auto& [size, count] : figures.uniqueFeaturesBySize)
        bySize += fmt::format("{}{} of {}", bySize.empty() ? "" : ", ", count, plural(size, "bar"));
    fmt::print("\ncatalogue\n");
    fmt::print("  unique features   {}{}\n", figures.uniqueFeatures, bySize.empty() ? "" : " (" + bySize + ")");
    fmt::print("  smallest feature  {}\n",
               figures.smallestFeatureSize ? plural(*figures.smallestFeatureSize, "bar") : "none: nothing can be matched");
    fmt::print("  bars in features  {} of {}\n", figures.barsInFeatures, bars);
    fmt::print("  marker spacing    {}\n", figures.markerSpacing);
    fmt::print("  marker ellipse    t00 {}, t11 {}, t01 {} (bar lengths, bar frame)\n", figures.markerEllipse.x,
               figures.markerEllipse.y, figures.markerEllipse.z);
}

}  // namespace

/// One line a marker: number, bar, which marker of the bar, and its world position in metres.
void printMarkersCsv(const Environment& environment) {
    const auto markers = environment.getMarkers();
    fmt::print("number,bar,marker,x,y,z\n");
    for (std::size_t i = 0; i < markers.size(); ++i)
        fmt::print("{},{},{},{:.4f},{:.4f},{:.4f}\n", i, i / 3, markerNames[i % 3], markers[i].x, markers[i].y,
                   markers[i].z);
}

int runDescribe(const DescribeOptions& options) {
    const LoadedCode loaded = loadCode(options.input);
    const EnvironmentPtr environment = buildEnvironment(loaded.description);
    if (options.markers) {
        if (options.csv) {
            printMarkersCsv(*environment);
            return 0;
        }
        printMarkerTable(*environment, "");
        return 0;
    }
    const CatalogueFigures figures = catalogueFigures(*environment);
    if (options.json) {
        printJson(loaded, *environment, figures, options.summary);
        return 0;
    }
    printGeometry(loaded);
    printRoom(loaded.description, *environment);
    if (!options.summary) printBarsAndMarkers(loaded.description, *environment);
    printCatalogue(figures, loaded.description.bars.size());
    return 0;
}

void addDescribeCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<DescribeOptions>();
    CLI::App* command = tool.add_subcommand(
        "describe", "Show a code's version, geometry, bars, markers and feature catalogue");
    addInputOptions(*command, options->input, "code", "environment code");
    command->add_flag("--json", options->json, "Write JSON (the input of encode)");
    CLI::Option* summary =
        command->add_flag("--summary", options->summary, "Leave out the lists of bars and markers (JSON: of markers)");
    CLI::Option* markers = command->add_flag("--markers", options->markers,
                                             "Only the marker positions: number, bar, marker, world x, y, z in metres")
                               ->excludes(summary)
                               ->excludes("--json");
    command->add_flag("--csv", options->csv, "With --markers: as comma-separated values")->needs(markers);
    selectOnParse(*command, selected, options, runDescribe);
}

}  // namespace Lumetra::Tools
