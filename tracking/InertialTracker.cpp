#include "tracking/InertialTracker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "environment/Environment.h"
#include "matching/PoseRefinement.h"
#include "tracking/FreshIdentification.h"
#include "tracking/Propagation.h"
#include "tracking/RayFusion.h"
#include "tracking/RayGating.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

/// A frame may lag the newest sample by this much; samples are kept a little longer.
constexpr double maxFrameLag = 0.25;
constexpr double historySpan = 0.3;
/// getState answers up to this far past the newest input.
constexpr double maxPrediction = 0.1;
/// Tracking while a frame was fused within this time, coasting until the second, then lost.
constexpr double trackingTimeout = 0.25;
constexpr double coastingTimeout = 2.0;
/// The prediction holds when it numbers at least this many rays and this share of the rays it can
/// judge (the others may lie in gates too wide to tell neighbours apart), and the fused pose must
/// then explain the final share of the rays it can judge. Two rays are enough: each was told apart
/// from every other marker by the prediction's own gate, and a view at the edge of the marker field
/// may show no more for several frames (refusing them let the gates outgrow the spacing).
/// A frame numbered any other way needs three.
constexpr std::size_t predictedMinimumRays = 2;
constexpr std::size_t minimumRays = 3;
constexpr double holdingShare = 0.25;
constexpr double explainedShare = 0.5;
/// Rounds of fitting and re-judging the numbers a frame may take.
constexpr int maxFusionRounds = 12;
/// An identification agrees with the prediction when their poses differ by at most the chi-square
/// 99.9 % point of six degrees of freedom under both covariances.
constexpr double agreementGate = 22.46;
/// When the prediction's gates are too wide, the markers in the narrowest gates are tried: gates of
/// at most this many spacings, on this many rays, the most plausible markers first, this many a ray.
/// A hypothesis must number at least four rays: three fit too many poses, and taking them frame
/// after frame let the estimate drift from its covariance. It is scored by its fused
/// chi-square plus a ray's acceptance bound for each usable ray it leaves unnumbered, and taken when
/// every other scores worse by the margin (odds of 1000 to 1).
constexpr double hypothesisSpacings = 5.0;
constexpr std::size_t hypothesisAnchors = 3;
constexpr std::size_t maxHypotheses = 8;
constexpr std::size_t hypothesisMinimumRays = 4;
constexpr double unnumberedRayCost = 13.82;
constexpr double hypothesisMargin = 13.82;
/// Sensors beyond these magnitudes are not believed (rad/s; multiples of gravity).
constexpr double maxAngularRate = 1e3;
constexpr double maxSpecificForce = 1e3;
/// Uncertainty of a fresh start beyond the identified pose: velocity (units/s, for metres), the
/// rate block (gyro bias, or turn rate without samples), accelerometer bias (units/s^2).
constexpr double startPosition = 0.5, startRotation = 0.2;
constexpr double startVelocity = 2.0, startGyroBias = 0.02, startTurnRate = 3.0, startAccelBias = 0.1;
/// The accelerometer shows the tilt while the tracker rests: its mean over this span within this
/// share of gravity, and the gyro below this rate.
constexpr double restSpan = 0.1, restForceShare = 0.05, restRate = 0.2;
constexpr double restTiltUncertainty = 0.02;

Vector3d toDouble(const float (&v)[3]) { return {v[0], v[1], v[2]}; }

std::size_t countNumbered(const std::vector<MarkerIndex>& numbers) {
    return static_cast<std::size_t>(
        std::count_if(numbers.begin(), numbers.end(), [](MarkerIndex m) { return m != MarkerNotFound; }));
}

std::size_t usableCount(const std::vector<TrackerRay>& rays) {
    return static_cast<std::size_t>(std::count_if(rays.begin(), rays.end(), [](const TrackerRay& r) { return r.usable; }));
}

void setBlock(Covariance15& p, std::size_t block, double sigma) {
    for (std::size_t i = 0; i < 3; ++i) p(block + i, block + i) = sigma * sigma;
}

