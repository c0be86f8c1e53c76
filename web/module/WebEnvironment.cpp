#include "web/module/WebEnvironment.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <stdexcept>
#include <utility>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/MatchScenarios.h"
#include "web/module/DescriptionValue.h"

namespace Lumetra::Web {

using emscripten::val;
using Vesk::Environment::HorizontalGrid::Bar;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

namespace {

/// A list as a JavaScript array.
template <class T>
val array(const std::vector<T>& elements) {
    val result = val::array();
    for (const T& element : elements) result.call<void>("push", element);
    return result;
}

val failure(const std::string& message) {
    val result = val::object();
    result.set("error", message);
    return result;
}

std::vector<double> numbers(const val& list, const char* name) {
    if (!list.isArray()) throw std::runtime_error(std::string("\"") + name + "\" is not a list");
    std::vector<double> values;
    const auto count = list["length"].as<unsigned>();
    for (unsigned i = 0; i < count; ++i) {
        if (!list[i].isNumber()) throw std::runtime_error(std::string("\"") + name + "\" holds something not a number");
        values.push_back(list[i].as<double>());
    }
    return values;
}

/// Whether two descriptions differ in anything but their bars.
bool sameGeometry(const EnvironmentDescription& a, const EnvironmentDescription& b) {
    return a.size == b.size && a.barLength == b.barLength && a.barProportion == b.barProportion &&
           a.barSlope == b.barSlope && a.barOffset == b.barOffset && a.ceiling == b.ceiling && a.height == b.height &&
           a.cellSize == b.cellSize;
}

/// Bars of `a` that `b` lacks (same cell and properties), as the 2D markers of `a`.
void markersOfBarsMissingFrom(const EnvironmentDescription& a, const std::vector<LumetraMath::vector<float, 2>>& markers,
                              const std::set<Bar>& b, std::vector<LumetraMath::vector<float, 2>>& points) {
    for (std::size_t i = 0; i < a.bars.size(); ++i)
        if (!b.contains(a.bars[i])) points.insert(points.end(), markers.begin() + 3 * i, markers.begin() + 3 * i + 3);
}

}  // namespace

namespace {

/// Reads the finite number `name` of `object` into `target` when present; whole numbers for integers.
template <class Target>
void readNumber(const val& object, const char* name, Target& target, double low, double high) {
    const val member = object[name];
    if (member.isUndefined()) return;
    const double v = member.isNumber() ? member.as<double>() : std::nan("");
    if (!(v >= low && v <= high) || (std::is_integral_v<Target> && std::floor(v) != v))
        throw std::runtime_error(std::string("\"") + name + "\" must be a number from " + std::to_string(low) + " to " +
                                 std::to_string(high));
    target = static_cast<Target>(v);
}

}  // namespace

Testing::CoverageSettings coverageSettingsFromValue(const val& value) {
    Testing::CoverageSettings settings;
    settings.threads = 1;
    if (value.isUndefined() || value.isNull()) return settings;
    if (!isObject(value)) throw std::runtime_error("the coverage settings are not an object");
    const val method = value["method"];
    if (!method.isUndefined()) {
        const auto parsed = method.isString() ? Testing::parseMethod(method.as<std::string>()) : std::nullopt;
        if (!parsed) throw std::runtime_error("the method must be match, identify or track");
        settings.method = *parsed;
    }
    const val camera = value["camera"];
    if (!camera.isUndefined()) {
        if (!isObject(camera)) throw std::runtime_error("\"camera\" is not an object");
        if (camera["name"].isString()) settings.camera.name = camera["name"].as<std::string>();
        readNumber(camera, "fieldOfViewDegrees", settings.camera.fieldOfViewDegrees, 1, 179);
        readNumber(camera, "noiseDegrees", settings.camera.noiseDegrees, 0, 10);
        readNumber(camera, "dropProbability", settings.camera.dropProbability, 0, 1);
        readNumber(camera, "spuriousRays", settings.camera.spuriousRays, 0, 1000);
        readNumber(camera, "rate", settings.camera.rate, 1, 1000);
    }
    readNumber(value, "minDistance", settings.minDistance, 0.01, 100);
    readNumber(value, "maxDistance", settings.maxDistance, 0.01, 100);
    readNumber(value, "distances", settings.distances, 1, 50);
    readNumber(value, "yaws", settings.yaws, 1, 360);
    readNumber(value, "threshold", settings.threshold, 0, 1);
    readNumber(value, "tolerance", settings.tolerance, 0, 100);
    readNumber(value, "seed", settings.seed, 0, 9007199254740991.0);
    if (!value["tiltsDegrees"].isUndefined()) {
        settings.tiltsDegrees = numbers(value["tiltsDegrees"], "tiltsDegrees");
        if (settings.tiltsDegrees.empty() || settings.tiltsDegrees.size() > 16) throw std::runtime_error("1 to 16 tilts");
        for (const double tilt : settings.tiltsDegrees)
            if (!(tilt >= 0 && tilt <= 80)) throw std::runtime_error("tilts must be 0 to 80 degrees");
    }
    if (settings.maxDistance < settings.minDistance) throw std::runtime_error("the tracker's distances must ascend");
    if (settings.minDistance == settings.maxDistance) settings.distances = 1;
    return settings;
}

double reach(const Testing::CoverageSettings& settings, double cellSize) {
    double tilt = 0;
    for (const double t : settings.tiltsDegrees) tilt = std::max(tilt, t);
    const double widest = (0.5 * settings.camera.fieldOfViewDegrees + tilt) * std::numbers::pi / 180;
    if (widest >= 0.5 * std::numbers::pi) return std::numeric_limits<double>::infinity();
    // A walk of --method track starts its lead-in before the position's cell.
    const double walk = settings.method == Testing::LocateMethod::track ? settings.walkLeadIn + cellSize : 0;
    return settings.maxDistance * std::tan(widest) + walk;
}

WebEnvironment* WebEnvironment::fromCode(const std::string& code) {
    auto* environment = new WebEnvironment;
    try {
        environment->build(Vesk::Environment::HorizontalGrid::decodeEnvironmentCode(code));
    } catch (const std::exception& error) {
        environment->error_ = std::string("invalid environment code: ") + error.what();
    }
    return environment;
}

WebEnvironment* WebEnvironment::fromDescription(const val& description) {
    auto* environment = new WebEnvironment;
    try {
        EnvironmentDescription d = descriptionFromValue(description);
        if (d.size.x == 0 || d.size.y == 0) throw std::runtime_error("the grid has no cells");
        Vesk::Environment::HorizontalGrid::validateEnvironmentDescription(d);
        environment->build(std::move(d));
    } catch (const std::exception& error) {
        environment->error_ = std::string("invalid environment: ") + error.what();
    }
    return environment;
}

void WebEnvironment::build(EnvironmentDescription description) {
    description_ = std::move(description);
    environment_ = Testing::makeEnvironment(description_);
    face_ = environment_->queryInterface<Testing::IEnvironment>();
    tracking_ = environment_->queryInterface<Testing::ITrackingEnvironment>();
    if (!face_ || !tracking_) throw std::runtime_error("the environment has no matching interface");
    markers_ = Testing::getMarkers(*face_);
    locator_ = std::make_unique<Testing::CoreLocator>(description_);
}

val WebEnvironment::description() const { return environment_ ? toValue(description_) : val::null(); }

std::string WebEnvironment::code() const {
    return environment_ ? LumetraTest::writeEnvironmentCode(description_, 2) : std::string();
}

val WebEnvironment::markers() const {
    std::vector<float> flat;
    for (const auto& marker : markers_) flat.insert(flat.end(), {marker.x, marker.y, marker.z});
    return array(flat);
}

std::set<std::vector<Bar>> WebEnvironment::features() const {
    std::set<std::vector<Bar>> result;
    for (const auto& [key, indices] : environment_->getCombinations()) {
        std::vector<Bar> bars;
        for (const unsigned long index : indices) bars.push_back(description_.bars.at(index));
        std::sort(bars.begin(), bars.end(),
                  [](const Bar& a, const Bar& b) { return a < b || (!(b < a) && a._properties < b._properties); });
        result.insert(std::move(bars));
    }
    return result;
}

val WebEnvironment::catalogue() const {
    if (!environment_) return val::null();
    std::map<std::size_t, std::size_t> bySize;
    std::set<Bar> inFeatures;
    const auto unique = features();
    for (const auto& feature : unique) {
        ++bySize[feature.size()];
        inFeatures.insert(feature.begin(), feature.end());
    }
    val sizes = val::object();
    for (const auto& [size, count] : bySize) sizes.set(std::to_string(size), count);
    val result = val::object();
    result.set("uniqueFeatures", unique.size());
    result.set("bySize", sizes);
    result.set("smallestFeatureSize", unique.empty() ? val::null() : val(environment_->getMinCombinationSize()));
    std::vector<unsigned> outside;
    for (std::size_t i = 0; i < description_.bars.size(); ++i)
        if (!inFeatures.contains(description_.bars[i])) outside.push_back(static_cast<unsigned>(i));
    result.set("barsInFeatures", description_.bars.size() - outside.size());
    result.set("barsOutsideFeatures", array(outside));
    result.set("markerSpacing", environment_->getMinMarkerDistance());
    return result;
}

val WebEnvironment::warnings() const {
    std::vector<std::string> remarks;
    if (!environment_) return array(remarks);
    const val figures = catalogue();
    const auto outside = figures["barsOutsideFeatures"];
    const auto outsideCount = outside["length"].as<unsigned>();
    if (description_.bars.empty()) {
        remarks.push_back("No bars yet: click a cell to place one.");
    } else if (figures["uniqueFeatures"].as<unsigned>() == 0) {
        remarks.push_back("No group of bars is unique in this layout, so nothing can be matched: turn or move bars "
                          "so that neighbourhoods differ.");
    } else if (outsideCount > 0) {
        std::string list;
        for (unsigned i = 0; i < outsideCount && i < 12; ++i) list += (i ? ", #" : "#") + std::to_string(outside[i].as<unsigned>());
        if (outsideCount > 12) list += ", ...";
        remarks.push_back(std::to_string(outsideCount) + " of " + std::to_string(description_.bars.size()) +
                          " bars belong to no unique feature (" + list +
                          "): their neighbourhoods repeat elsewhere, so views of them alone cannot be identified.");
    }
    return array(remarks);
}

val WebEnvironment::coverage(const val& settingsValue, const val& indices) {
    if (!environment_) return failure(error_);
    try {
        const std::string key = val::global("JSON").call<std::string>("stringify", settingsValue);
        if (!estimator_ || key != estimatorKey_) {
            estimator_.reset();
            estimatorSettings_ = coverageSettingsFromValue(settingsValue);
            estimator_ = std::make_unique<Testing::CoverageEstimator>(description_, *locator_, estimatorSettings_);
            estimatorKey_ = key;
        }
        const std::vector<double> wanted = numbers(indices, "indices");
        const double positions = static_cast<double>(estimator_->lattice().shares.size());
        std::vector<double> shares, identifiable;
        for (const double index : wanted) {
            if (!(index >= 0 && index < positions) || std::floor(index) != index)
                throw std::runtime_error("a cell index outside the grid");
            const auto [located, inView] = estimator_->shares(static_cast<std::size_t>(index));
            shares.push_back(located);
            identifiable.push_back(inView);
        }
        val result = val::object();
        result.set("shares", array(shares));
        result.set("identifiable", array(identifiable));
        result.set("framesPerPosition", estimator_->lattice().framesPerPosition);
        result.set("describe", estimatorSettings_.describe());
        return result;
    } catch (const std::exception& error) {
        estimator_.reset();
        return failure(error.what());
    }
}

val WebEnvironment::affectedCells(const WebEnvironment& before, const val& settingsValue) const {
    if (!environment_) return failure(error_);
    try {
        const Testing::CoverageSettings settings = coverageSettingsFromValue(settingsValue);
        const std::size_t columns = description_.size.x, rows = description_.size.y;
        const auto cellCentre = [&](std::size_t index, double& x, double& z) {
            x = (static_cast<double>(index % columns) - 0.5 * static_cast<double>(columns - 1)) * description_.cellSize;
            z = (static_cast<double>(index / columns) - 0.5 * static_cast<double>(rows - 1)) * description_.cellSize;
        };
        std::vector<LumetraMath::vector<float, 2>> changed;
        bool everything = !before.environment_ || !sameGeometry(before.description_, description_) ||
                          before.environment_->getMinMarkerDistance() != environment_->getMinMarkerDistance() ||
                          before.environment_->getMarkerEllipse() != environment_->getMarkerEllipse();
        if (!everything) {
            // Bars added, removed, moved or turned, and the bars of every feature that became or
            // ceased to be unique: frames that show none of their markers come out as before.
            const std::set<Bar> nowBars(description_.bars.begin(), description_.bars.end());
            const std::set<Bar> thenBars(before.description_.bars.begin(), before.description_.bars.end());
            const auto nowMarkers = environment_->getMarkers2D(), thenMarkers = before.environment_->getMarkers2D();
            markersOfBarsMissingFrom(description_, nowMarkers, thenBars, changed);
            markersOfBarsMissingFrom(before.description_, thenMarkers, nowBars, changed);
            const auto nowFeatures = features(), thenFeatures = before.features();
            std::set<Bar> featureBars;
            for (const auto& feature : nowFeatures)
                if (!thenFeatures.contains(feature)) featureBars.insert(feature.begin(), feature.end());
            for (const auto& feature : thenFeatures)
                if (!nowFeatures.contains(feature)) featureBars.insert(feature.begin(), feature.end());
            for (std::size_t i = 0; i < description_.bars.size(); ++i)
                if (featureBars.contains(description_.bars[i]))
                    changed.insert(changed.end(), nowMarkers.begin() + 3 * i, nowMarkers.begin() + 3 * i + 3);
        }
        // Markers are reprojected a little beyond what the camera sees while poses are fitted.
        const double margin = 2.0 * (description_.barLength + description_.cellSize);
        const double reachOfView = reach(settings, description_.cellSize) + margin;
        std::vector<std::pair<double, unsigned>> cells;
        for (std::size_t index = 0; index < columns * rows; ++index) {
            double x = 0, z = 0;
            cellCentre(index, x, z);
            double nearest = everything ? std::hypot(x, z) : std::numeric_limits<double>::infinity();
            for (const auto& point : changed) nearest = std::min(nearest, std::hypot(x - point.x, z - point.y));
            if (nearest <= reachOfView || everything) cells.emplace_back(nearest, static_cast<unsigned>(index));
        }
        std::stable_sort(cells.begin(), cells.end());
        std::vector<unsigned> order;
        order.reserve(cells.size());
        for (const auto& cell : cells) order.push_back(cell.second);
        val result = val::object();
        result.set("cells", array(order));
        result.set("everything", everything);
        return result;
    } catch (const std::exception& error) {
        return failure(error.what());
    }
}

val WebEnvironment::frame(const val& poseValue, const val& settingsValue) const {
    if (!environment_) return failure(error_);
    try {
        const Testing::CoverageSettings settings = coverageSettingsFromValue(settingsValue);
        Testing::TrackerPose pose;
        const auto get = [&](const char* name) {
            const val member = poseValue[name];
            if (!member.isNumber() || !std::isfinite(member.as<double>()))
                throw std::runtime_error(std::string("the pose's \"") + name + "\" is not a finite number");
            return member.as<double>();
        };
        pose.position = {get("x"), get("y"), get("z")};
        pose.yaw = get("yawDegrees") * std::numbers::pi / 180;
        pose.tiltAxis = {std::cos(pose.yaw), 0, -std::sin(pose.yaw)};
        pose.tilt = get("tiltDegrees") * std::numbers::pi / 180;
        Testing::FrameOptions options;
        options.ceiling = description_.ceiling;
        options.fieldOfViewHalfAngle = 0.5 * settings.camera.fieldOfViewDegrees * std::numbers::pi / 180;
        options.angularNoise = settings.camera.noiseDegrees * std::numbers::pi / 180;
        options.dropProbability = settings.camera.dropProbability;
        options.spuriousRays = settings.camera.spuriousRays;
        options.seed = settings.seed;
        const Testing::Frame frame = Testing::generateFrame(markers_, pose, options);
        std::vector<float> rays;
        for (const auto& ray : frame.rays) rays.insert(rays.end(), {ray.x, ray.y, ray.z});
        val result = val::object();
        result.set("rays", array(rays));
        result.set("markerNumbers", array(frame.markerNumbers));
        return result;
    } catch (const std::exception& error) {
        return failure(error.what());
    }
}

val WebEnvironment::identify(const val& raysValue) const {
    if (!environment_) return failure(error_);
    try {
        const std::vector<double> flat = numbers(raysValue, "rays");
        if (flat.size() % 3 != 0) throw std::runtime_error("rays come as x, y, z triples");
        std::vector<Testing::Vector3> rays;
        for (std::size_t i = 0; i < flat.size(); i += 3)
            rays.push_back({static_cast<float>(flat[i]), static_cast<float>(flat[i + 1]), static_cast<float>(flat[i + 2])});
        const Testing::PoseOutcome outcome = Testing::identify(*tracking_, rays);
        val result = val::object();
        result.set("found", outcome.found);
        result.set("markerIndices", array(outcome.markerIndices));
        const auto& p = outcome.pose;
        result.set("position", array(std::vector<float>{p.position.x, p.position.y, p.position.z}));
        result.set("rotation", array(std::vector<float>{p.rotation.x, p.rotation.y, p.rotation.z, p.rotation.w}));
        return result;
    } catch (const std::exception& error) {
        return failure(error.what());
    }
}

val design(const val& requestValue, const val& progress) {
    try {
        if (!isObject(requestValue)) throw std::runtime_error("the design request is not an object");
        Testing::DesignRequest request;
        request.geometry = descriptionFromValue(requestValue["geometry"]);
        request.coverage = coverageSettingsFromValue(requestValue["coverage"]);
        readNumber(requestValue, "roomWidth", request.roomWidth, 0.1, 1000);
        readNumber(requestValue, "roomDepth", request.roomDepth, 0.1, 1000);
        readNumber(requestValue, "margin", request.margin, 0, 100);
        readNumber(requestValue, "spacing", request.spacing, 0, 100);
        readNumber(requestValue, "target", request.target, 0, 1);
        readNumber(requestValue, "maxBars", request.maxBars, 0, 100000);
        readNumber(requestValue, "seed", request.seed, 0, 9007199254740991.0);
        request.threads = 1;
        const Testing::DesignResult result = Testing::designLayout(request, [&](std::size_t evaluations, double estimate) {
            if (progress.typeOf().as<std::string>() == "function") progress(evaluations, estimate);
        });
        val answer = val::object();
        answer.set("description", toValue(result.layout));
        answer.set("estimate", result.estimate);
        answer.set("evaluations", result.evaluations);
        return answer;
    } catch (const std::exception& error) {
        return failure(error.what());
    }
}

}  // namespace Lumetra::Web
