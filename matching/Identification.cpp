// Identification without a prior: the groups of bar patterns that match would try are each turned
// into a hypothesis (levelled, laid onto cells, found in the catalogue, placed on the field), the
// hypothesis is fitted by least squares and renumbered from its own pose, and the one that the
// most rays support wins. A stray ray inside a bar's ellipse hides that bar from the pattern
// search, so a window that yields no hypothesis is searched again with strays admitted. Large
// frames are searched in windows (WindowedSearch), nearest the marker plane's normal first.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "environment/Environment.h"
#include "matching/LevelledIdentification.h"
#include "matching/PatternPlane.h"
#include "matching/PipelineSteps.h"
#include "matching/PoseSettling.h"
#include "matching/ResolvableRays.h"
#include "matching/SymmetricTwins.h"
#include "matching/WindowedSearch.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using namespace PipelineSteps;

constexpr unsigned long openBarId = ~0ul;
/// Bounds on the work of one frame: groups tried, and hypotheses fitted, per window and per frame.
constexpr std::size_t maxGroupsTried = 24;
constexpr std::size_t maxHypothesesFitted = 10;
constexpr std::size_t maxGroupsPerFrame = 48;
constexpr std::size_t maxHypothesesPerFrame = 12;
/// Steps of the clique search per window, and groups of patterns one frame may enumerate over its
/// windows. Real views enumerate a few hundred groups per window; a crafted lattice of bar-like
/// triples would reach the solver's own step limit (tens of thousands of groups, milliseconds) in
/// every window.
constexpr std::size_t maxSolverStepsPerWindow = 1u << 12;
constexpr std::size_t maxGroupsEnumeratedPerFrame = 1u << 13;
/// Pattern searches of windows (each pass of each window) one frame may make over all its
/// levellings: the first search's two passes and two levelled rounds of a wide view's seven windows.
/// A frame of one window has room for every round; a wide one that no levelling explains stops there.
constexpr std::size_t maxWindowsSearchedPerFrame = 18;
/// Searches of a frame on levelled rays, each levelled by the one before when it found nothing. Up
/// close under a wide view the first levelling comes from two or three bars and is degrees off, too
/// far for the bars to fall onto cells; each round's largest group levels the next one better.
constexpr int maxLevellingRounds = 4;
/// A hypothesis that explains this share of the rays its pose could number ends the search: a wrong
/// one that has passed its confirmation never comes near it.
constexpr double convincingShare = 0.8;
/// A hypothesis must explain at least this share of the rays its pose could number. A dense random
/// layout holds four bars in the same arrangement as four elsewhere, within the noise; a pose laid
/// on the wrong four explains them at noise level and leaves the rest of the view, more than half as
/// many rays again, unexplained. Right poses explain at least 0.7 of their rays on all but one frame
/// in several thousand.
constexpr double minimumShare = 2.0 / 3.0;
/// The pass that admits strays runs on frames the first found nothing in; up close and tilted, the
/// unlevelled projection stretches bars on one side of a wide view to over 1.5 times those on the
/// other, so this pass groups patterns whose lengths differ by up to the shorter one.
constexpr float strayPassLengthTolerance = 1.0f;
/// A pose resting on fewer rays than four bars show has few residuals to be judged by (2N - 6 of
/// them): two or three bars seen under a strong tilt can fit a wrong place at noise level, metres
/// off. The rest of the view must then confirm it: it must explain this share of the rays it could number.
constexpr std::uint32_t fewRays = 12;
constexpr double fewRaysShare = 0.75;

/// The tracker's height over the marker plane at which the group's bars, cast from the levelled
/// rays, are as long on the plane as the layout's bars (the levelled height scaled by the ratio of
/// the true to the cast lengths, summed over the bars).
float heightByBarLengths(const Environment& environment, const std::vector<Vector3>& rays,
                         const std::vector<Pattern>& patterns, const Group& group, const HomographyResult& levelled) {
    const auto& bar = environment.getBarGeometries()[0];
    const float barLength = LumetraMath::length(bar[2] - bar[0]);
    const float height = levelled.offset.y;
    float cast = 0;
    for (const unsigned long g : group) {
        const Vector3 first = LumetraMath::mul(levelled.rotation, rays[patterns[g][0]]);
        const Vector3 last = LumetraMath::mul(levelled.rotation, rays[patterns[g][2]]);
        const Vector2 a{first.x * -height / first.y, first.z * -height / first.y};
        const Vector2 b{last.x * -height / last.y, last.z * -height / last.y};
        cast += LumetraMath::length(b - a);
    }
    const float scaled = height * barLength * static_cast<float>(group.size()) / cast;
    return std::isfinite(scaled) ? scaled : height;
}