/// The pose of `identified` seen from `predicted` as (dp, dtheta), when the two agree within the
/// chi-square gate under both covariances (the prediction's and the frame's own fit).
std::optional<std::array<double, 6>> agreement(const FilterState& predicted, const FilterState& identified,
                                               const double (&frameCovariance)[21]) {
    PoseCovariance sum = poseBlock(predicted.covariance);
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = 0; c < 6; ++c) sum(r, c) += frameCovariance[upperTriangleIndex(r, c)];
    const std::array<double, 6> offset = poseOffset(predicted, identified);
    const std::optional<PoseCovariance> factor = choleskyFactor(sum);
    if (!factor) return std::nullopt;
    double solved[6];
    std::copy(offset.begin(), offset.end(), std::begin(solved));
    choleskySolveInPlace(*factor, solved);
    double distance = 0;
    for (std::size_t i = 0; i < 6; ++i) distance += offset[i] * solved[i];
    if (distance > agreementGate) return std::nullopt;
    return offset;
}

void requireFinite(double value, const char* what) {
    if (!std::isfinite(value)) throw std::invalid_argument(std::string(what) + " is not finite");
}

}  // namespace

InertialTracker::InertialTracker(Environment& environment, TrackerConfiguration configuration)
    : environment_(&environment), configuration_(std::move(configuration)) {}

InertialTracker::~InertialTracker() = default;

void InertialTracker::reset() {
    hasEstimate_ = false;
    inertial_ = false;
    anchor_ = {};
    entries_.clear();
    newestSample_.reset();
    anyFrame_ = false;
}

void InertialTracker::addInertial(const std::vector<InertialSample>& samples) {
    const double gravity = configuration_.noise.gravity;
    std::optional<double> previous;
    if (newestSample_) previous = newestSample_->time;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const InertialSample& s = samples[i];
        const std::string which = "inertial sample " + std::to_string(i);
        if (!std::isfinite(s.time)) throw std::invalid_argument(which + ": time is not finite");
        if (previous && !(s.time > *previous))
            throw std::invalid_argument(which + ": time is not later than the sample before");
        const Vector3d rate = toDouble(s.angularRate), force = toDouble(s.specificForce);
        const double rateSize = LumetraMath::length(rate), forceSize = LumetraMath::length(force);
        if (!std::isfinite(rateSize) || !std::isfinite(forceSize))
            throw std::invalid_argument(which + ": a value is not finite");
        if (rateSize > maxAngularRate || forceSize > maxSpecificForce * gravity)
            throw std::invalid_argument(which + ": a value is beyond any sensor's range");
        previous = s.time;
    }
    if (samples.empty()) return;
    if (!inertial_ && hasEstimate_) {
        // The rate block held the turn rate of the motion model; from now on it is the gyro bias.
        anchor_.rate = {};
        setBlock(anchor_.covariance, ErrorBlock::rate, startGyroBias);
        setBlock(anchor_.covariance, ErrorBlock::accelBias, startAccelBias);
    }
    inertial_ = true;
    for (const InertialSample& s : samples) {
        if (hasEstimate_ && s.time <= anchor_.time) continue;  // before the fused frame: already accounted for
        entries_.push_back({s, {}});
        if (hasEstimate_) propagateFrom(entries_.size() - 1);
    }
    newestSample_ = samples.back();
    loseIfStale(newestSample_->time);
    forgetOldSamples();
}

void InertialTracker::propagateFrom(std::size_t first) {
    for (std::size_t i = first; i < entries_.size(); ++i) {
        FilterState state = i == 0 ? anchor_ : entries_[i - 1].state;
        const InertialSample& s = entries_[i].sample;
        propagateInertial(state, s.time - state.time, toDouble(s.angularRate), toDouble(s.specificForce),
                          configuration_.noise);
        entries_[i].state = state;
    }
}

