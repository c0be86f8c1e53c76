#include "tools/horizontal-grid/EnvironmentSvg.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <fmt/core.h>

#include "tools/horizontal-grid/ColourScale.h"
#include "tools/horizontal-grid/LabelPlacer.h"
#include "tools/horizontal-grid/SvgWriter.h"

namespace Lumetra::Tools {
namespace {

using Vector2 = LumetraMath::vector<float, 2>;
using Number = std::string (*)(double);
constexpr Number n = &SvgWriter::number;

/// Maps world x and z (metres) to the picture's pixels.
struct View {
    double scale;
    double mirror;  ///< -1 when seen from below
    double x(double worldX) const { return mirror * worldX * scale; }
    double y(double worldZ) const { return worldZ * scale; }
};

/// The world rectangle everything drawn covers.
struct WorldBox {
    double minX, maxX, minZ, maxZ;
    void include(double x, double z) {
        minX = std::min(minX, x), maxX = std::max(maxX, x), minZ = std::min(minZ, z), maxZ = std::max(maxZ, z);
    }
};

/// Every n-th cell gets its index label, so that labels never crowd.
int labelEvery(unsigned long cells) { return cells <= 40 ? 1 : cells <= 200 ? 5 : 25; }

/// The ruler's tick spacing in metres: the smallest of 1, 2, 5 times a power of ten that leaves
/// `pixels` between ticks.
double tickSpacing(double scale, double pixels) {
    for (double decade = 0.01;; decade *= 10)
        for (const double factor : {1.0, 2.0, 5.0})
            if (factor * decade * scale >= pixels) return factor * decade;
}

std::string metres(double value) { return fmt::format("{:g} m", std::abs(value) < 1e-9 ? 0.0 : value); }

void drawCoverage(SvgWriter& svg, const View& view, const CoverageMap& coverage) {
    svg.openGroup({{"id", "coverage"}, {"fill-opacity", "0.75"}});
    const double side = view.scale * coverage.step;
    for (std::size_t row = 0; row < coverage.zs.size(); ++row) {
        for (std::size_t column = 0; column < coverage.xs.size(); ++column) {
            const double share = coverage.share(column, row);
            svg.element("rect",
                        {{"x", n(view.x(coverage.xs[column]) - side / 2)}, {"y", n(view.y(coverage.zs[row]) - side / 2)},
                         {"width", n(side)}, {"height", n(side)}, {"fill", sequentialColour(share)}},
                        fmt::format("x {:.2f} m, z {:.2f} m: {:.0f}% of {} frames located correctly{}", coverage.xs[column],
                                    coverage.zs[row], 100.0 * share, coverage.framesPerPosition,
                                    share >= coverage.threshold ? "" : " (not covered)"));
        }
    }
    svg.closeGroup();
}

void drawCells(SvgWriter& svg, const View& view, const EnvironmentDescription& d, const WorldBox& world, double fontSize) {
    const double c = d.cellSize;
    const double left = -0.5 * static_cast<double>(d.size.x) * c, top = -0.5 * static_cast<double>(d.size.y) * c;
    svg.openGroup({{"id", "cells"}, {"stroke", "#c8c8c8"}, {"stroke-width", "1"}});
    for (unsigned long i = 0; i <= d.size.x; ++i) {
        const double x = view.x(left + static_cast<double>(i) * c);
        svg.element("line", {{"x1", n(x)}, {"y1", n(view.y(top))}, {"x2", n(x)}, {"y2", n(view.y(-top))}});
    }
    for (unsigned long j = 0; j <= d.size.y; ++j) {
        const double y = view.y(top + static_cast<double>(j) * c);
        svg.element("line", {{"x1", n(view.x(left))}, {"y1", n(y)}, {"x2", n(view.x(-left))}, {"y2", n(y)}});
    }
    svg.closeGroup();

    // Column numbers above everything drawn, row numbers left of it, clear of bars and room.
    const double rowLabelX = std::min(view.x(world.minX), view.x(world.maxX)) - 1.2 * fontSize;
    const double columnLabelY = view.y(world.minZ) - 0.5 * fontSize;
    svg.openGroup({{"id", "cell-numbers"}, {"font-family", "sans-serif"}, {"font-size", n(fontSize)},
                   {"fill", "#808080"}, {"text-anchor", "middle"}});
    for (unsigned long i = 0; i < d.size.x; i += static_cast<unsigned long>(labelEvery(d.size.x)))
        svg.text(view.x(left + (static_cast<double>(i) + 0.5) * c), columnLabelY, std::to_string(i));
    for (unsigned long j = 0; j < d.size.y; j += static_cast<unsigned long>(labelEvery(d.size.y)))
        svg.text(rowLabelX, view.y(top + (static_cast<double>(j) + 0.5) * c) + 0.35 * fontSize, std::to_string(j));
    svg.closeGroup();
}

/// Metre rulers along the top and the left edge of `box`, `offset` pixels outside it.
void drawRulers(SvgWriter& svg, const View& view, const WorldBox& box, double offset, double fontSize) {
    const double spacing = tickSpacing(view.scale, 3.5 * fontSize);
    const double pixelLeft = std::min(view.x(box.minX), view.x(box.maxX));
    const double rulerY = view.y(box.minZ) - offset, rulerX = pixelLeft - offset;
    const double tick = 0.4 * fontSize;
    svg.openGroup({{"id", "rulers"}, {"stroke", "#404040"}, {"fill", "#404040"}, {"font-family", "sans-serif"},
                   {"font-size", n(fontSize)}});
    const double firstX = std::ceil(box.minX / spacing - 1e-9), lastX = std::floor(box.maxX / spacing + 1e-9);
    svg.element("line", {{"x1", n(view.x(box.minX))}, {"y1", n(rulerY)}, {"x2", n(view.x(box.maxX))}, {"y2", n(rulerY)}});
    for (double k = firstX; k <= lastX; ++k) {
        const double x = view.x(k * spacing);
        svg.element("line", {{"x1", n(x)}, {"y1", n(rulerY)}, {"x2", n(x)}, {"y2", n(rulerY + tick)}});
        svg.text(x, rulerY - 0.3 * fontSize, metres(k * spacing), {{"text-anchor", "middle"}, {"stroke", "none"}});
    }
    const double firstZ = std::ceil(box.minZ / spacing - 1e-9), lastZ = std::floor(box.maxZ / spacing + 1e-9);
    svg.element("line", {{"x1", n(rulerX)}, {"y1", n(view.y(box.minZ))}, {"x2", n(rulerX)}, {"y2", n(view.y(box.maxZ))}});
    for (double k = firstZ; k <= lastZ; ++k) {
        const double y = view.y(k * spacing);
        svg.element("line", {{"x1", n(rulerX)}, {"y1", n(y)}, {"x2", n(rulerX + tick)}, {"y2", n(y)}});
        svg.text(rulerX - 0.3 * fontSize, y + 0.35 * fontSize, metres(k * spacing), {{"text-anchor", "end"}, {"stroke", "none"}});
    }
    svg.closeGroup();
}

/// The given room dashed, or (`needed`) the smallest room holding the markers dotted.
void drawRoom(SvgWriter& svg, const View& view, const RoomSize& room, bool needed) {
    const double left = std::min(view.x(-0.5 * room.width), view.x(0.5 * room.width));
    svg.element("rect",
                {{"id", needed ? "room-needed" : "room"}, {"x", n(left)}, {"y", n(view.y(-0.5 * room.depth))},
                 {"width", n(view.scale * room.width)}, {"height", n(view.scale * room.depth)}, {"fill", "none"},
                 {"stroke", needed ? "#707070" : "#000000"}, {"stroke-width", needed ? "1.5" : "3"},
                 {"stroke-dasharray", needed ? "3,4" : "12,6"}},
                fmt::format("{} {:.3f} x {:.3f} m", needed ? "smallest room holding every marker:" : "room", room.width,
                            room.depth));
}

void drawContour(SvgWriter& svg, const View& view, const Environment& environment) {
    std::string points;
    for (std::uint32_t i = 0; i < environment.getContourPointsCount(0); ++i) {
        const Vector2 point = environment.getContourPoint(0, i);
        points += fmt::format("{}{},{}", points.empty() ? "" : " ", n(view.x(point.x)), n(view.y(point.y)));
    }
    svg.element("polygon", {{"id", "contour"}, {"points", points}, {"fill", "none"}, {"stroke", "#303030"},
                            {"stroke-width", "2"}});
}

void drawAxes(SvgWriter& svg, const View& view, double length, double fontSize) {
    svg.openGroup({{"id", "axes"}, {"stroke-width", "2"}, {"font-family", "sans-serif"}, {"font-size", n(fontSize)}});
    const double endX = view.x(length), endZ = view.y(length), head = 0.6 * fontSize, wing = 0.3 * fontSize;
    const double back = endX - std::copysign(head, endX);
    svg.element("line", {{"x1", "0"}, {"y1", "0"}, {"x2", n(endX)}, {"y2", "0"}, {"stroke", "#d02020"}});
    svg.element("polygon", {{"points", fmt::format("{},0 {},{} {},{}", n(endX), n(back), n(wing), n(back), n(-wing))},
                            {"fill", "#d02020"}});
    svg.text(endX + std::copysign(0.9 * fontSize, endX), fontSize * 0.35, "x", {{"fill", "#d02020"}, {"text-anchor", "middle"}});
    svg.element("line", {{"x1", "0"}, {"y1", "0"}, {"x2", "0"}, {"y2", n(endZ)}, {"stroke", "#2040d0"}});
    svg.element("polygon", {{"points", fmt::format("0,{} {},{} {},{}", n(endZ), n(wing), n(endZ - head), n(-wing),
                                                   n(endZ - head))},
                            {"fill", "#2040d0"}});
    svg.text(fontSize * 0.3, endZ + fontSize, "z", {{"fill", "#2040d0"}});
    svg.element("circle", {{"cx", "0"}, {"cy", "0"}, {"r", n(fontSize * 0.25)}, {"fill", "#303030"}});
    svg.closeGroup();
}

void drawBars(SvgWriter& svg, const View& view, const EnvironmentDescription& d, const std::vector<Vector2>& markers,
              double cellPixels, bool numbers, const std::vector<Box>& taken) {
    const double radius = 0.07 * cellPixels, fontSize = 0.2 * cellPixels;
    // Marks first, so that no label lands on a marker, a bar or the axes' letters.
    LabelPlacer labels(fontSize);
    for (const Box& box : taken) labels.addObstacle(box);
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const double x = view.x(markers[i].x), y = view.y(markers[i].y);
        labels.addObstacle({x - radius, y - radius, x + radius, y + radius});
        if (i % 3 == 2)
            for (const double t : {0.25, 0.5, 0.75}) {
                const double bx = x + t * (view.x(markers[i - 2].x) - x), by = y + t * (view.y(markers[i - 2].y) - y);
                labels.addObstacle({bx - radius, by - radius, bx + radius, by + radius});
            }
    }
    svg.openGroup({{"id", "bars"}, {"font-family", "sans-serif"}, {"font-size", n(fontSize)}});
    for (std::size_t i = 0; i < d.bars.size(); ++i) {
        const auto& bar = d.bars[i];
        svg.openGroup({{"id", fmt::format("bar{}", i)}});
        svg.title(fmt::format("bar {} at cell ({}, {}), rotation {} deg, markers {} to {}", i, bar._position.x,
                              bar._position.y, rotationDegrees(bar.rotation()), 3 * i, 3 * i + 2));
        const Vector2 first = markers[3 * i], last = markers[3 * i + 2];
        svg.element("line", {{"x1", n(view.x(first.x))}, {"y1", n(view.y(first.y))}, {"x2", n(view.x(last.x))},
                             {"y2", n(view.y(last.y))}, {"stroke", "#505050"}, {"stroke-width", n(0.08 * cellPixels)},
                             {"stroke-linecap", "round"}});
        // Marker numbers on the side the bar's normal points to, the bar's number on the other.
        const double dx = view.x(last.x) - view.x(first.x), dy = view.y(last.y) - view.y(first.y);
        const double length = std::max(std::hypot(dx, dy), 1e-9);
        const double nx = -dy / length, ny = dx / length;
        for (std::size_t k = 0; k < 3; ++k) {
            const Vector2 marker = markers[3 * i + k];
            const double mx = view.x(marker.x), my = view.y(marker.y);
            svg.element("circle", {{"cx", n(mx)}, {"cy", n(my)}, {"r", n(radius)}, {"fill", k == 1 ? "#e08000" : "#101010"}});
            if (!numbers) continue;
            const std::string number = std::to_string(3 * i + k);
            const auto [lx, ly] = labels.place(mx, my, number, nx, ny);
            svg.text(lx, ly + 0.35 * fontSize, number, {{"text-anchor", "middle"}});
        }
        const Vector2 middle = markers[3 * i + 1];
        const std::string name = fmt::format("#{}", i);
        const auto [bx, by] = labels.place(view.x(middle.x), view.y(middle.y), name, -nx, -ny);
        svg.text(bx, by + 0.35 * fontSize, name, {{"text-anchor", "middle"}, {"font-weight", "bold"}, {"fill", "#1a5e9a"}});
        svg.closeGroup();
    }
    svg.closeGroup();
}

/// The colour bar of the coverage map: the scale from 0 % to 100 %, the threshold marked.
void drawColourLegend(SvgWriter& svg, double x, double y, double width, double fontSize, double threshold) {
    constexpr int steps = 20;
    const double height = 0.9 * fontSize, step = width / steps;
    svg.openGroup({{"id", "colour-legend"}, {"font-family", "sans-serif"}, {"font-size", n(fontSize)}, {"fill", "#303030"}});
    for (int k = 0; k < steps; ++k)
        svg.element("rect", {{"x", n(x + k * step)}, {"y", n(y)}, {"width", n(step + 0.5)}, {"height", n(height)},
                             {"fill", sequentialColour((k + 0.5) / steps)}});
    for (const double share : {0.0, 0.25, 0.5, 0.75, 1.0})
        svg.text(x + share * width, y + height + 1.1 * fontSize, fmt::format("{:.0f}%", 100 * share),
                 {{"text-anchor", "middle"}});
    svg.element("line", {{"x1", n(x + threshold * width)}, {"y1", n(y - 0.3 * fontSize)}, {"x2", n(x + threshold * width)},
                         {"y2", n(y + height + 0.2 * fontSize)}, {"stroke", "#d02020"}, {"stroke-width", "2"}});
    svg.closeGroup();
}

}  // namespace

