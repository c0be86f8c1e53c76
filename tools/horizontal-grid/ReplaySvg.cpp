#include "tools/horizontal-grid/ReplaySvg.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <fmt/core.h>

#include "tools/horizontal-grid/SvgWriter.h"

namespace Lumetra::Tools {
namespace {

using Vesk::Environment::HorizontalGrid::PoseMethodTrackFellBack;
using Vesk::Environment::HorizontalGrid::PoseMethodTrackerIdentified;

const char* colourOf(FrameOutcomeKind kind) {
    switch (kind) {
        case FrameOutcomeKind::right: return "#1b9e77";
        case FrameOutcomeKind::wrong: return "#d62728";
        case FrameOutcomeKind::afresh: return "#e6a117";
        case FrameOutcomeKind::lost: return "#9a9a9a";
    }
    return "#000000";
}

std::string n(double value) { return SvgWriter::number(value); }

}  // namespace

FrameOutcomeKind outcomeOf(const ReplayedFrame& frame) {
    if (!frame.found) return FrameOutcomeKind::lost;
    if (frame.wrong.value_or(0) > 0) return FrameOutcomeKind::wrong;
    if (frame.poseMethod == PoseMethodTrackFellBack || frame.poseMethod == PoseMethodTrackerIdentified)
        return FrameOutcomeKind::afresh;
    return FrameOutcomeKind::right;
}

std::string timelineSvg(const Replay& replay, const std::string& title) {
    constexpr double width = 900, height = 320, left = 60, right = 20, top = 40, plotHeight = 200, stripTop = 260,
                     stripHeight = 24;
    const auto& frames = replay.frames;
    const double t0 = frames.empty() ? 0 : frames.front().time, t1 = frames.empty() ? 1 : frames.back().time;
    const double span = std::max(t1 - t0, 1e-9);
    double largest = 0;
    for (const ReplayedFrame& frame : frames) largest = std::max(largest, frame.positionError.value_or(0) * 1000);
    const double scale = largest > 0 ? std::pow(10.0, std::ceil(std::log10(largest))) : 1.0;  // mm, a power of ten
    const double ceilingMm = largest > 0 && largest <= scale / 2 ? scale / 2 : scale;
    const auto x = [&](double t) { return left + (t - t0) / span * (width - left - right); };
    const auto y = [&](double mm) { return top + plotHeight * (1 - std::min(mm, ceilingMm) / ceilingMm); };

    SvgWriter svg(width, height, 0, 0, width, height);
    svg.element("rect", {{"width", n(width)}, {"height", n(height)}, {"fill", "white"}});
    svg.text(left, 22, title, {{"font-size", "15"}, {"font-family", "sans-serif"}});
    svg.openGroup({{"font-size", "11"}, {"font-family", "sans-serif"}, {"fill", "#333"}});
    for (int tick = 0; tick <= 4; ++tick) {
        const double mm = ceilingMm * tick / 4;
        svg.element("line", {{"x1", n(left)}, {"x2", n(width - right)}, {"y1", n(y(mm))}, {"y2", n(y(mm))},
                             {"stroke", "#ddd"}});
        svg.text(left - 6, y(mm) + 4, fmt::format("{:g}", mm), {{"text-anchor", "end"}});
    }
    svg.text(14, top + plotHeight / 2, "position error, mm",
             {{"transform", fmt::format("rotate(-90 14 {})", n(top + plotHeight / 2))}, {"text-anchor", "middle"}});
    for (int tick = 0; tick <= 10; ++tick) {
        const double t = t0 + span * tick / 10;
        svg.text(x(t), stripTop + stripHeight + 16, fmt::format("{:.3g}", t - t0), {{"text-anchor", "middle"}});
    }
    svg.text(width - right, height - 4, "seconds", {{"text-anchor", "end"}});
    svg.closeGroup();

    std::string points;
    for (const ReplayedFrame& frame : frames)
        if (frame.positionError) points += fmt::format("{},{} ", n(x(frame.time)), n(y(*frame.positionError * 1000)));
    svg.element("polyline", {{"points", points}, {"fill", "none"}, {"stroke", "#1f5fa8"}, {"stroke-width", "1.2"}});

    const double barWidth = std::max(1.0, (width - left - right) / static_cast<double>(std::max<std::size_t>(frames.size(), 1)));
    for (const ReplayedFrame& frame : frames)
        svg.element("rect", {{"x", n(x(frame.time) - barWidth / 2)}, {"y", n(stripTop)}, {"width", n(barWidth)},
                             {"height", n(stripHeight)}, {"fill", colourOf(outcomeOf(frame))}},
                    fmt::format("frame {} at {:.3f} s: {} of {} rays numbered", frame.index, frame.time, frame.numbered,
                                frame.rays.size()));
    double legendX = left;
    for (const auto& [kind, label] : {std::pair{FrameOutcomeKind::right, "pose, numbers right"},
                                      std::pair{FrameOutcomeKind::afresh, "identified afresh"},
                                      std::pair{FrameOutcomeKind::wrong, "wrong numbers"},
                                      std::pair{FrameOutcomeKind::lost, "no pose"}}) {
        svg.element("rect", {{"x", n(legendX + 300)}, {"y", "12"}, {"width", "10"}, {"height", "10"}, {"fill", colourOf(kind)}});
        svg.text(legendX + 314, 21, label, {{"font-size", "11"}, {"font-family", "sans-serif"}});
        legendX += 135;
    }
    return svg.finish();
}

std::string frameSvg(const Replay& replay, std::size_t index, const std::string& title) {
    if (index >= replay.frames.size())
        throw std::out_of_range(fmt::format("--frame {}: the recording has {} frames", index, replay.frames.size()));
    const ReplayedFrame& frame = replay.frames[index];
    // The found pose, else the true one when known.
    const bool truePose = !frame.found && frame.truth && frame.truth->pose;
    const bool hasPose = frame.found || truePose;
    const Host::Pose pose = truePose ? *frame.truth->pose : frame.pose;
    const float plane = replay.markers.empty() ? 0.0f : replay.markers.front().y;

    // Each ray cast from the pose onto the marker plane (x, z), where it meets it.
    std::vector<std::optional<Host::Vector3>> hits(frame.rays.size());
    double minX = 1e30, maxX = -1e30, minZ = 1e30, maxZ = -1e30;
    const auto include = [&](const Host::Vector3& p) {
        minX = std::min(minX, double(p.x)), maxX = std::max(maxX, double(p.x));
        minZ = std::min(minZ, double(p.z)), maxZ = std::max(maxZ, double(p.z));
    };
    // The picture spans what the frame shows: the tracker and its rays' hits (all markers without a pose).
    if (hasPose) {
        include(pose.position);
        for (std::size_t i = 0; i < frame.rays.size(); ++i) {
            const Host::Vector3 d = LumetraMath::mul(pose.rotation, frame.rays[i]);
            const float distance = (plane - pose.position.y) / d.y;
            if (std::isfinite(distance) && distance > 0) include(*(hits[i] = pose.position + d * distance));
        }
    } else {
        for (const Host::Vector3& marker : replay.markers) include(marker);
    }
    if (minX > maxX) minX = maxX = minZ = maxZ = 0;
    const double margin = 0.08 * std::max(maxX - minX, maxZ - minZ) + 0.3;
    minX -= margin, maxX += margin, minZ -= margin, maxZ += margin;
    const double scale = 860 / std::max(maxX - minX, maxZ - minZ);
    const double width = (maxX - minX) * scale + 40, height = (maxZ - minZ) * scale + 90;
    const auto px = [&](double worldX) { return 20 + (worldX - minX) * scale; };
    const auto py = [&](double worldZ) { return 70 + (worldZ - minZ) * scale; };
    const double r = std::clamp(scale * 0.012, 4.0, 7.0);

    SvgWriter svg(width, height, 0, 0, width, height);
    svg.element("rect", {{"width", n(width)}, {"height", n(height)}, {"fill", "white"}});
    svg.text(20, 22, title, {{"font-size", "15"}, {"font-family", "sans-serif"}});
    const std::size_t wrong = frame.wrong.value_or(0);
    svg.text(20, 44,
             fmt::format("{:.3f} s, camera {}: {} rays, {} numbered{}; {}", frame.time, frame.camera, frame.rays.size(),
                         frame.numbered, frame.wrong ? fmt::format(", {} wrong", wrong) : "",
                         frame.found ? "rays cast from the found pose" : hasPose ? "no pose: rays cast from the true pose"
                                                                              : "no pose"),
             {{"font-size", "12"}, {"font-family", "sans-serif"}, {"fill", "#333"}});
    svg.openGroup({{"font-size", "10"}, {"font-family", "sans-serif"}, {"fill", "#888"}});
    for (std::size_t m = 0; m < replay.markers.size(); ++m) {
        if (replay.markers[m].x < minX || replay.markers[m].x > maxX || replay.markers[m].z < minZ ||
            replay.markers[m].z > maxZ)
            continue;
        svg.element("circle", {{"cx", n(px(replay.markers[m].x))}, {"cy", n(py(replay.markers[m].z))}, {"r", n(r * 0.6)}});
        svg.text(px(replay.markers[m].x) + r, py(replay.markers[m].z) - r, std::to_string(m));
    }
    svg.closeGroup();
    if (hasPose) {
        svg.element("circle", {{"cx", n(px(pose.position.x))}, {"cy", n(py(pose.position.z))}, {"r", n(r * 1.4)},
                               {"fill", "none"}, {"stroke", "#1f5fa8"}, {"stroke-width", "2"}},
                    "the tracker");
    }
    for (std::size_t i = 0; i < hits.size(); ++i) {
        if (!hits[i]) continue;
        const double hx = px(hits[i]->x), hy = py(hits[i]->z);
        const Host::MarkerIndex marker = frame.markerIndices[i];
        const bool numbered = marker < replay.markers.size();
        const bool isWrong = numbered && frame.truth && i < frame.truth->markerIndices.size() &&
                             frame.truth->markerIndices[i] != marker;
        if (!numbered) {  // a miss: a cross
            svg.element("path", {{"d", fmt::format("M{} {}l{} {}m0 {}l{} {}", n(hx - r), n(hy - r), n(2 * r), n(2 * r),
                                                   n(-2 * r), n(-2 * r), n(2 * r))},
                                 {"stroke", "#e6a117"}, {"stroke-width", "2"}},
                        fmt::format("ray {}: no marker", i));
            continue;
        }
        const char* colour = isWrong ? "#d62728" : "#1b9e77";
        const Host::Vector3& m = replay.markers[marker];
        svg.element("line", {{"x1", n(hx)}, {"y1", n(hy)}, {"x2", n(px(m.x))}, {"y2", n(py(m.z))}, {"stroke", colour}});
        svg.element("circle", {{"cx", n(hx)}, {"cy", n(hy)}, {"r", n(r)}, {"fill", "none"}, {"stroke", colour},
                               {"stroke-width", "1.5"}},
                    fmt::format("ray {}: marker {}{}", i, marker,
                                isWrong ? fmt::format(" (shows {})", frame.truth->markerIndices[i]) : ""));
        svg.text(hx + r, hy + 2.6 * r, std::to_string(marker),
                 {{"font-size", "13"}, {"font-family", "sans-serif"}, {"fill", colour}, {"font-weight", "bold"}});
    }
    return svg.finish();
}

}  // namespace Lumetra::Tools