struct Hypothesis {
    SettledPose settled;
};

bool better(const SettledPose& a, const SettledPose& b) {
    if (a.numbered != b.numbered) return a.numbered > b.numbered;
    return a.fit.rmsAngle < b.fit.rmsAngle;
}

/// The work one frame has left, shared by its searches.
struct SearchBudget {
    std::size_t groups = maxGroupsPerFrame;
    std::size_t hypotheses = maxHypothesesPerFrame;
    std::size_t enumerated = maxGroupsEnumeratedPerFrame;
    std::size_t windows = maxWindowsSearchedPerFrame;
};

class IdentificationSearch {
public:
    IdentificationSearch(const Environment& environment, const std::vector<Vector3>& rays, SearchBudget& budget)
        : environment_(environment), rays_(rays), points_(projectRays(rays)), budget_(budget) {
        const unsigned long smallest = std::min<unsigned long>(environment.getMinCombinationSize(), 64);
        minimumSupport_ = static_cast<std::uint32_t>(std::max<unsigned long>(6, 3 * smallest));
    }

    /// Searches the windows in turn until a hypothesis is convincing: the bar patterns of each, and
    /// in the first window, while there is no hypothesis, those found with strays admitted.
    void run(const std::vector<WindowedSearch::Window>& windows) {
        const Environment& e = environment_;
        for (const WindowedSearch::Window& window : windows)
            for (const bool toleratingStrays : {false, true}) {
                if (convinced() || budget_.enumerated == 0 || budget_.windows == 0) return;
                if (toleratingStrays && (best_ || &window != &windows.front())) break;
                --budget_.windows;
                std::vector<Pattern> patterns = WindowedSearch::windowPatterns(
                    points_, window, e.barProportion, e.getMarkerEllipse(), toleratingStrays);
                if (keepFirstPatterns_ && &window == &windows.front() && !toleratingStrays) firstPatterns_ = patterns;
                if (auto groups = groupPatterns(points_, std::move(patterns), e.getMinCombinationSize(),
                                                maxSolverStepsPerWindow,
                                                toleratingStrays ? strayPassLengthTolerance : patternLengthTolerance)) {
                    budget_.enumerated -= std::min(budget_.enumerated, groups->groups.size());
                    search(*groups);
                }
            }
    }

    /// Whether the group proposes what the best hypothesis (or the settled numbers handed in)
    /// already holds: no number that it gives another ray, and at least half of them the same (the
    /// rest on rays it left unnumbered). Such a group would settle to the same hypothesis.
    bool repeatsSettled(const std::vector<MarkerIndex>& numbers) const {
        const std::vector<MarkerIndex>& settled = best_ ? best_->numbers : settledNumbers_;
        if (settled.size() != numbers.size()) return false;
        std::size_t proposed = 0, same = 0;
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            if (numbers[i] == MarkerNotFound) continue;
            ++proposed;
            if (numbers[i] == settled[i]) ++same;
            else if (settled[i] != MarkerNotFound) return false;
        }
        return 2 * same >= proposed && same > 0;
    }

    bool convinced() const {
        return best_ && static_cast<double>(best_->numbered) >= convincingShare * bestResolvable_;
    }

    std::optional<SettledPose>& best() { return best_; }
    /// Numbers a hypothesis already settled to (by another search of the frame): a group that
    /// proposes nothing else is not fitted again.
    void setSettledNumbers(std::vector<MarkerIndex> numbers) { settledNumbers_ = std::move(numbers); }
    const std::vector<Vector2>& points() const { return points_; }

    /// The levelling of the largest group tried, if any: the tracker's tilt, good to a degree or so
    /// even when the group could not be placed.
    const std::optional<LumetraMath::quaternion<float>>& levelling() const { return levelling_; }
    /// Bars of the group that levelling() comes from.
    std::size_t levellingBars() const { return levellingBars_; }
    /// The bar patterns of the first window (strays not admitted), once keepFirstPatterns() asked
    /// for them before the search.
    const std::vector<Pattern>& firstPatterns() const { return firstPatterns_; }
    void keepFirstPatterns() { keepFirstPatterns_ = true; }

    /// Hypotheses whose rotation `admits` refuses are passed over.
    void admitOnly(const RotationTest* admits) { admits_ = admits; }

