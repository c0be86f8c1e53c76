#include "tools/horizontal-grid/EnvelopeReport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include <fmt/core.h>

#include "simulation/TrackingScenarios.h"

namespace Lumetra::Tools {
namespace {

using Testing::EnvelopeResult;
using Testing::MethodTally;
using Testing::NeesBuckets;
using Testing::NeesTally;

std::string percent(std::size_t part, std::size_t whole) {
    return whole ? fmt::format("{:.1f} %", 100.0 * static_cast<double>(part) / static_cast<double>(whole)) : "–";
}

/// p50 / p95 of a list of metres in millimetres.
std::string millimetres(const std::vector<double>& values) {
    if (values.empty()) return "–";
    return fmt::format("{:.2f} / {:.2f}", 1e3 * Testing::quantile(values, 0.5), 1e3 * Testing::quantile(values, 0.95));
}

/// p50 / p99 of a list of seconds in microseconds.
std::string microseconds(const std::vector<double>& values) {
    if (values.empty()) return "–";
    return fmt::format("{:.0f} / {:.0f}", 1e6 * Testing::quantile(values, 0.5), 1e6 * Testing::quantile(values, 0.99));
}

NeesTally total(const NeesBuckets& buckets, std::size_t fromBucket = 0) {
    NeesTally sum;
    for (std::size_t b = fromBucket; b < buckets.size(); ++b) {
        sum.count += buckets[b].count;
        sum.sum += buckets[b].sum;
        sum.aboveChiSquared95 += buckets[b].aboveChiSquared95;
    }
    return sum;
}

/// "mean (share above the chi-squared 95 % point)".
std::string nees(const NeesTally& tally) {
    if (tally.count == 0) return "–";
    return fmt::format("{:.3g} ({:.0f} %)", tally.sum / static_cast<double>(tally.count),
                       100.0 * static_cast<double>(tally.aboveChiSquared95) / static_cast<double>(tally.count));
}

std::string cellKey(const Testing::EnvelopeCell& cell) {
    return fmt::format("| {} | {} | {:g}° | {} | {:g}° | {:.1f}–{:.1f} m ", Testing::rayProfileNames[static_cast<int>(cell.profile)],
                       Testing::densityName(cell.dense), cell.maxTiltDegrees, Testing::geometryName(cell.geometry),
                       cell.fieldOfViewDegrees, cell.minDistance, cell.maxDistance);
}
constexpr const char* keyHeader = "| rays | layout | tilt ≤ | geometry | view | distance ";
constexpr const char* keyRule = "|---|---|---|---|---|---";

std::string triple(std::size_t match, std::size_t identify, std::size_t track) {
    return fmt::format("{} / {} / {}", match, identify, track);
}

/// Worst figures over the cells of one profile, tilt and geometry.
struct Summary {
    std::size_t cells = 0, frames = 0;
    double worstIdentify = 101, worstTrack = 101;
    std::string worstIdentifyAt, worstTrackAt;
    std::size_t wrong[3] = {}, strayFar[3] = {};
    double lowestNees = 1e300, highestNees = 0, worstTail = 0;
};

std::string summaryTable(const std::vector<EnvelopeResult>& results) {
    std::map<std::tuple<int, double, std::size_t>, Summary> summaries;
    for (const EnvelopeResult& r : results) {
        Summary& s = summaries[{static_cast<int>(r.cell.profile), r.cell.maxTiltDegrees, r.cell.geometry}];
        ++s.cells;
        s.frames += r.frames;
        const std::string at = fmt::format("{:g}°, {:.1f}–{:.1f} m, {}", r.cell.fieldOfViewDegrees, r.cell.minDistance,
                                           r.cell.maxDistance, Testing::densityName(r.cell.dense));
        if (r.identifiable > 0) {
            const double share = 100.0 * static_cast<double>(r.identify.foundIdentifiable) / static_cast<double>(r.identifiable);
            if (share < s.worstIdentify) s.worstIdentify = share, s.worstIdentifyAt = at;
        }
        // A walk whose frames often show no catalogued feature says nothing about tracking.
        if (r.walkFrames > 0 && 20 * r.walkIdentifiable >= 19 * r.walkFrames) {
            const double share = 100.0 * static_cast<double>(r.track.found) / static_cast<double>(r.walkFrames);
            if (share < s.worstTrack) s.worstTrack = share, s.worstTrackAt = at;
        }
        const MethodTally* methods[3] = {&r.match, &r.identify, &r.track};
        for (int m = 0; m < 3; ++m) s.wrong[m] += methods[m]->wrongRays, s.strayFar[m] += methods[m]->strayFar;
        for (const MethodTally* m : {&r.identify, &r.track})
            for (std::size_t b = 1; b < m->nees.size(); ++b) {
                const NeesTally& t = m->nees[b];
                if (t.count < 20) continue;
                const double mean = t.sum / static_cast<double>(t.count);
                s.lowestNees = std::min(s.lowestNees, mean);
                s.highestNees = std::max(s.highestNees, mean);
                s.worstTail = std::max(s.worstTail, static_cast<double>(t.aboveChiSquared95) / static_cast<double>(t.count));
            }
    }
    std::string out =
        "| rays | tilt ≤ | geometry | cells | frames | identify, lowest share of identifiable (where) | track along the walk, "
        "lowest where ≥ 95 % of it is identifiable (where) | wrong numbers m / i / t | strays numbered far m / i / t | NEES mean, range (6+ rays) | NEES tail, worst |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const auto& [key, s] : summaries) {
        const auto& [profile, tilt, geometry] = key;
        out += fmt::format(
            "| {} | {:g}° | {} | {} | {} | {} | {} | {} | {} | {} | {} |\n", Testing::rayProfileNames[profile], tilt,
            Testing::geometryName(geometry), s.cells, s.frames,
            s.worstIdentify > 100 ? "–" : fmt::format("{:.1f} % ({})", s.worstIdentify, s.worstIdentifyAt),
            s.worstTrack > 100 ? "–" : fmt::format("{:.1f} % ({})", s.worstTrack, s.worstTrackAt),
            triple(s.wrong[0], s.wrong[1], s.wrong[2]), triple(s.strayFar[0], s.strayFar[1], s.strayFar[2]),
            s.highestNees == 0 ? "–" : fmt::format("{:.3g}–{:.3g}", s.lowestNees, s.highestNees),
            s.highestNees == 0 ? "–" : fmt::format("{:.0f} %", 100 * s.worstTail));
    }
    return out;
}

std::string successTable(const std::vector<EnvelopeResult>& results) {
    std::string out = fmt::format("{}| rays a frame | ≥ 4 bars | frames | identifiable | match | identify | identify of "
                                  "identifiable | track along the walk | walk identifiable | wrong m / i / t | strays "
                                  "numbered far m / i / t |\n{}|---|---|---|---|---|---|---|---|---|---|---|\n",
                                  keyHeader, keyRule);
    for (const EnvelopeResult& r : results)
        out += fmt::format("{}| {:.0f} | {} | {} | {} | {} | {} | {} | {} | {} | {} | {} |\n", cellKey(r.cell),
                           r.frames ? static_cast<double>(r.rays) / static_cast<double>(r.frames) : 0.0,
                           percent(r.frames, r.poses), r.frames, percent(r.identifiable, r.frames),
                           percent(r.match.found, r.frames), percent(r.identify.found, r.frames),
                           percent(r.identify.foundIdentifiable, r.identifiable), percent(r.track.found, r.walkFrames),
                           percent(r.walkIdentifiable, r.walkFrames),
                           triple(r.match.wrongRays, r.identify.wrongRays, r.track.wrongRays),
                           triple(r.match.strayFar, r.identify.strayFar, r.track.strayFar));
    return out;
}

std::string poseTable(const std::vector<EnvelopeResult>& results) {
    std::string out = keyHeader;
    out += "| match mm | oracle mm | identify mm | oracle mm | track mm | oracle mm |";
    for (std::size_t b = 0; b < Testing::neesBucketStarts.size(); ++b)
        out += b + 1 < Testing::neesBucketStarts.size()
                   ? fmt::format(" identify NEES {}–{} rays |", Testing::neesBucketStarts[b], Testing::neesBucketStarts[b + 1] - 1)
                   : fmt::format(" identify NEES {}+ rays |", Testing::neesBucketStarts[b]);
    out += " track NEES 6+ rays | oracle NEES |\n";
    out += keyRule;
    out += "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const EnvelopeResult& r : results) {
        out += cellKey(r.cell);
        for (const MethodTally* m : {&r.match, &r.identify, &r.track})
            out += fmt::format("| {} | {} ", millimetres(m->errors), millimetres(m->oracleErrors));
        for (const NeesTally& t : r.identify.nees) out += fmt::format("| {} ", nees(t));
        out += fmt::format("| {} | {} |\n", nees(total(r.track.nees, 1)), nees(total(r.oracleNees)));
    }
    return out;
}

