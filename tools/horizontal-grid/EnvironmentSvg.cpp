#include "tools/horizontal-grid/EnvironmentSvg.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/core.h>

#include "tools/horizontal-grid/SvgWriter.h"

namespace Lumetra::Tools {
namespace {

using Vector2 = LumetraMath::vector<float, 2>;

/// Maps environment coordinates to the picture's pixels.
struct View {
    double scale;
    double x(double environmentX) const { return environmentX * scale; }
    double y(double environmentZ) const { return environmentZ * scale; }
};

std::string shareColour(double share) {
    return fmt::format("hsl({:.0f},75%,55%)", std::clamp(share, 0.0, 1.0) * 120.0);
}

/// Every n-th cell gets its index label, so that labels never crowd.
int labelEvery(unsigned long cells) { return cells <= 40 ? 1 : cells <= 200 ? 5 : 25; }

void drawCoverage(SvgWriter& svg, const View& view, const CoverageMap& coverage) {
    svg.openGroup({{"id", "coverage"}, {"fill-opacity", "0.6"}});
    const double side = view.x(coverage.step);
    for (std::size_t row = 0; row < coverage.zs.size(); ++row) {
        for (std::size_t column = 0; column < coverage.xs.size(); ++column) {
            const double share = coverage.share(column, row);
            svg.element("rect", {{"x", SvgWriter::number(view.x(coverage.xs[column]) - side / 2)},
                                 {"y", SvgWriter::number(view.y(coverage.zs[row]) - side / 2)},
                                 {"width", SvgWriter::number(side)},
                                 {"height", SvgWriter::number(side)},
                                 {"fill", shareColour(share)}});
        }
    }
    svg.closeGroup();
}

void drawCells(SvgWriter& svg, const View& view, const EnvironmentDescription& d, double fontSize) {
    const double c = d.cellSize;
    const double left = -0.5 * static_cast<double>(d.size.x) * c, top = -0.5 * static_cast<double>(d.size.y) * c;
    svg.openGroup({{"id", "cells"}, {"stroke", "#c8c8c8"}, {"stroke-width", "1"}});
    for (unsigned long i = 0; i <= d.size.x; ++i) {
        const double x = view.x(left + static_cast<double>(i) * c);
        svg.element("line", {{"x1", SvgWriter::number(x)}, {"y1", SvgWriter::number(view.y(top))},
                             {"x2", SvgWriter::number(x)}, {"y2", SvgWriter::number(view.y(-top))}});
    }
    for (unsigned long j = 0; j <= d.size.y; ++j) {
        const double y = view.y(top + static_cast<double>(j) * c);
        svg.element("line", {{"x1", SvgWriter::number(view.x(left))}, {"y1", SvgWriter::number(y)},
                             {"x2", SvgWriter::number(view.x(-left))}, {"y2", SvgWriter::number(y)}});
    }
    svg.closeGroup();

    svg.openGroup({{"id", "cell-numbers"}, {"font-family", "sans-serif"}, {"font-size", SvgWriter::number(fontSize)},
                   {"fill", "#808080"}, {"text-anchor", "middle"}});
    for (unsigned long i = 0; i < d.size.x; i += static_cast<unsigned long>(labelEvery(d.size.x)))
        svg.text(view.x(left + (static_cast<double>(i) + 0.5) * c), view.y(top) - 0.4 * fontSize, std::to_string(i));
    for (unsigned long j = 0; j < d.size.y; j += static_cast<unsigned long>(labelEvery(d.size.y)))
        svg.text(view.x(left) - 1.2 * fontSize, view.y(top + (static_cast<double>(j) + 0.5) * c) + 0.35 * fontSize,
                 std::to_string(j));
    svg.closeGroup();
}

void drawContour(SvgWriter& svg, const View& view, const Environment& environment) {
    std::string points;
    for (std::uint32_t i = 0; i < environment.getContourPointsCount(0); ++i) {
        const Vector2 point = environment.getContourPoint(0, i);
        points += fmt::format("{}{},{}", points.empty() ? "" : " ", SvgWriter::number(view.x(point.x)),
                              SvgWriter::number(view.y(point.y)));
    }
    svg.element("polygon", {{"id", "contour"}, {"points", points}, {"fill", "none"}, {"stroke", "#303030"},
                            {"stroke-width", "2"}});
}

void drawAxes(SvgWriter& svg, const View& view, double length, double fontSize) {
    svg.openGroup({{"id", "axes"}, {"stroke-width", "2"}, {"font-family", "sans-serif"},
                   {"font-size", SvgWriter::number(fontSize)}});
    const double end = view.x(length);
    svg.element("line", {{"x1", "0"}, {"y1", "0"}, {"x2", SvgWriter::number(end)}, {"y2", "0"}, {"stroke", "#d02020"}});
    svg.element("polygon", {{"points", fmt::format("{},0 {},{} {},{}", SvgWriter::number(end),
                                                   SvgWriter::number(end - fontSize * 0.6), SvgWriter::number(fontSize * 0.3),
                                                   SvgWriter::number(end - fontSize * 0.6), SvgWriter::number(-fontSize * 0.3))},
                            {"fill", "#d02020"}});
    svg.text(end + fontSize * 0.3, fontSize * 0.35, "x", {{"fill", "#d02020"}});
    svg.element("line", {{"x1", "0"}, {"y1", "0"}, {"x2", "0"}, {"y2", SvgWriter::number(end)}, {"stroke", "#2040d0"}});
    svg.element("polygon", {{"points", fmt::format("0,{} {},{} {},{}", SvgWriter::number(end),
                                                   SvgWriter::number(fontSize * 0.3), SvgWriter::number(end - fontSize * 0.6),
                                                   SvgWriter::number(-fontSize * 0.3), SvgWriter::number(end - fontSize * 0.6))},
                            {"fill", "#2040d0"}});
    svg.text(fontSize * 0.3, end + fontSize, "z", {{"fill", "#2040d0"}});
    svg.element("circle", {{"cx", "0"}, {"cy", "0"}, {"r", SvgWriter::number(fontSize * 0.25)}, {"fill", "#303030"}});
    svg.closeGroup();
}

void drawBars(SvgWriter& svg, const View& view, const EnvironmentDescription& d, const std::vector<Vector2>& markers,
              double cellPixels, bool numbers) {
    const double radius = 0.07 * cellPixels, fontSize = 0.2 * cellPixels;
    svg.openGroup({{"id", "bars"}, {"font-family", "sans-serif"}, {"font-size", SvgWriter::number(fontSize)}});
    for (std::size_t i = 0; i < d.bars.size(); ++i) {
        const auto& bar = d.bars[i];
        svg.openGroup({{"id", fmt::format("bar{}", i)}});
        svg.title(fmt::format("bar {} at cell ({}, {}), rotation {} deg, markers {} to {}", i, bar._position.x,
                              bar._position.y, rotationDegrees(bar.rotation()), 3 * i, 3 * i + 2));
        const Vector2 first = markers[3 * i], last = markers[3 * i + 2];
        svg.element("line", {{"x1", SvgWriter::number(view.x(first.x))}, {"y1", SvgWriter::number(view.y(first.y))},
                             {"x2", SvgWriter::number(view.x(last.x))}, {"y2", SvgWriter::number(view.y(last.y))},
                             {"stroke", "#505050"}, {"stroke-width", SvgWriter::number(0.08 * cellPixels)},
                             {"stroke-linecap", "round"}});
        // Numbers sit beside the bar, on the side its normal points to.
        const double dx = view.x(last.x - first.x), dy = view.y(last.y - first.y);
        const double length = std::max(std::hypot(dx, dy), 1e-9);
        const double nx = -dy / length, ny = dx / length;
        for (std::size_t k = 0; k < 3; ++k) {
            const Vector2 marker = markers[3 * i + k];
            const double mx = view.x(marker.x), my = view.y(marker.y);
            svg.element("circle", {{"cx", SvgWriter::number(mx)}, {"cy", SvgWriter::number(my)},
                                   {"r", SvgWriter::number(radius)}, {"fill", k == 1 ? "#e08000" : "#101010"}});
            if (numbers)
                svg.text(mx + nx * 1.6 * fontSize, my + ny * 1.6 * fontSize + 0.35 * fontSize, std::to_string(3 * i + k),
                         {{"text-anchor", "middle"}});
        }
        svg.closeGroup();
    }
    svg.closeGroup();
}

}  // namespace

std::string renderEnvironmentSvg(const EnvironmentDescription& d, const Environment& environment,
                                 const SvgOptions& options) {
    const View view{options.cellPixels / static_cast<double>(d.cellSize)};
    const std::vector<Vector2> markers = environment.getMarkers2D();
    const double fontSize = std::max(8.0, 0.25 * options.cellPixels);

    // Everything drawn: the grid, every marker, the axes, plus room for the labels.
    const double halfWidth = 0.5 * static_cast<double>(d.size.x) * d.cellSize;
    const double halfDepth = 0.5 * static_cast<double>(d.size.y) * d.cellSize;
    double minX = -halfWidth, maxX = halfWidth, minZ = -halfDepth, maxZ = halfDepth;
    for (const Vector2& marker : markers) {
        minX = std::min(minX, static_cast<double>(marker.x));
        maxX = std::max(maxX, static_cast<double>(marker.x));
        minZ = std::min(minZ, static_cast<double>(marker.y));
        maxZ = std::max(maxZ, static_cast<double>(marker.y));
    }
    const double axisLength = std::max(static_cast<double>(d.cellSize), 0.2 * std::min(halfWidth, halfDepth) * 2);
    maxX = std::max(maxX, axisLength);
    maxZ = std::max(maxZ, axisLength);
    std::vector<std::string> legend{fmt::format("\"{}\" {} x {} cells of {}, {} bars, markers {} at height {}; seen from above",
                                                d.schemeName, d.size.x, d.size.y, d.cellSize, d.bars.size(),
                                                d.ceiling ? "under a ceiling" : "on the floor", d.height)};
    if (options.coverage != nullptr)
        legend.push_back(fmt::format("covered: {:.1f}% of the floor; colour: share of frames matched (red 0%, green 100%)",
                                     100.0 * options.coverage->coveredFraction()));
    const double legendFontSize = 0.8 * fontSize;
    std::size_t legendCharacters = 0;
    for (const std::string& line : legend) legendCharacters = std::max(legendCharacters, line.size());

    const double margin = 3 * fontSize;
    const double boxX = view.x(minX) - margin, boxY = view.y(minZ) - margin;
    // Sans-serif characters average little more than half their size in width.
    const double boxWidth = std::max(view.x(maxX - minX) + 2 * margin,
                                     0.6 * legendFontSize * static_cast<double>(legendCharacters) + 2 * fontSize);
    const double legendHeight = (static_cast<double>(legend.size()) + 0.5) * 1.3 * legendFontSize;
    const double boxHeight = view.y(maxZ - minZ) + 2 * margin + legendHeight;

    SvgWriter svg(boxWidth, boxHeight, boxX, boxY, boxWidth, boxHeight);
    svg.title(fmt::format("horizontal grid \"{}\": {} x {} cells, {} bars", d.schemeName, d.size.x, d.size.y,
                          d.bars.size()));
    svg.element("rect", {{"x", SvgWriter::number(boxX)}, {"y", SvgWriter::number(boxY)},
                         {"width", SvgWriter::number(boxWidth)}, {"height", SvgWriter::number(boxHeight)},
                         {"fill", "white"}});
    if (options.coverage != nullptr) drawCoverage(svg, view, *options.coverage);
    drawCells(svg, view, d, fontSize * 0.7);
    drawContour(svg, view, environment);
    drawAxes(svg, view, axisLength, fontSize);
    drawBars(svg, view, d, markers, options.cellPixels, options.markerNumbers);

    svg.openGroup({{"id", "legend"}, {"font-family", "sans-serif"}, {"font-size", SvgWriter::number(legendFontSize)},
                   {"fill", "#303030"}});
    for (std::size_t i = 0; i < legend.size(); ++i)
        svg.text(boxX + fontSize, boxY + boxHeight - legendHeight + (static_cast<double>(i) + 1) * 1.3 * legendFontSize,
                 legend[i]);
    svg.closeGroup();
    return svg.finish();
}

}  // namespace Lumetra::Tools