private:
    void search(PatternGroups& candidates) {
        // Only the largest groups are tried; a crafted frame may have thousands of them.
        if (candidates.groups.size() > maxGroupsTried) candidates.groups.resize(maxGroupsTried);
        const std::vector<Vector3> rayLengths =
            environment_.findPatternRayLengths(rays_, candidates.groups, candidates.patterns);
        std::size_t fitted = 0;
        for (std::size_t g = 0; g < candidates.groups.size() && g < maxGroupsTried; ++g) {
            if (fitted >= maxHypothesesFitted || convinced() || budget_.groups == 0 || budget_.hypotheses == 0) return;
            --budget_.groups;
            Group group = candidates.groups[g];
            const HomographyResult levelled = Environment::findHomography(
                rays_, rayLengths, candidates.patterns, group, groupDirection(group, candidates.quadAngles));
            if (!levelling_) levelling_ = levelled.rotation, levellingBars_ = group.size();
            moveCentralPatternFirst(group, candidates.patterns, rays_, levelled.rotation);
            if (tryGroup(candidates.patterns, group, levelled)) {
                ++fitted;
                --budget_.hypotheses;
            }
        }
    }

    /// Whether the group came as far as a fitted hypothesis.
    bool tryGroup(const std::vector<Pattern>& patterns, const Group& group, HomographyResult levelled) {
        std::optional<ObservedArrangement> observed = layOnCells(environment_, rays_, patterns, group, levelled);
        if (!observed) {
            // The height comes from the markers' distances, which far, noisy bars give a tenth off:
            // the bars then fall off their cells in proportion to their distance from the first.
            // Their lengths on the plane tell the height as well.
            levelled.offset.y = heightByBarLengths(environment_, rays_, patterns, group, levelled);
            observed = layOnCells(environment_, rays_, patterns, group, levelled);
        }
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
        if (repeatsSettled(numbers)) return false;

        std::optional<SettledPose> settled = settlePose(environment_, rays_, std::move(numbers), start, minimumSupport_);
        // A pose resting on a small share of the rays (two bars of a view of fourteen rays) can be a
        // false minimum of the fit far from the truth that still fits its own rays well.
        if (!settled) return true;
        // Rays the pose casts where no fit could tell markers apart do not count.
        const auto canResolve = ResolvableRays::numberable(environment_, settled->fit.pose, settled->fit.residualVariance);
        const double resolvable = static_cast<double>(canResolve.count(rays_));
        const double share = settled->numbered < fewRays ? fewRaysShare : minimumShare;
        if (static_cast<double>(settled->numbered) < share * resolvable) return true;
        // Confirmation: the fitted pose must give no catalogued ray another marker, and keep two
        // thirds of them, or two bars' worth, on theirs (a noisy ray may fall outside the residual
        // bound, a far one outside what the fit's spread can tell apart). Catalogued rays the pose
        // cannot resolve are not counted.
        std::size_t kept = 0, catalogueRays = 0;
        for (std::size_t i = 0; i < group.size(); ++i)
            if ((*catalogued)[i] != openBarId)
                for (std::size_t k = 0; k < 3; ++k) {
                    const MarkerIndex number = settled->numbers[patterns[group[i]][k]];
                    if (number == 3 * (*catalogued)[i] + k) ++kept;
                    else if (number != MarkerNotFound) return true;
                    else if (!canResolve(rays_[patterns[group[i]][k]])) continue;
                    ++catalogueRays;
                }
        if (kept == 0 || (3 * kept < 2 * catalogueRays && kept < 6)) return true;
        if (admits_ && !(*admits_)(settled->fit.pose.rotation)) return true;
        if (!best_ || better(*settled, *best_)) {
            best_ = std::move(settled);
            bestResolvable_ = resolvable;
        }
        return true;
    }

    const Environment& environment_;
    const std::vector<Vector3>& rays_;
    std::vector<Vector2> points_;
    SearchBudget& budget_;
    std::uint32_t minimumSupport_ = 6;
    std::optional<SettledPose> best_;
    std::vector<MarkerIndex> settledNumbers_;
    double bestResolvable_ = 0;
    std::optional<LumetraMath::quaternion<float>> levelling_;
    std::size_t levellingBars_ = 0;
    bool keepFirstPatterns_ = false;
    std::vector<Pattern> firstPatterns_;
    const RotationTest* admits_ = nullptr;
};

