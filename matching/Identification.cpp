// Identification without a prior: the groups of bar patterns that match would try are each turned
// into a hypothesis (levelled, laid onto cells, found in the catalogue, placed on the field), the
// hypothesis is fitted by least squares and renumbered from its own pose, and the one that the
// most rays support wins. A stray ray inside a bar's ellipse hides that bar from the pattern
// search, so a frame that yields no hypothesis is searched again with strays admitted.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "environment/Environment.h"
#include "matching/MatchSteps.h"
#include "matching/PoseSettling.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using namespace MatchSteps;

constexpr unsigned long openBarId = ~0ul;
constexpr float patternEllipseScale = 0.75f;
/// Bounds on the work of one frame: groups tried, and hypotheses fitted, per search.
constexpr std::size_t maxGroupsTried = 24;
constexpr std::size_t maxHypothesesFitted = 10;
/// A hypothesis that explains this share of the usable rays ends the search: a wrong one that has
/// passed its confirmation never comes near it.
constexpr double convincingShare = 0.85;

struct Hypothesis {
    SettledPose settled;
};

bool better(const SettledPose& a, const SettledPose& b) {
    if (a.numbered != b.numbered) return a.numbered > b.numbered;
    return a.fit.rmsAngle < b.fit.rmsAngle;
}

class IdentificationSearch {
public:
    IdentificationSearch(const Environment& environment, const std::vector<Vector3>& rays)
        : environment_(environment), rays_(rays), points_(projectRays(rays)) {
        usable_ = static_cast<std::size_t>(std::count_if(rays.begin(), rays.end(), isUsableRay));
        const unsigned long smallest = std::min<unsigned long>(environment.getMinCombinationSize(), 64);
        minimumSupport_ = static_cast<std::uint32_t>(std::max<unsigned long>(6, 3 * smallest));
    }

    std::optional<SettledPose> run() {
        const Environment& e = environment_;
        if (auto groups = findPatternGroups(points_, e.barProportion, e.getMarkerEllipse(), e.getMinCombinationSize()))
            search(*groups);
        if (!best_) {
            std::vector<Pattern> patterns = VeskEnvironment::findPatternsToleratingStrays(
                points_, e.barProportion, e.getMarkerEllipse(), patternEllipseScale);
            if (auto groups = groupPatterns(points_, std::move(patterns), e.getMinCombinationSize())) search(*groups);
        }
        return std::move(best_);
    }

private:
    void search(PatternGroups& candidates) {
        const std::vector<Vector3> rayLengths =
            environment_.findPatternRayLengths(rays_, candidates.groups, candidates.patterns);
        std::size_t fitted = 0;
        for (std::size_t g = 0; g < candidates.groups.size() && g < maxGroupsTried; ++g) {
            if (fitted >= maxHypothesesFitted || convinced()) return;
            Group group = candidates.groups[g];
            const HomographyResult levelled = Environment::findHomography(
                rays_, rayLengths, candidates.patterns, group, groupDirection(group, candidates.quadAngles));
            moveCentralPatternFirst(group, candidates.patterns, rays_, levelled.rotation);
            if (tryGroup(candidates.patterns, group, levelled)) ++fitted;
        }
    }

    bool convinced() const {
        return best_ && static_cast<double>(best_->numbered) >= convincingShare * static_cast<double>(usable_);
    }

    /// Whether the group came as far as a fitted hypothesis.
    bool tryGroup(const std::vector<Pattern>& patterns, const Group& group, const HomographyResult& levelled) {
        const std::optional<ObservedArrangement> observed = layOnCells(environment_, rays_, patterns, group, levelled);
        if (!observed) return false;
        const std::optional<std::vector<unsigned long>> catalogued = environment_.detectFeatures(observed->bars);
        if (!catalogued) return false;

        // Place the arrangement. A bar that lands on an empty cell (a pattern made by a stray ray,
        // or a cell rounded wrong) only loses its number; the catalogued bars carry the hypothesis.
        std::vector<unsigned long> ids = *catalogued;
        const JuxtapositionResult placement = environment_.juxtapose(observed->bars, ids);
        const auto central = turnCell(observed->bars[0]._position, placement.rotation);
        const Bar anchor{{static_cast<int>(placement.offset.x + central.x),
                          static_cast<int>(placement.offset.y + central.y)},
                         0};
        const LumetraMath::poseP3Q<float> start =
            trackerPose(environment_, levelled, observed->centralCenter, placement.rotation, anchor);
        if (!isFinitePose(start)) return false;

        std::vector<MarkerIndex> numbers(rays_.size(), MarkerNotFound);
        for (std::size_t i = 0; i < group.size(); ++i)
            if (ids[i] != openBarId)
                for (std::size_t k = 0; k < 3; ++k)
                    numbers[patterns[group[i]][k]] = static_cast<MarkerIndex>(3 * ids[i] + k);

        std::optional<SettledPose> settled = settlePose(environment_, rays_, std::move(numbers), start, minimumSupport_);
        if (!settled) return true;
        // Confirmation: the fitted pose must keep every catalogued bar's rays on their markers.
        for (std::size_t i = 0; i < group.size(); ++i)
            if ((*catalogued)[i] != openBarId)
                for (std::size_t k = 0; k < 3; ++k)
                    if (settled->numbers[patterns[group[i]][k]] != 3 * (*catalogued)[i] + k) return true;
        if (!best_ || better(*settled, *best_)) best_ = std::move(settled);
        return true;
    }

    const Environment& environment_;
    const std::vector<Vector3>& rays_;
    std::vector<Vector2> points_;
    std::size_t usable_ = 0;
    std::uint32_t minimumSupport_ = 6;
    std::optional<SettledPose> best_;
};

}  // namespace

PoseOutcome Environment::identify(const std::vector<Vector3>& rays) const {
    PoseOutcome outcome;
    outcome.method = PoseMethodIdentify;
    if (rays.size() > MaxMatchRays) return outcome;
    const std::vector<Vector3> unit = unitRays(rays);
    if (const std::optional<SettledPose> best = IdentificationSearch(*this, unit).run()) {
        outcome.found = true;
        outcome.estimate = toEstimate(*best);
    }
    return outcome;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