std::string timeTable(const std::vector<EnvelopeResult>& results) {
    std::string out = fmt::format("{}| match µs | identify µs | track µs |\n{}|---|---|---|\n", keyHeader, keyRule);
    for (const EnvelopeResult& r : results)
        out += fmt::format("{}| {} | {} | {} |\n", cellKey(r.cell), microseconds(r.match.seconds),
                           microseconds(r.identify.seconds), microseconds(r.track.seconds));
    return out;
}

nlohmann::json neesJson(const NeesBuckets& buckets) {
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t b = 0; b < buckets.size(); ++b)
        out.push_back({{"fromRays", Testing::neesBucketStarts[b]},
                       {"count", buckets[b].count},
                       {"mean", buckets[b].count ? buckets[b].sum / static_cast<double>(buckets[b].count) : 0.0},
                       {"aboveChiSquared95", buckets[b].aboveChiSquared95}});
    return out;
}

nlohmann::json methodJson(const MethodTally& m) {
    using Testing::quantile;
    return {{"tried", m.tried},
            {"found", m.found},
            {"foundIdentifiable", m.foundIdentifiable},
            {"wrongRays", m.wrongRays},
            {"wrongFrames", m.wrongFrames},
            {"strayNumbered", m.strayNumbered},
            {"strayFar", m.strayFar},
            {"errorP50", quantile(m.errors, 0.5)},
            {"errorP95", quantile(m.errors, 0.95)},
            {"oracleP50", quantile(m.oracleErrors, 0.5)},
            {"oracleP95", quantile(m.oracleErrors, 0.95)},
            {"secondsP50", quantile(m.seconds, 0.5)},
            {"secondsP99", quantile(m.seconds, 0.99)},
            {"nees", neesJson(m.nees)}};
}