/// A tilted tracker sees bars foreshortened and turned in the plane the search projects onto, so
/// compatible bars conflict on length or direction and a view splits into groups too small for
/// the catalogue; far from the tracker's axis the distortion grows without bound. The central window
/// is searched first; when it convinces nobody, the rays are levelled (by the best hypothesis, or
/// else by the plane of its patterns' lines and then by the tilt of its largest group) and searched
/// again, the central window and, in a frame larger than a window, those around it, on which the
/// projection is now a true image of the marker plane; when that finds nothing either, levelled
/// again by its own largest group, a few rounds at most. A pose found on levelled rays is turned
/// back to the tracker's frame.
std::optional<SettledPose> identifyUnitRays(const Environment& environment, const std::vector<Vector3>& rays) {
    const bool markersBelow = environment.filterRay(Vector3{0.0f, -1.0f, 0.0f}, Vector3{0.0f, 1.0f, 0.0f});
    SearchBudget budget;
    IdentificationSearch search(environment, rays, budget);
    search.keepFirstPatterns();
    search.run({WindowedSearch::centralWindow(rays, search.points(), markersBelow)});
    std::optional<SettledPose> found = std::move(search.best());
    if (search.convinced()) return found;

    // Searches levelled by `levelling`, each later round by the last one's largest group.
    const auto searchLevelled = [&](std::optional<LumetraMath::quaternion<float>> levelling)
        -> std::optional<SettledPose> {
        for (int round = 0; round < maxLevellingRounds && levelling; ++round) {
            const LumetraMath::matrix<float, 3, 3> turn = LumetraMath::toRotationMatrix(*levelling);
            std::vector<Vector3> levelledRays;
            levelledRays.reserve(rays.size());
            for (const Vector3& ray : rays) levelledRays.push_back(isUsableRay(ray) ? turn * ray : ray);

            IdentificationSearch levelledSearch(environment, levelledRays, budget);
            if (found) levelledSearch.setSettledNumbers(found->numbers);
            std::vector<WindowedSearch::Window> windows =
                WindowedSearch::surroundingWindowsOf(levelledRays, levelledSearch.points(), markersBelow);
            windows.insert(windows.begin(),
                           WindowedSearch::centralWindow(levelledRays, levelledSearch.points(), markersBelow));
            levelledSearch.run(windows);
            if (std::optional<SettledPose>& levelledFound = levelledSearch.best()) {
                levelledFound->fit.pose.rotation = levelledFound->fit.pose.rotation * *levelling;
                return std::move(levelledFound);
            }
            // Nothing yet: the tilt of this search's largest group is a better levelling than the last.
            if (found || !levelledSearch.levelling()) break;
            levelling = *levelledSearch.levelling() * *levelling;
        }
        return std::nullopt;
    };
    // Levelled by the pose found, else by the largest group's tilt; first, though, by the plane of
    // the central window's patterns when more of their lines agree on it than that group has bars
    // (up close the groups are small and level the view degrees off).
    std::optional<SettledPose> levelledFound;
    const std::optional<PlaneLevelling> plane =
        found ? std::nullopt : levellingFromPatterns(environment, rays, search.firstPatterns(), markersBelow);
    const bool planeFirst = plane && plane->lines > search.levellingBars();
    if (planeFirst) levelledFound = searchLevelled(plane->rotation);
    if (!levelledFound)
        levelledFound = searchLevelled(found ? std::optional{found->fit.pose.rotation} : search.levelling());
    if (!levelledFound && plane && !planeFirst) levelledFound = searchLevelled(plane->rotation);
    if (levelledFound && (!found || better(*levelledFound, *found))) return levelledFound;
    return found;
}

}  // namespace

std::optional<PoseEstimate> identifyLevelledRays(const Environment& environment, const std::vector<Vector3>& rays,
                                                 const RotationTest& admits) {
    if (rays.size() > MaxMatchRays) return std::nullopt;
    const bool markersBelow = environment.filterRay(Vector3{0.0f, -1.0f, 0.0f}, Vector3{0.0f, 1.0f, 0.0f});
    SearchBudget budget;
    IdentificationSearch search(environment, rays, budget);
    search.admitOnly(&admits);
    // Levelled already: the central window first, then those around it.
    std::vector<WindowedSearch::Window> windows = WindowedSearch::surroundingWindowsOf(rays, search.points(), markersBelow);
    windows.insert(windows.begin(), WindowedSearch::centralWindow(rays, search.points(), markersBelow));
    search.run(windows);
    const std::optional<SettledPose>& found = search.best();
    if (!found || hasEquallyGoodTwin(environment.getLayoutSymmetries(), found->numbers)) return std::nullopt;
    return toEstimate(*found);
}

PoseOutcome Environment::identify(const std::vector<Vector3>& rays) const {
    PoseOutcome outcome;
    outcome.method = PoseMethodIdentify;
    if (rays.size() > MaxMatchRays) return outcome;
    std::vector<Vector3> unit = unitRays(rays);
    clearRepeatedRays(unit);
    const std::optional<SettledPose> best = identifyUnitRays(*this, unit);
    // On a layout that repeats itself, a view its symmetry explains as well names no one place.
    if (best && !hasEquallyGoodTwin(layoutSymmetries, best->numbers)) {
        outcome.found = true;
        outcome.estimate = toEstimate(*best);
    }
    return outcome;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
