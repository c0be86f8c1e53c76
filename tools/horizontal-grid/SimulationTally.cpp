#include "tools/horizontal-grid/SimulationTally.h"

#include <fmt/core.h>

#include "tools/horizontal-grid/Statistics.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {

namespace {

double percent(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

Json summaryJson(const Summary& s) {
    return Json{{"mean", s.mean}, {"p50", s.p50}, {"p90", s.p90}, {"p99", s.p99}, {"max", s.max}};
}

void printSummary(const char* title, const Summary& s) {
    if (s.count == 0) {
        fmt::print("{:<26} none\n", title);
        return;
    }
    fmt::print("{:<26} p50 {:.3g}  p90 {:.3g}  p99 {:.3g}  max {:.3g}  (mean {:.3g})\n", title, s.p50, s.p90, s.p99,
               s.max, s.mean);
}

}  // namespace

void SimulationTally::add(const FrameOutcome& outcome, double tolerance) {
    ++frames;
    microseconds.push_back(outcome.seconds * 1e6);
    fellBack += outcome.fellBack;
    if (!outcome.matched) {
        ++failed;
        if (outcome.completeBars == 0) ++failedWithoutBar;
        return;
    }
    wrongRays += outcome.wrongRays;
    numberedRays += outcome.numberedRays;
    positionErrors.push_back(outcome.positionError);
    rotationErrorsDegrees.push_back(outcome.rotationError / radiansPerDegree);
    if (outcome.wrong())
        ++wrong;
    else if (outcome.correct(tolerance))
        ++correct;
    else
        ++inaccurate;
}

double SimulationTally::successRate() const { return percent(correct, frames) / 100.0; }

void printTally(const SimulationTally& t, double tolerance) {
    fmt::print("matched correctly     {:>7}  {:5.1f}%\n", t.correct, percent(t.correct, t.frames));
    fmt::print("wrong markers         {:>7}  {:5.1f}%  ({} of {} numbered rays wrong)\n", t.wrong,
               percent(t.wrong, t.frames), t.wrongRays, t.numberedRays);
    fmt::print("pose off by > {:<7.3g} {:>7}  {:5.1f}%\n", tolerance, t.inaccurate, percent(t.inaccurate, t.frames));
    fmt::print("not matched           {:>7}  {:5.1f}%  ({} of them showed no complete bar)\n", t.failed,
               percent(t.failed, t.frames), t.failedWithoutBar);
    if (t.fellBack > 0)
        fmt::print("track identified afresh {:>6}  {:5.1f}%  (the prediction did not hold)\n", t.fellBack,
                   percent(t.fellBack, t.frames));
    fmt::print("\n");
    printSummary("position error (matched)", summarize(t.positionErrors));
    printSummary("rotation error, degrees", summarize(t.rotationErrorsDegrees));
    printSummary("time per frame, us", summarize(t.microseconds));
}

Json tallyJson(const SimulationTally& t) {
    return Json{{"frames", t.frames},
                {"correct", t.correct},
                {"wrong", t.wrong},
                {"inaccurate", t.inaccurate},
                {"failed", t.failed},
                {"failedWithoutCompleteBar", t.failedWithoutBar},
                {"fellBack", t.fellBack},
                {"wrongRays", t.wrongRays},
                {"numberedRays", t.numberedRays},
                {"successRate", t.successRate()},
                {"positionError", summaryJson(summarize(t.positionErrors))},
                {"rotationErrorDegrees", summaryJson(summarize(t.rotationErrorsDegrees))},
                {"microsecondsPerFrame", summaryJson(summarize(t.microseconds))}};
}

}  // namespace Lumetra::Tools