std::string settingsLine(const Testing::EnvelopeSettings& settings) {
    return fmt::format("Up to {} frames a cell{} with at least {} complete bars, from random poses over {} × {} layouts "
                       "of 0.6 m cells (seed {}); the walk: {:g} s at {:g} Hz",
                       settings.frames,
                       settings.cellSeconds > 0 ? fmt::format(" (or {:g} s of processor time)", settings.cellSeconds) : "",
                       settings.minBars, settings.gridSize, settings.gridSize, settings.seed, settings.walkSeconds,
                       settings.walkRate);
}

}  // namespace

std::string envelopeMarkdown(const std::vector<EnvelopeResult>& results, const Testing::EnvelopeSettings& settings) {
    return fmt::format(
        "{}.\n\n{}\n<details><summary>Success per cell</summary>\n\n{}\n</details>\n\n<details><summary>Pose error per "
        "cell (mm, p50 / p95 against the truth, the oracle's on the same frames) and NEES (mean, share above the χ² 95 % "
        "point)</summary>\n\n{}\n</details>\n\n<details><summary>Times per cell (µs of processor time, p50 / p99)</summary>"
        "\n\n{}\n</details>\n",
        settingsLine(settings), summaryTable(results), successTable(results), poseTable(results), timeTable(results));
}

nlohmann::json envelopeJson(const std::vector<EnvelopeResult>& results, const Testing::EnvelopeSettings& settings) {
    nlohmann::json cells = nlohmann::json::array();
    for (const EnvelopeResult& r : results)
        cells.push_back({{"rayProfile", Testing::rayProfileNames[static_cast<int>(r.cell.profile)]},
                         {"layout", Testing::densityName(r.cell.dense)},
                         {"maxTiltDegrees", r.cell.maxTiltDegrees},
                         {"geometry", Testing::geometryName(r.cell.geometry)},
                         {"fieldOfViewDegrees", r.cell.fieldOfViewDegrees},
                         {"minDistance", r.cell.minDistance},
                         {"maxDistance", r.cell.maxDistance},
                         {"poses", r.poses},
                         {"frames", r.frames},
                         {"identifiable", r.identifiable},
                         {"rays", r.rays},
                         {"match", methodJson(r.match)},
                         {"identify", methodJson(r.identify)},
                         {"track", methodJson(r.track)},
                         {"walkFrames", r.walkFrames},
                         {"walkIdentifiable", r.walkIdentifiable},
                         {"fellBack", r.fellBack},
                         {"oracleNees", neesJson(r.oracleNees)}});
    return {{"settings", settingsLine(settings)}, {"cells", cells}};
}

void replaceInReadme(const std::string& path, const std::string& text) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string begin = "<!-- envelope begin -->\n", end = "<!-- envelope end -->";
    const auto from = content.find(begin);
    const auto to = content.find(end);
    if (from == std::string::npos || to == std::string::npos || to < from)
        throw std::runtime_error(path + " has no envelope section (<!-- envelope begin --> ... <!-- envelope end -->)");
    std::ofstream out(path);
    out << content.substr(0, from + begin.size()) << text << content.substr(to);
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace Lumetra::Tools