void InertialTracker::forgetOldSamples() {
    if (!newestSample_) return;
    const double oldest = newestSample_->time - historySpan;
    while (!entries_.empty() && entries_.front().sample.time < oldest) {
        if (hasEstimate_) anchor_ = entries_.front().state;
        entries_.pop_front();
    }
}

void InertialTracker::loseIfStale(double now) {
    if (hasEstimate_ && now - lastFused_ > coastingTimeout) {
        hasEstimate_ = false;
        // Keep the samples after the anchor for levelling a fresh start; their states mean nothing now.
    }
}

FilterState InertialTracker::predictAt(double time) const {
    if (!inertial_) {
        FilterState state = anchor_;
        if (time > state.time) propagateMotion(state, time - state.time, configuration_.noise);
        return state;
    }
    // The last entry at or before `time`, and the sample whose interval covers it.
    const auto after = std::upper_bound(entries_.begin(), entries_.end(), time,
                                        [](double t, const Entry& e) { return t < e.sample.time; });
    FilterState state = after == entries_.begin() ? anchor_ : std::prev(after)->state;
    const InertialSample& covering = after != entries_.end() ? after->sample : *newestSample_;
    if (time > state.time)
        propagateInertial(state, time - state.time, toDouble(covering.angularRate), toDouble(covering.specificForce),
                          configuration_.noise);
    return state;
}

std::optional<Quaterniond> InertialTracker::knownTilt(double time, double& uncertainty) const {
    if (hasEstimate_) {
        const FilterState predicted = predictAt(time);
        const Covariance15& p = predicted.covariance;
        // Tilt is the rotation error about the horizontal axes.
        uncertainty = std::sqrt(std::max(p(ErrorBlock::rotation, ErrorBlock::rotation),
                                         p(ErrorBlock::rotation + 2, ErrorBlock::rotation + 2)));
        if (uncertainty > 0.1) return std::nullopt;
        return levellingOf(LumetraMath::mul(LumetraMath::conjugate(predicted.rotation), Vector3d{0, 1, 0}));
    }
    if (!inertial_) return std::nullopt;
    // Lost: the accelerometer's mean over the last span, if the tracker rested.
    Vector3d force{};
    std::size_t count = 0;
    for (auto it = entries_.rbegin(); it != entries_.rend() && it->sample.time >= time - restSpan; ++it) {
        if (it->sample.time > time + restSpan) continue;
        if (LumetraMath::length(toDouble(it->sample.angularRate)) > restRate) return std::nullopt;
        force += toDouble(it->sample.specificForce);
        ++count;
    }
    if (count == 0) return std::nullopt;
    force = force / static_cast<double>(count);
    const double gravity = configuration_.noise.gravity;
    if (std::fabs(LumetraMath::length(force) - gravity) > restForceShare * gravity) return std::nullopt;
    uncertainty = restTiltUncertainty;
    return levellingOf(force);
}

bool InertialTracker::fuseFrame(FilterState& state, const std::vector<TrackerRay>& rays,
                                std::vector<MarkerIndex>& numbers, GateCounts counts, std::size_t minimum,
                                const double (*start)[6]) const {
    const Environment& environment = *environment_;
    const double noise = configuration_.rayNoise;
    const FilterState prior = state;
    // Each refit may move the pose enough to drop another marginal ray (grazing rays of a tilted
    // view): the rounds go on until a fit upholds all its numbers, each dropping at least one.
    for (int round = 0; round < maxFusionRounds; ++round) {
        const std::vector<Correspondence> pairs = correspondencesOf(environment, rays, numbers);
        if (pairs.size() < minimum) return false;
        FilterState fused = prior;
        if (!fuseRays(fused, pairs, noise, start)) return false;
        // Rays the prior left undecided may be numbered from the fused pose.
        if (round == 0 && counts.undecided > 0) {
            std::vector<MarkerIndex> again = numberByGates(environment, fused, rays, noise, &counts);
            if (countNumbered(again) > countNumbered(numbers)) {
                numbers = std::move(again);
                continue;
            }
        }
        if (regate(environment, fused, rays, noise, numbers) == 0) {
            if (static_cast<double>(countNumbered(numbers)) < explainedShare * static_cast<double>(counts.judged))
                return false;
            state = fused;
            return true;
        }
    }
    return false;
}

