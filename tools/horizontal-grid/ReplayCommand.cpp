// replay: a recording (what a tracker saw) through the library, frame by frame, with one of its
// ways to a pose: per-frame results as CSV or JSON, a summary, and pictures of the whole run or
// of one frame.

#include <cmath>
#include <memory>
#include <optional>

#include <fmt/core.h>

#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/DescriptionJson.h"
#include "tools/horizontal-grid/Replay.h"
#include "tools/horizontal-grid/ReplaySvg.h"
#include "tools/horizontal-grid/Statistics.h"

namespace Lumetra::Tools {
namespace {

struct ReplayOptions {
    std::string file;
    std::string method = "track";
    std::string library = defaultLibraryPath();
    bool json = false;
    bool summaryOnly = false;
    std::string svg;
    std::optional<std::size_t> frame;
};

ReplayMethod methodNamed(const std::string& name) {
    return name == "match" ? ReplayMethod::match : name == "identify" ? ReplayMethod::identify
                         : name == "tracker"                       ? ReplayMethod::tracker
                                                                   : ReplayMethod::track;
}

std::string optionalNumber(const std::optional<double>& value, const char* format) {
    return value ? fmt::format(fmt::runtime(format), *value) : "";
}

void printCsv(const Replay& replay) {
    fmt::print("frame,time,camera,rays,found,method,numbered,wrong,position_error,rotation_error_deg,"
               "x,y,z,qx,qy,qz,qw,microseconds\n");
    for (const ReplayedFrame& f : replay.frames) {
        const auto& p = f.pose;
        fmt::print("{},{:.6f},{},{},{},{},{},{},{},{},", f.index, f.time, f.camera, f.rays.size(), int(f.found),
                   f.poseMethod, f.numbered, f.wrong ? std::to_string(*f.wrong) : "",
                   optionalNumber(f.positionError, "{:.6f}"), optionalNumber(f.rotationErrorDegrees, "{:.5f}"));
        if (f.found)
            fmt::print("{:.6f},{:.6f},{:.6f},{:.7f},{:.7f},{:.7f},{:.7f},", p.position.x, p.position.y, p.position.z,
                       p.rotation.x, p.rotation.y, p.rotation.z, p.rotation.w);
        else
            fmt::print(",,,,,,,");
        fmt::print("{:.1f}\n", f.seconds * 1e6);
    }
}

Json frameJson(const ReplayedFrame& f) {
    Json frame{{"frame", f.index}, {"time", f.time}, {"camera", f.camera}, {"rays", f.rays.size()},
               {"found", f.found}, {"method", f.poseMethod}, {"numbered", f.numbered}, {"markers", f.markerIndices},
               {"microseconds", f.seconds * 1e6}};
    if (f.found) {
        const auto& p = f.pose;
        frame["position"] = {p.position.x, p.position.y, p.position.z};
        frame["rotation"] = {p.rotation.x, p.rotation.y, p.rotation.z, p.rotation.w};
    }
    if (f.wrong) frame["wrong"] = *f.wrong;
    if (f.positionError) frame["positionError"] = *f.positionError;
    if (f.rotationErrorDegrees) frame["rotationErrorDegrees"] = *f.rotationErrorDegrees;
    return frame;
}

struct ReplaySummary {
    std::size_t frames = 0, found = 0, judged = 0, wrongFrames = 0, wrongRays = 0, afresh = 0;
    Summary positionMm, rotationDegrees;
    std::vector<std::pair<double, double>> medianMmPerSecond;  ///< (second from the start, median error mm)
    double seconds = 0;                                         ///< recorded time span
};

ReplaySummary summarise(const Replay& replay) {
    ReplaySummary s;
    std::vector<double> positionMm, rotation;
    std::vector<std::vector<double>> perSecond;
    const double t0 = replay.frames.empty() ? 0 : replay.frames.front().time;
    for (const ReplayedFrame& f : replay.frames) {
        ++s.frames;
        s.found += f.found;
        s.afresh += outcomeOf(f) == FrameOutcomeKind::afresh;
        if (f.wrong) ++s.judged, s.wrongFrames += *f.wrong > 0, s.wrongRays += *f.wrong;
        if (f.positionError) {
            positionMm.push_back(*f.positionError * 1000);
            rotation.push_back(*f.rotationErrorDegrees);
            const auto second = static_cast<std::size_t>(std::max(0.0, f.time - t0));
            if (second >= perSecond.size()) perSecond.resize(second + 1);
            perSecond[second].push_back(*f.positionError * 1000);
        }
        s.seconds = f.time - t0;
    }
    s.positionMm = summarize(positionMm);
    s.rotationDegrees = summarize(rotation);
    for (std::size_t second = 0; second < perSecond.size(); ++second)
        if (!perSecond[second].empty()) s.medianMmPerSecond.emplace_back(second, summarize(perSecond[second]).p50);
    return s;
}

double percent(std::size_t part, std::size_t whole) { return whole ? 100.0 * double(part) / double(whole) : 0.0; }

void printSummary(const Replay& replay, const ReplaySummary& s, const ReplayOptions& options) {
    fmt::print("# replay of {} by {}: {} frames over {:.2f} s\n", options.file, options.method, s.frames, s.seconds);
    fmt::print("# pose found in {} frames ({:.1f} %){}\n", s.found, percent(s.found, s.frames),
               s.afresh ? fmt::format(", {} of them identified afresh", s.afresh) : "");
    if (s.judged)
        fmt::print("# wrong numbers in {} of {} frames with true markers ({} rays)\n", s.wrongFrames, s.judged, s.wrongRays);
    else
        fmt::print("# wrong numbers: no true markers recorded\n");
    if (s.positionMm.count) {
        fmt::print("# position error, mm: median {:.3g}, p90 {:.3g}, p99 {:.3g}, max {:.3g}\n", s.positionMm.p50,
                   s.positionMm.p90, s.positionMm.p99, s.positionMm.max);
        fmt::print("# rotation error, deg: median {:.3g}, p90 {:.3g}, p99 {:.3g}, max {:.3g}\n", s.rotationDegrees.p50,
                   s.rotationDegrees.p90, s.rotationDegrees.p99, s.rotationDegrees.max);
        std::string overTime;
        for (const auto& [second, median] : s.medianMmPerSecond) overTime += fmt::format(" {:g}s:{:.3g}", second, median);
        fmt::print("# median position error per second, mm:{}\n", overTime);
    }
    fmt::print("# time: library {:.1f} ms ({:.1f} us per frame), reading and parsing {:.1f} ms, replay {:.1f} ms in "
               "all ({:.2f} x the library's)\n",
               replay.librarySeconds * 1e3, s.frames ? replay.librarySeconds * 1e6 / double(s.frames) : 0.0,
               replay.readingSeconds * 1e3, replay.totalSeconds * 1e3,
               replay.librarySeconds > 0 ? replay.totalSeconds / replay.librarySeconds : 0.0);
}

Json summaryJson(const Replay& replay, const ReplaySummary& s) {
    Json overTime = Json::array();
    for (const auto& [second, median] : s.medianMmPerSecond) overTime.push_back({{"second", second}, {"medianMm", median}});
    return Json{{"frames", s.frames}, {"found", s.found}, {"identifiedAfresh", s.afresh},
                {"framesWithTrueMarkers", s.judged}, {"framesWithWrongNumbers", s.wrongFrames},
                {"wrongRays", s.wrongRays}, {"positionErrorMm", {{"p50", s.positionMm.p50}, {"p90", s.positionMm.p90},
                                                                 {"p99", s.positionMm.p99}, {"max", s.positionMm.max}}},
                {"rotationErrorDegrees", {{"p50", s.rotationDegrees.p50}, {"p90", s.rotationDegrees.p90},
                                          {"p99", s.rotationDegrees.p99}, {"max", s.rotationDegrees.max}}},
                {"medianPositionErrorPerSecond", overTime}, {"librarySeconds", replay.librarySeconds},
                {"readingSeconds", replay.readingSeconds},
                {"totalSeconds", replay.totalSeconds}};
}

int runReplay(const ReplayOptions& options) {
    if (options.frame && options.svg.empty()) throw UsageError("--frame N draws frame N: give --svg FILE too");
    const Replay result = replay(options.file, methodNamed(options.method), options.library);
    const ReplaySummary summary = summarise(result);
    if (!options.svg.empty()) {
        const std::string title = options.frame ? fmt::format("{}, frame {} ({})", options.file, *options.frame, options.method)
                                                : fmt::format("{} ({})", options.file, options.method);
        writeOutput(options.svg, options.frame ? frameSvg(result, *options.frame, title) : timelineSvg(result, title));
    }
    if (options.json) {
        Json frames = Json::array();
        if (!options.summaryOnly)
            for (const ReplayedFrame& f : result.frames) frames.push_back(frameJson(f));
        fmt::print("{}\n", Json{{"frames", frames}, {"summary", summaryJson(result, summary)}}.dump(1));
        return 0;
    }
    if (!options.summaryOnly) printCsv(result);
    printSummary(result, summary, options);
    return 0;
}

}  // namespace

void addReplayCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<ReplayOptions>();
    CLI::App* command = tool.add_subcommand(
        "replay", "Run a recording (what a tracker saw, JSON Lines) through the library: per-frame results, a "
                  "summary, pictures");
    command->add_option("file", options->file, "The recording (see the README's Recordings; - for standard input)")
        ->required();
    command->add_option("--method", options->method,
                        "match, identify, track (each frame predicted from the poses found before) or tracker (the "
                        "inertial tracker, fed the recording's inertial samples)")
        ->check(CLI::IsMember({"match", "identify", "track", "tracker"}))
        ->capture_default_str();
    command->add_option("--library", options->library, "The shared library to replay with")->capture_default_str();
    command->add_flag("--json", options->json, "Write JSON (frames and summary) instead of CSV");
    command->add_flag("--summary", options->summaryOnly, "Leave out the per-frame results");
    command->add_option("--svg", options->svg, "Draw the timeline (error and outcome over time) into this file");
    command->add_option("--frame", options->frame, "With --svg: draw this frame (from 0) instead of the timeline")
        ->check(notNegative());
    selectOnParse(*command, selected, options, runReplay);
}

}  // namespace Lumetra::Tools