std::string renderEnvironmentSvg(const EnvironmentDescription& d, const Environment& environment,
                                 const SvgOptions& options) {
    const View view{options.cellPixels / static_cast<double>(d.cellSize), options.fromBelow ? -1.0 : 1.0};
    const std::vector<Vector2> markers = environment.getMarkers2D();
    const double fontSize = std::max(8.0, 0.25 * options.cellPixels);

    // Everything drawn in the world: the grid, every marker, the room and the axes.
    const double halfWidth = 0.5 * static_cast<double>(d.size.x) * d.cellSize;
    const double halfDepth = 0.5 * static_cast<double>(d.size.y) * d.cellSize;
    WorldBox world{-halfWidth, halfWidth, -halfDepth, halfDepth};
    for (const Vector2& marker : markers) world.include(marker.x, marker.y);
    if (options.room) world.include(-0.5 * options.room->width, -0.5 * options.room->depth);
    if (options.room) world.include(0.5 * options.room->width, 0.5 * options.room->depth);
    const double axisLength = std::max(static_cast<double>(d.cellSize), 0.2 * std::min(halfWidth, halfDepth) * 2);
    world.include(axisLength, axisLength);

    std::vector<std::string> legend{fmt::format(
        "\"{}\" {} x {} cells of {:g} m, {} bars, markers {} at height {:g} m; seen from {}", d.schemeName, d.size.x,
        d.size.y, d.cellSize, d.bars.size(), d.ceiling ? "under a ceiling" : "on the floor", d.height,
        options.fromBelow ? "below (mirrored: world x points left)" : "above")};
    legend.push_back(options.markerNumbers ? "#n: bar numbers; plain numbers: marker numbers (orange: a bar's middle marker)"
                                           : "#n: bar numbers (orange: a bar's middle marker)");
    // Without a room given, the smallest one centred on the grid that holds every marker.
    const auto box = markerBox(markers);
    const std::optional<RoomSize> needed =
        options.room || !box ? std::nullopt : std::optional<RoomSize>(box->roomNeeded());
    if (options.room) legend.push_back(fmt::format("dashed: the room, {:g} x {:g} m", options.room->width, options.room->depth));
    if (needed)
        legend.push_back(fmt::format("dotted: the smallest room centred on the grid that holds every marker, {:.2f} x {:.2f} m",
                                     needed->width, needed->depth));
    if (options.coverage != nullptr)
        legend.push_back(fmt::format("covered: {:.1f}% of the floor by {}; colour: share of frames located correctly "
                                     "(red line: {:.0f}%, from which a position counts as covered)",
                                     100.0 * options.coverage->coveredFraction(), options.coverageLegend,
                                     100.0 * options.coverage->threshold));
    const double legendFontSize = 0.8 * fontSize;
    std::size_t legendCharacters = 0;
    for (const std::string& line : legend) legendCharacters = std::max(legendCharacters, line.size());

    const double rulerOffset = 2.6 * fontSize, margin = rulerOffset + 5 * fontSize;
    const double boxX = std::min(view.x(world.minX), view.x(world.maxX)) - margin, boxY = view.y(world.minZ) - margin;
    const double colourBarHeight = options.coverage != nullptr ? 3.5 * legendFontSize : 0.0;
    // Sans-serif characters average little more than half their size in width.
    const double boxWidth = std::max(view.scale * (world.maxX - world.minX) + margin + 2 * fontSize,
                                     0.6 * legendFontSize * static_cast<double>(legendCharacters) + 2 * fontSize);
    const double legendHeight = (static_cast<double>(legend.size()) + 0.5) * 1.3 * legendFontSize + colourBarHeight;
    const double boxHeight = view.scale * (world.maxZ - world.minZ) + margin + 2 * fontSize + legendHeight;

    SvgWriter svg(boxWidth, boxHeight, boxX, boxY, boxWidth, boxHeight);
    svg.title(fmt::format("horizontal grid \"{}\": {} x {} cells, {} bars", d.schemeName, d.size.x, d.size.y,
                          d.bars.size()));
    svg.element("rect", {{"x", n(boxX)}, {"y", n(boxY)}, {"width", n(boxWidth)}, {"height", n(boxHeight)}, {"fill", "white"}});
    if (options.coverage != nullptr) drawCoverage(svg, view, *options.coverage);
    drawCells(svg, view, d, world, fontSize * 0.7);
    drawRulers(svg, view, world, rulerOffset + 0.6 * fontSize, fontSize * 0.7);
    if (options.room) drawRoom(svg, view, *options.room, false);
    if (needed) drawRoom(svg, view, *needed, true);
    drawContour(svg, view, environment);
    drawAxes(svg, view, axisLength, fontSize);
    const double axisEndX = view.x(axisLength), axisEndZ = view.y(axisLength);
    const double letterX = axisEndX + std::copysign(0.9 * fontSize, axisEndX);
    const std::vector<Box> axisLetters{{letterX - 0.5 * fontSize, -0.6 * fontSize, letterX + 0.5 * fontSize, 0.6 * fontSize},
                                       {0, axisEndZ, 1.2 * fontSize, axisEndZ + 1.2 * fontSize},
                                       {-0.4 * fontSize, -0.4 * fontSize, 0.4 * fontSize, 0.4 * fontSize}};
    drawBars(svg, view, d, markers, options.cellPixels, options.markerNumbers, axisLetters);

    const double legendTop = boxY + boxHeight - legendHeight;
    svg.openGroup({{"id", "legend"}, {"font-family", "sans-serif"}, {"font-size", n(legendFontSize)}, {"fill", "#303030"}});
    for (std::size_t i = 0; i < legend.size(); ++i)
        svg.text(boxX + fontSize, legendTop + (static_cast<double>(i) + 1) * 1.3 * legendFontSize, legend[i]);
    svg.closeGroup();
    if (options.coverage != nullptr)
        drawColourLegend(svg, boxX + 2 * fontSize, legendTop + (static_cast<double>(legend.size()) + 0.6) * 1.3 * legendFontSize,
                         std::min(boxWidth - 2 * fontSize, 20 * legendFontSize), legendFontSize,
                         options.coverage->threshold);
    return svg.finish();
}

}  // namespace Lumetra::Tools