FilterState InertialTracker::initialState(double time, const PoseEstimate& identified) const {
    FilterState state;
    if (hasEstimate_) {
        // Keep what the sensors' biases have taught so far.
        const FilterState predicted = predictAt(time);
        state.rate = inertial_ ? predicted.rate : Vector3d{};
        state.accelBias = predicted.accelBias;
        for (std::size_t r = ErrorBlock::rate; r < ErrorBlock::size; ++r)
            for (std::size_t c = ErrorBlock::rate; c < ErrorBlock::size; ++c)
                state.covariance(r, c) = predicted.covariance(r, c);
    }
    if (!hasEstimate_ || !inertial_) {
        setBlock(state.covariance, ErrorBlock::rate, inertial_ ? startGyroBias : startTurnRate);
        setBlock(state.covariance, ErrorBlock::accelBias, inertial_ ? startAccelBias : 0.0);
    }
    state.time = time;
    const auto& p = identified.pose.position;
    const auto& q = identified.pose.rotation;
    state.position = {p.x, p.y, p.z};
    state.rotation = normalized({q.x, q.y, q.z, q.w});
    const double unit = configuration_.noise.gravity / 9.80665;
    setBlock(state.covariance, ErrorBlock::position, startPosition * unit);
    setBlock(state.covariance, ErrorBlock::velocity, startVelocity * unit);
    setBlock(state.covariance, ErrorBlock::rotation, startRotation);
    return state;
}

std::optional<FilterState> InertialTracker::fusePredicted(double time, const std::vector<TrackerRay>& rays,
                                                          std::vector<MarkerIndex>& numbers) const {
    if (!hasEstimate_) return std::nullopt;
    FilterState predicted = predictAt(time);
    GateCounts counts;
    numbers = numberByGates(*environment_, predicted, rays, configuration_.rayNoise, &counts);
    const std::size_t numbered = countNumbered(numbers);
    if (numbered < predictedMinimumRays ||
        static_cast<double>(numbered) < holdingShare * static_cast<double>(counts.judged) ||
        !fuseFrame(predicted, rays, numbers, counts, predictedMinimumRays))
        return fuseHypotheses(predicted, rays, numbers);
    return predicted;
}

std::optional<FilterState> InertialTracker::fuseHypotheses(const FilterState& predicted,
                                                           const std::vector<TrackerRay>& rays,
                                                           std::vector<MarkerIndex>& numbers) const {
    const Environment& environment = *environment_;
    const double noise = configuration_.rayNoise;
    const double usable = static_cast<double>(usableCount(rays));
    // Fused poses closer than this are one hypothesis reached from two anchors.
    const double sameHypothesis = 0.25 * environment.getMinMarkerDistance();
    const double infinity = std::numeric_limits<double>::infinity();
    double best = infinity, runnerUp = infinity;
    std::optional<FilterState> chosen;
    std::vector<MarkerIndex> chosenNumbers;
    const auto distinct = [&](const FilterState& a, const FilterState& b) {
        return LumetraMath::length(a.position - b.position) > sameHypothesis;
    };
    for (const GateCandidates& anchor :
         narrowestGates(environment, predicted, rays, noise, hypothesisSpacings, hypothesisAnchors)) {
        const std::size_t tried = std::min(anchor.markers.size(), maxHypotheses);
        for (std::size_t k = 0; k < tried; ++k) {
            const MarkerIndex marker = anchor.markers[k].second;
            const Correspondence shown{&rays[anchor.ray], markerPosition(environment, marker)};
            FilterState conditioned = predicted;
            if (!fuseRays(conditioned, std::span(&shown, 1), noise)) continue;
            GateCounts counts;
            std::vector<MarkerIndex> candidate = numberByGates(environment, conditioned, rays, noise, &counts);
            if (candidate[anchor.ray] != marker || countNumbered(candidate) < minimumRays) continue;
            // The fit may number rays the conditioned gates left undecided; then it must hold four.
            FilterState fused = predicted;
            if (!fuseFrame(fused, rays, candidate, counts, minimumRays) ||
                countNumbered(candidate) < hypothesisMinimumRays)
                continue;
            const double cost = fusionCost(predicted, fused, correspondencesOf(environment, rays, candidate), noise) +
                                unnumberedRayCost * (usable - static_cast<double>(countNumbered(candidate)));
            if (cost < best) {
                if (!chosen || distinct(*chosen, fused)) runnerUp = best;
                best = cost;
                chosen = fused;
                chosenNumbers = std::move(candidate);
            } else if (distinct(*chosen, fused)) {
                runnerUp = std::min(runnerUp, cost);
            }
        }
    }
    if (!chosen || runnerUp - best < hypothesisMargin) return std::nullopt;
    numbers = std::move(chosenNumbers);
    return chosen;
}

