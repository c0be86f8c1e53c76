// Identification without a prior: the groups of bar patterns that match would try are each turned
// into a hypothesis (levelled, laid onto cells, found in the catalogue, placed on the field), the
// hypothesis is fitted by least squares and renumbered from its own pose, and the one that the
// most rays support wins. A stray ray inside a bar's ellipse hides that bar from the pattern
// search, so a frame that yields no hypothesis is searched again with strays admitted.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "environment/Environment.h"
#include "matching/LevelledIdentification.h"
#include "matching/PipelineSteps.h"
#include "matching/PoseSettling.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using namespace PipelineSteps;

constexpr unsigned long openBarId = ~0ul;
constexpr float patternEllipseScale = 0.75f;
/// Bounds on the work of one frame: groups tried, and hypotheses fitted, per search.
constexpr std::size_t maxGroupsTried = 24;
constexpr std::size_t maxHypothesesFitted = 10;
/// A hypothesis that explains this share of the usable rays ends the search: a wrong one that has
/// passed its confirmation never comes near it.
constexpr double convincingShare = 0.85;
/// A hypothesis must explain at least this share of the usable rays.
constexpr double minimumShare = 0.5;
/// The searches after the first (with strays admitted, which tries every pair of rays against every
/// ray, and on levelled rays) are skipped beyond this many rays, so that a large frame costs what
/// match costs.
constexpr std::size_t maxSecondSearchRays = 96;

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

    /// The best hypothesis of the bar patterns the plain search finds, then, if there is none, of
    /// those found with strays admitted.
    std::optional<SettledPose> run() {
        const Environment& e = environment_;
        if (auto groups = findPatternGroups(points_, e.barProportion, e.getMarkerEllipse(), e.getMinCombinationSize()))
            search(*groups);
        if (!best_ && rays_.size() <= maxSecondSearchRays) {
            std::vector<Pattern> patterns = VeskEnvironment::findPatternsToleratingStrays(
                points_, e.barProportion, e.getMarkerEllipse(), patternEllipseScale);
            if (auto groups = groupPatterns(points_, std::move(patterns), e.getMinCombinationSize())) search(*groups);
        }
        return std::move(best_);
    }

    /// The levelling of the largest group tried, if any: the tracker's tilt, good to a degree or so
    /// even when the group could not be placed.
    const std::optional<LumetraMath::quaternion<float>>& levelling() const { return levelling_; }

    /// Hypotheses whose rotation `admits` refuses are passed over.
    void admitOnly(const RotationTest* admits) { admits_ = admits; }

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
            if (!levelling_) levelling_ = levelled.rotation;
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
        // A pose resting on a small share of the rays (two bars of a view of fourteen rays) can be a
        // false minimum of the fit far from the truth that still fits its own rays well.
        if (!settled || static_cast<double>(settled->numbered) < minimumShare * static_cast<double>(usable_)) return true;
        // Confirmation: the fitted pose must give no catalogued ray another marker, and keep two
        // thirds of them, or two bars' worth, on theirs (a noisy ray may fall outside the residual
        // bound, a far one outside what the fit's spread can tell apart).
        std::size_t kept = 0, catalogueRays = 0;
        for (std::size_t i = 0; i < group.size(); ++i)
            if ((*catalogued)[i] != openBarId)
                for (std::size_t k = 0; k < 3; ++k) {
                    const MarkerIndex number = settled->numbers[patterns[group[i]][k]];
                    ++catalogueRays;
                    if (number == 3 * (*catalogued)[i] + k) ++kept;
                    else if (number != MarkerNotFound) return true;
                }
        if (3 * kept < 2 * catalogueRays && kept < 6) return true;
        if (admits_ && !(*admits_)(settled->fit.pose.rotation)) return true;
        if (!best_ || better(*settled, *best_)) best_ = std::move(settled);
        return true;
    }

    const Environment& environment_;
    const std::vector<Vector3>& rays_;
    std::vector<Vector2> points_;
    std::size_t usable_ = 0;
    std::uint32_t minimumSupport_ = 6;
    std::optional<SettledPose> best_;
    std::optional<LumetraMath::quaternion<float>> levelling_;
    const RotationTest* admits_ = nullptr;
};

/// A tilted tracker sees bars foreshortened and turned in the plane the search projects onto, so
/// compatible bars conflict on length or direction and a view splits into groups too small for
/// the catalogue. When nothing is found, the rays are levelled by the tilt of the largest group and
/// searched again; the pose found is turned back to the tracker's frame.
std::optional<SettledPose> identifyUnitRays(const Environment& environment, const std::vector<Vector3>& rays) {
    IdentificationSearch search(environment, rays);
    std::optional<SettledPose> found = search.run();
    if (found || !search.levelling() || rays.size() > maxSecondSearchRays) return found;

    const LumetraMath::quaternion<float> levelling = *search.levelling();
    const LumetraMath::matrix<float, 3, 3> turn = LumetraMath::toRotationMatrix(levelling);
    std::vector<Vector3> levelledRays;
    levelledRays.reserve(rays.size());
    for (const Vector3& ray : rays) levelledRays.push_back(isUsableRay(ray) ? turn * ray : ray);
    found = IdentificationSearch(environment, levelledRays).run();
    if (found) found->fit.pose.rotation = found->fit.pose.rotation * levelling;
    return found;
}

}  // namespace

std::optional<PoseEstimate> identifyLevelledRays(const Environment& environment, const std::vector<Vector3>& rays,
                                                 const RotationTest& admits) {
    if (rays.size() > MaxMatchRays) return std::nullopt;
    IdentificationSearch search(environment, rays);
    search.admitOnly(&admits);
    const std::optional<SettledPose> found = search.run();
    if (!found) return std::nullopt;
    return toEstimate(*found);
}

PoseOutcome Environment::identify(const std::vector<Vector3>& rays) const {
    PoseOutcome outcome;
    outcome.method = PoseMethodIdentify;
    if (rays.size() > MaxMatchRays) return outcome;
    const std::vector<Vector3> unit = unitRays(rays);
    if (const std::optional<SettledPose> best = identifyUnitRays(*this, unit)) {
        outcome.found = true;
        outcome.estimate = toEstimate(*best);
    }
    return outcome;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
