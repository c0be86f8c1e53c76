#include "tools/horizontal-grid/InstallationSheet.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <fmt/core.h>

#include "tools/horizontal-grid/ColourScale.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/SvgWriter.h"

namespace Lumetra::Tools {
namespace {

std::string n(double value) { return SvgWriter::number(value); }

constexpr double pageMargin = 12;  // mm
constexpr double font = 3.6;       // mm: 10.2 pt
constexpr double line = 5.0;       // mm between text lines

/// Paper millimetres of world metres: x to the right, z downwards.
struct Drawing {
    double left, top, millimetresPerMetre;
    RoomSize room;

    double x(double worldX) const { return left + (worldX + 0.5 * room.width) * millimetresPerMetre; }
    double y(double worldZ) const { return top + (worldZ + 0.5 * room.depth) * millimetresPerMetre; }
    double width() const { return room.width * millimetresPerMetre; }
    double height() const { return room.depth * millimetresPerMetre; }
};

/// Three diagonals across the square (x, y, side): the hatching of an uncovered cell.
void hatch(SvgWriter& svg, double x, double y, double side) {
    const double h = side / 2;
    svg.element("line", {{"x1", n(x)}, {"y1", n(y + h)}, {"x2", n(x + h)}, {"y2", n(y)}});
    svg.element("line", {{"x1", n(x)}, {"y1", n(y + side)}, {"x2", n(x + side)}, {"y2", n(y)}});
    svg.element("line", {{"x1", n(x + h)}, {"y1", n(y + side)}, {"x2", n(x + side)}, {"y2", n(y + h)}});
}

void drawCoverage(SvgWriter& svg, const Drawing& drawing, const CoverageMap& coverage) {
    const double side = coverage.step * drawing.millimetresPerMetre;
    svg.openGroup({{"id", "coverage"}, {"fill-opacity", "0.55"}});
    for (std::size_t row = 0; row < coverage.zs.size(); ++row)
        for (std::size_t column = 0; column < coverage.xs.size(); ++column)
            svg.element("rect", {{"x", n(drawing.x(coverage.xs[column]) - side / 2)},
                                 {"y", n(drawing.y(coverage.zs[row]) - side / 2)},
                                 {"width", n(side)},
                                 {"height", n(side)},
                                 {"fill", sequentialColour(coverage.share(column, row))}});
    svg.closeGroup();
    svg.openGroup({{"id", "uncovered"}, {"stroke", "#202020"}, {"stroke-width", "0.25"}});
    for (std::size_t row = 0; row < coverage.zs.size(); ++row)
        for (std::size_t column = 0; column < coverage.xs.size(); ++column)
            if (coverage.share(column, row) < coverage.threshold)
                hatch(svg, drawing.x(coverage.xs[column]) - side / 2, drawing.y(coverage.zs[row]) - side / 2, side);
    svg.closeGroup();
}

void drawCells(SvgWriter& svg, const Drawing& drawing, const EnvironmentDescription& d) {
    const double c = d.cellSize;
    const double left = -0.5 * static_cast<double>(d.size.x) * c, top = -0.5 * static_cast<double>(d.size.y) * c;
    svg.openGroup({{"id", "cells"}, {"stroke", "#b0b0b0"}, {"stroke-width", "0.15"}});
    for (unsigned long i = 0; i <= d.size.x; ++i) {
        const double x = drawing.x(left + static_cast<double>(i) * c);
        svg.element("line", {{"x1", n(x)}, {"y1", n(drawing.y(top))}, {"x2", n(x)}, {"y2", n(drawing.y(-top))}});
    }
    for (unsigned long j = 0; j <= d.size.y; ++j) {
        const double y = drawing.y(top + static_cast<double>(j) * c);
        svg.element("line", {{"x1", n(drawing.x(left))}, {"y1", n(y)}, {"x2", n(drawing.x(-left))}, {"y2", n(y)}});
    }
    svg.closeGroup();
}

void drawWalls(SvgWriter& svg, const Drawing& drawing) {
    svg.element("rect", {{"x", n(drawing.left)}, {"y", n(drawing.top)}, {"width", n(drawing.width())},
                         {"height", n(drawing.height())}, {"fill", "none"}, {"stroke", "black"}, {"stroke-width", "0.7"}});
    svg.openGroup({{"font-family", "sans-serif"}, {"font-size", n(font)}, {"fill", "#303030"}});
    const double middleX = drawing.left + drawing.width() / 2, middleY = drawing.top + drawing.height() / 2;
    svg.text(middleX, drawing.top - 1.5, "top wall", {{"text-anchor", "middle"}});
    svg.text(middleX, drawing.top + drawing.height() + font + 1, "bottom wall", {{"text-anchor", "middle"}});
    svg.text(drawing.left - 1.5, middleY, "left wall",
             {{"text-anchor", "middle"}, {"transform", fmt::format("rotate(-90 {} {})", n(drawing.left - 1.5), n(middleY))}});
    const double right = drawing.left + drawing.width() + font;
    svg.text(right, middleY, "right wall",
             {{"text-anchor", "middle"}, {"transform", fmt::format("rotate(-90 {} {})", n(right), n(middleY))}});
    svg.closeGroup();
}

double drawnAngle(const Environment::Vector2& first, const Environment::Vector2& last) {
    // Counter-clockwise as drawn, where world z points down the page.
    const double degrees = std::atan2(-(last.y - first.y), last.x - first.x) * 180.0 / std::numbers::pi;
    return degrees < 0 ? degrees + 360 : degrees;
}

void drawBars(SvgWriter& svg, const Drawing& drawing, const std::vector<Environment::Vector2>& markers) {
    svg.openGroup({{"id", "bars"}});
    for (std::size_t bar = 0; 3 * bar + 2 < markers.size(); ++bar) {
        const auto& first = markers[3 * bar];
        const auto& last = markers[3 * bar + 2];
        svg.element("line", {{"x1", n(drawing.x(first.x))}, {"y1", n(drawing.y(first.y))}, {"x2", n(drawing.x(last.x))},
                             {"y2", n(drawing.y(last.y))}, {"stroke", "black"}, {"stroke-width", "0.6"}});
        for (std::size_t k = 0; k < 3; ++k)
            svg.element("circle", {{"cx", n(drawing.x(markers[3 * bar + k].x))}, {"cy", n(drawing.y(markers[3 * bar + k].y))},
                                   {"r", "0.9"}, {"fill", k == 1 ? "#e66100" : "black"}});
        // The number beside the bar's middle, on the side away from its line.
        const double dx = drawing.x(last.x) - drawing.x(first.x), dy = drawing.y(last.y) - drawing.y(first.y);
        const double length = std::max(1e-9, std::hypot(dx, dy));
        const double cx = 0.5 * (drawing.x(first.x) + drawing.x(last.x)) - dy / length * 3.2;
        const double cy = 0.5 * (drawing.y(first.y) + drawing.y(last.y)) + dx / length * 3.2;
        svg.text(cx, cy + font / 3, fmt::format("{}", bar),
                 {{"text-anchor", "middle"}, {"font-family", "sans-serif"}, {"font-size", n(font)}, {"font-weight", "bold"},
                  {"fill", "#1a1a80"}, {"stroke", "white"}, {"stroke-width", "0.6"}, {"paint-order", "stroke"}});
    }
    svg.closeGroup();
}

void drawScaleBar(SvgWriter& svg, double x, double y, double millimetresPerMetre) {
    svg.element("rect", {{"x", n(x)}, {"y", n(y)}, {"width", n(millimetresPerMetre)}, {"height", "1.5"}, {"fill", "black"}});
    svg.element("rect", {{"x", n(x + millimetresPerMetre)}, {"y", n(y)}, {"width", n(millimetresPerMetre)}, {"height", "1.5"},
                         {"fill", "white"}, {"stroke", "black"}, {"stroke-width", "0.3"}});
    svg.openGroup({{"font-family", "sans-serif"}, {"font-size", n(font)}});
    for (int metre = 0; metre <= 2; ++metre)
        svg.text(x + metre * millimetresPerMetre, y + 1.5 + font + 0.5, fmt::format("{} m", metre), {{"text-anchor", "middle"}});
    svg.closeGroup();
}

/// Ten steps of the colour scale, those below the threshold hatched, the threshold marked.
void drawColourScale(SvgWriter& svg, double x, double y, double threshold) {
    constexpr double box = 8;
    for (int step = 0; step < 10; ++step) {
        const double value = (step + 0.5) / 10;
        svg.element("rect", {{"x", n(x + step * box)}, {"y", n(y)}, {"width", n(box)}, {"height", n(box * 0.6)},
                             {"fill", sequentialColour(value)}, {"fill-opacity", "0.55"}});
        if (value < threshold) {
            svg.openGroup({{"stroke", "#202020"}, {"stroke-width", "0.25"}});
            hatch(svg, x + step * box, y - box * 0.2, box);
            svg.closeGroup();
        }
    }
    svg.element("rect", {{"x", n(x)}, {"y", n(y)}, {"width", n(10 * box)}, {"height", n(box * 0.6)}, {"fill", "none"},
                         {"stroke", "black"}, {"stroke-width", "0.3"}});
    const double mark = x + threshold * 10 * box;
    svg.element("line", {{"x1", n(mark)}, {"y1", n(y - 1.5)}, {"x2", n(mark)}, {"y2", n(y + box * 0.6 + 1.5)},
                         {"stroke", "#d00000"}, {"stroke-width", "0.6"}});
    svg.openGroup({{"font-family", "sans-serif"}, {"font-size", n(font)}});
    svg.text(x, y + box * 0.6 + font + 1, "0%", {{"text-anchor", "middle"}});
    svg.text(mark, y + box * 0.6 + font + 1, fmt::format("{:.0f}%", 100 * threshold), {{"text-anchor", "middle"}, {"fill", "#d00000"}});
    svg.text(x + 10 * box, y + box * 0.6 + font + 1, "100%", {{"text-anchor", "middle"}});
    svg.closeGroup();
}

}  // namespace

WallDistances wallDistances(double x, double z, const RoomSize& room) {
    WallDistances result;
    const double left = x + 0.5 * room.width, right = 0.5 * room.width - x;
    const double top = z + 0.5 * room.depth, bottom = 0.5 * room.depth - z;
    result.sideWall = left <= right ? "left" : "right";
    result.fromSide = std::min(left, right);
    result.endWall = top <= bottom ? "top" : "bottom";
    result.fromEnd = std::min(top, bottom);
    return result;
}

std::pair<double, double> paperSize(const std::string& paper) {
    if (paper == "A4") return {297, 210};
    if (paper == "A3") return {420, 297};
    throw UsageError("unknown paper \"" + paper + "\": give A4 or A3");
}

std::string renderInstallationSheet(const EnvironmentDescription& d, const Environment& environment,
                                    const SheetOptions& options) {
    const auto [pageWidth, pageHeight] = paperSize(options.paper);
    const double perMetre = 1000.0 / options.scale;
    const Drawing drawing{pageMargin + 2 * font, pageMargin + 3 * line, perMetre, options.room};
    const std::vector<Environment::Vector2> markers = environment.getMarkers2D();
    const std::size_t bars = markers.size() / 3;

    // The table beside the drawing when there is room for it, else beneath.
    constexpr double tableWidth = 150;
    const double legendHeight = 7 * line + 16;
    const bool beside = drawing.left + drawing.width() + 2 * font + 6 + tableWidth <= pageWidth - pageMargin;
    const double drawingBottom = drawing.top + drawing.height() + font + 2;
    if (drawing.left + drawing.width() + 2 * font > pageWidth - pageMargin ||
        drawingBottom + legendHeight > pageHeight - pageMargin)
        throw UsageError(fmt::format("a room of {:g} x {:g} m at 1:{:g} does not fit {} paper: give a larger --paper "
                                     "or --scale",
                                     options.room.width, options.room.depth, options.scale, options.paper));

    SvgWriter svg(pageWidth, pageHeight, 0, 0, pageWidth, pageHeight, "mm");
    svg.title(fmt::format("installation sheet: room {:g} x {:g} m, {} bars", options.room.width, options.room.depth, bars));
    svg.element("rect", {{"x", "0"}, {"y", "0"}, {"width", n(pageWidth)}, {"height", n(pageHeight)}, {"fill", "white"}});
    svg.text(pageMargin, pageMargin + 2,
             fmt::format("Installation sheet: room {:g} x {:g} m, {} bars ({}), markers {} at {:g} m; scale 1:{:g} on {}",
                         options.room.width, options.room.depth, bars, d.schemeName,
                         d.ceiling ? "under a ceiling" : "on the floor", d.height, options.scale, options.paper),
             {{"font-family", "sans-serif"}, {"font-size", "5"}, {"font-weight", "bold"}});

    if (options.coverage != nullptr) drawCoverage(svg, drawing, *options.coverage);
    drawCells(svg, drawing, d);
    drawWalls(svg, drawing);
    drawBars(svg, drawing, markers);

    // Legend, scale bar and colour scale beneath the drawing.
    double y = drawingBottom + line;
    std::vector<std::string> legend;
    if (options.coverage != nullptr) {
        legend.push_back(fmt::format("coverage: {}", options.coverageLegend));
        legend.push_back(fmt::format("covered: {:.1f}% of the floor; hatched: cells located in fewer than {:.0f}% of frames",
                                     100 * options.coverage->coveredFraction(), 100 * options.coverage->threshold));
    }
    legend.push_back("bars numbered; black: end markers, orange: middle marker");
    legend.push_back("table: distances in cm from the nearer side wall (left/right) and end wall (top/bottom)");
    legend.push_back("to each end marker; angle: of first to last end marker, counter-clockwise as drawn");
    svg.openGroup({{"font-family", "sans-serif"}, {"font-size", n(font)}, {"fill", "#202020"}});
    for (const std::string& text : legend) {
        svg.text(pageMargin, y, text);
        y += line;
    }
    svg.closeGroup();
    drawScaleBar(svg, pageMargin, y, perMetre);
    if (options.coverage != nullptr) drawColourScale(svg, pageMargin + 2 * perMetre + 15, y, options.coverage->threshold);

    // The table of bars, in as many columns as fit.
    const double tableTop = beside ? drawing.top : y + 3 * line;
    double tableLeft = beside ? drawing.left + drawing.width() + 2 * font + 6 : pageMargin;
    const auto rowsPerColumn = static_cast<std::size_t>(std::max(2.0, std::floor((pageHeight - pageMargin - tableTop) / line) - 1));
    svg.openGroup({{"id", "table"}, {"font-family", "sans-serif"}, {"font-size", n(font)}, {"fill", "black"}});
    std::size_t bar = 0;
    while (bar < bars) {
        if (tableLeft + tableWidth > pageWidth - pageMargin + 1e-9) {
            svg.text(pageMargin, pageHeight - pageMargin + line / 2,
                     fmt::format("bars {} to {}: see describe --markers --csv", bar, bars - 1), {{"fill", "#d00000"}});
            break;
        }
        svg.text(tableLeft, tableTop, "bar  angle   first end marker (cm)            last end marker (cm)",
                 {{"font-weight", "bold"}, {"xml:space", "preserve"}});
        for (std::size_t row = 0; row < rowsPerColumn && bar < bars; ++row, ++bar) {
            const auto& first = markers[3 * bar];
            const auto& last = markers[3 * bar + 2];
            const WallDistances a = wallDistances(first.x, first.y, options.room);
            const WallDistances b = wallDistances(last.x, last.y, options.room);
            const double rowY = tableTop + static_cast<double>(row + 1) * line;
            svg.text(tableLeft, rowY, fmt::format("{}", bar));
            svg.text(tableLeft + 8, rowY, fmt::format("{:.1f}°", drawnAngle(first, last)));
            svg.text(tableLeft + 24, rowY, fmt::format("#{}: {:.1f} {}, {:.1f} {}", 3 * bar, 100 * a.fromSide, a.sideWall,
                                                       100 * a.fromEnd, a.endWall));
            svg.text(tableLeft + 87, rowY, fmt::format("#{}: {:.1f} {}, {:.1f} {}", 3 * bar + 2, 100 * b.fromSide, b.sideWall,
                                                       100 * b.fromEnd, b.endWall));
        }
        tableLeft += tableWidth + 6;
    }
    svg.closeGroup();
    return svg.finish();
}

}  // namespace Lumetra::Tools