std::optional<FilterState> InertialTracker::fuseIdentified(double time, const std::vector<TrackerRay>& rays,
                                                           std::vector<MarkerIndex>& numbers) const {
    const Environment& environment = *environment_;
    double tiltUncertainty = 0;
    std::optional<KnownTilt> tilt;
    if (const std::optional<Quaterniond> levelling = knownTilt(time, tiltUncertainty))
        tilt = KnownTilt{*levelling, tiltUncertainty};
    const std::optional<PoseEstimate> identified = identifyAfresh(environment, rays, tilt);
    if (!identified) return std::nullopt;
    std::vector<MarkerIndex> found = identified->markerIndices;
    const auto markerCount = environment.getMarkersSearch().getPoints().size();
    for (MarkerIndex& n : found)
        if (n >= markerCount) n = MarkerNotFound;
    FilterState start = initialState(time, *identified);
    // Fused into the prediction when the two agree (the update starting at the identified pose),
    // otherwise a fresh start.
    std::optional<std::array<double, 6>> offset;
    if (hasEstimate_) {
        const FilterState predicted = predictAt(time);
        const FrameFit frame =
            fitFrame(start.position, start.rotation, correspondencesOf(environment, rays, found), configuration_.rayNoise);
        offset = agreement(predicted, start, frame.covariance);
        if (offset) start = predicted;
    }
    double from[6] = {};
    if (offset) std::copy(offset->begin(), offset->end(), std::begin(from));
    // Every usable ray counts; those the identification left unnumbered may be numbered from the
    // fused pose.
    const std::size_t usable = usableCount(rays);
    const GateCounts counts{usable, usable - std::min(usable, countNumbered(found))};
    if (!fuseFrame(start, rays, found, counts, minimumRays, offset ? &from : nullptr)) return std::nullopt;
    numbers = std::move(found);
    return start;
}

PoseOutcome InertialTracker::addFrame(double time, std::uint32_t camera, const std::vector<Vector3>& rays) {
    if (camera >= configuration_.cameras.size())
        throw std::invalid_argument("camera " + std::to_string(camera) + " is not one of the tracker's " +
                                    std::to_string(configuration_.cameras.size()));
    requireFinite(time, "frame time");
    if (anyFrame_ && time < newestFrame_) throw std::invalid_argument("frame time is earlier than the previous frame's");
    if (newestSample_ && time < newestSample_->time - maxFrameLag)
        throw std::invalid_argument("frame time lags the newest inertial sample by more than 0.25 s");
    anyFrame_ = true;
    newestFrame_ = time;
    loseIfStale(time);

    const Environment& environment = *environment_;
    const CameraMount& mount = configuration_.cameras[camera];
    const std::vector<TrackerRay> tracker = toTrackerRays(rays, mount);

    PoseOutcome outcome;
    outcome.method = PoseMethodTrackerPredicted;
    std::vector<MarkerIndex> numbers;
    std::optional<FilterState> fused = fusePredicted(time, tracker, numbers);
    if (!fused) {
        outcome.method = PoseMethodTrackerIdentified;
        fused = fuseIdentified(time, tracker, numbers);
    }
    if (!fused) return outcome;

    if (!settle(*fused)) return outcome;
    outcome.found = true;
    PoseEstimate& estimate = outcome.estimate;
    const std::vector<Correspondence> pairs = correspondencesOf(environment, tracker, numbers);
    const FrameFit frame = fitFrame(fused->position, fused->rotation, pairs, configuration_.rayNoise);
    estimate.markerIndices = std::move(numbers);
    estimate.numberedRays = static_cast<std::uint32_t>(pairs.size());
    estimate.supportingRays = estimate.numberedRays;
    estimate.rmsAngle = frame.rmsAngle;
    estimate.maxAngle = frame.maxAngle;
    std::copy(std::begin(frame.covariance), std::end(frame.covariance), std::begin(estimate.covariance));
    // Fewer than three rays fix no pose by themselves: the report carries the fused estimate's.
    if (pairs.size() < minimumRays)
        for (std::size_t r = 0; r < 6; ++r)
            for (std::size_t c = r; c < 6; ++c)
                estimate.covariance[upperTriangleIndex(r, c)] = fused->covariance(poseErrorIndex(r), poseErrorIndex(c));
    return outcome;
}

bool InertialTracker::settle(const FilterState& fused) {
    // An estimate whose pose covariance is no longer positive definite cannot number another frame.
    if (!choleskyFactor(poseBlock(fused.covariance))) {
        hasEstimate_ = false;
        return false;
    }
    anchor_ = fused;
    hasEstimate_ = true;
    lastFused_ = fused.time;
    while (!entries_.empty() && entries_.front().sample.time <= fused.time) entries_.pop_front();
    propagateFrom(0);
    return true;
}

TrackerState InertialTracker::getState(double time) const {
    requireFinite(time, "time");
    TrackerState state{};
    state.pose.rotation = {0, 0, 0, 0};  // everything but the status and the time is 0 while lost
    state.structSize = sizeof(TrackerState);
    state.time = time;
    state.status = TrackerLost;
    if (!hasEstimate_) return state;
    const double newestInput = std::max(newestFrame_, newestSample_ ? newestSample_->time : newestFrame_);
    if (time < newestFrame_) throw std::invalid_argument("time is before the newest frame's");
    if (time > newestInput + maxPrediction)
        throw std::invalid_argument("time is more than 0.1 s past the newest input");
    const double age = time - lastFused_;
    if (age > coastingTimeout) return state;
    const FilterState s = predictAt(time);
    if (!isFiniteState(s)) return state;
    const TrackerState lost = state;

    state.status = age > trackingTimeout ? TrackerCoasting : TrackerTracking;
    state.pose.position = {static_cast<float>(s.position.x), static_cast<float>(s.position.y),
                           static_cast<float>(s.position.z)};
    state.pose.rotation = {static_cast<float>(s.rotation.x), static_cast<float>(s.rotation.y),
                           static_cast<float>(s.rotation.z), static_cast<float>(s.rotation.w)};
    Vector3d rate = s.rate;
    if (inertial_) {
        const auto after = std::upper_bound(entries_.begin(), entries_.end(), time,
                                            [](double t, const Entry& e) { return t < e.sample.time; });
        const InertialSample& covering = after != entries_.end() ? after->sample : *newestSample_;
        rate = toDouble(covering.angularRate) - s.rate;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        state.velocity[i] = static_cast<float>(s.velocity[i]);
        state.angularRate[i] = static_cast<float>(rate[i]);
    }
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = r; c < 6; ++c)
            state.covariance[upperTriangleIndex(r, c)] =
                static_cast<float>(s.covariance(poseErrorIndex(r), poseErrorIndex(c)));
    for (std::size_t k = 0; k < 6; ++k)
        if (!(state.covariance[upperTriangleIndex(k, k)] > 0)) return lost;
    return state;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
