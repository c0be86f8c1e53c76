#include "tools/horizontal-grid/DescriptionJson.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/EnvironmentModel.h"

namespace Lumetra::Tools {

using Vesk::Environment::HorizontalGrid::Bar;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

double shortestDouble(float value) {
    std::array<char, 32> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    double shortest = 0;
    std::from_chars(text.data(), written.ptr, shortest);
    // Rounding the decimal twice (to double, then to float) could in principle land elsewhere.
    return static_cast<float>(shortest) == value ? shortest : static_cast<double>(value);
}

namespace {

Json pair(float x, float y) { return Json{{"x", shortestDouble(x)}, {"y", shortestDouble(y)}}; }

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
    throw std::runtime_error("field \"" + path + "\" " + problem);
}

/// Reads the fields of one JSON object, refusing unknown names.
class ObjectReader {
public:
    ObjectReader(const Json& json, std::string path) : json_(json), path_(std::move(path)) {
        if (!json_.is_object()) fail(path_.empty() ? "(top level)" : path_, "must be an object");
    }

    const Json* optional(const std::string& name) {
        known_.push_back(name);
        const auto found = json_.find(name);
        return found == json_.end() ? nullptr : &*found;
    }

    const Json& required(const std::string& name) {
        const Json* value = optional(name);
        if (value == nullptr) {
            // A misspelt field is reported as what it is, not as the field it was meant to be.
            for (const auto& [key, ignored] : json_.items())
                if (!isKnown(key) && closestName(key, {name}) == name)
                    fail(child(key), "is not a field of an environment description (did you mean \"" + name + "\"?)");
            fail(child(name), "is missing");
        }
        return *value;
    }

    std::string child(const std::string& name) const { return path_.empty() ? name : path_ + "." + name; }

    /// Fails on a field that was never asked for, unless it is listed in `ignored`.
    void rejectUnknown(std::initializer_list<const char*> ignored = {}) const {
        for (const auto& [name, value] : json_.items()) {
            if (isKnown(name)) continue;
            if (std::find(ignored.begin(), ignored.end(), name) != ignored.end()) continue;
            const std::string closest = closestName(name, known_);
            fail(child(name), "is not a field of an environment description" +
                                  (closest.empty() ? std::string() : " (did you mean \"" + closest + "\"?)"));
        }
    }

private:
    bool isKnown(const std::string& name) const { return std::find(known_.begin(), known_.end(), name) != known_.end(); }

    const Json& json_;
    std::string path_;
    std::vector<std::string> known_;
};

float readFloat(const Json& value, const std::string& path) {
    if (!value.is_number()) fail(path, "must be a number");
    const double number = value.get<double>();
    // Beyond the float range the conversion is undefined: such a value becomes an infinity, which
    // validation refuses like any other value that is not finite.
    if (std::abs(number) > static_cast<double>(std::numeric_limits<float>::max()))
        return number > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(number);
}

bool readBool(const Json& value, const std::string& path) {
    if (!value.is_boolean()) fail(path, "must be true or false");
    return value.get<bool>();
}

std::int64_t readInteger(const Json& value, const std::string& path, std::int64_t low, std::int64_t high) {
    bool inRange = false;
    std::int64_t number = 0;
    if (value.is_number_unsigned()) {
        const auto unsignedNumber = value.get<std::uint64_t>();
        inRange = unsignedNumber <= static_cast<std::uint64_t>(high);
        number = inRange ? static_cast<std::int64_t>(unsignedNumber) : 0;
    } else if (value.is_number_integer()) {
        number = value.get<std::int64_t>();
        inRange = true;
    } else {
        fail(path, "must be a whole number");
    }
    if (!inRange || number < low || number > high)
        fail(path, "must lie between " + std::to_string(low) + " and " + std::to_string(high));
    return number;
}

Bar readBar(const Json& json, const std::string& path) {
    ObjectReader reader(json, path);
    constexpr std::int64_t intMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t intMax = std::numeric_limits<std::int32_t>::max();
    Bar bar;
    bar._position.x = static_cast<int>(readInteger(reader.required("x"), reader.child("x"), intMin, intMax));
    bar._position.y = static_cast<int>(readInteger(reader.required("y"), reader.child("y"), intMin, intMax));
    const Json* degrees = reader.optional("rotationDegrees");
    // Descriptions written before rotations were given in degrees hold quarter turns.
    const Json* quarterTurns = reader.optional("rotation");
    const Json* properties = reader.optional("properties");
    if (degrees != nullptr && quarterTurns != nullptr)
        fail(reader.child("rotation"), "(quarter turns) may not stand beside \"rotationDegrees\"");
    if (degrees == nullptr && quarterTurns == nullptr && properties == nullptr)
        (void)reader.required("rotationDegrees");
    if (properties != nullptr)
        bar._properties = static_cast<std::uint8_t>(readInteger(*properties, reader.child("properties"), 0, 255));
    std::optional<std::uint8_t> turns;
    if (quarterTurns != nullptr)
        turns = static_cast<std::uint8_t>(readInteger(*quarterTurns, reader.child("rotation"), 0, 3));
    if (degrees != nullptr) {
        const std::int64_t value = readInteger(*degrees, reader.child("rotationDegrees"), 0, 270);
        if (value % 90 != 0) fail(reader.child("rotationDegrees"), "must be 0, 90, 180 or 270");
        turns = static_cast<std::uint8_t>(value / 90);
    }
    if (turns) {
        if (properties != nullptr && bar.rotation() != *turns)
            fail(reader.child(degrees != nullptr ? "rotationDegrees" : "rotation"),
                 "disagrees with the low two bits of \"properties\"");
        bar._properties = static_cast<std::uint8_t>((bar._properties & ~3u) | *turns);
    }
    reader.rejectUnknown();
    return bar;
}

}  // namespace

Json descriptionToJson(const EnvironmentDescription& d) {
    Json bars = Json::array();
    for (const Bar& bar : d.bars) {
        Json entry{{"x", bar._position.x}, {"y", bar._position.y}, {"rotationDegrees", rotationDegrees(bar.rotation())}};
        if ((bar._properties & ~3u) != 0) entry["properties"] = bar._properties;
        bars.push_back(std::move(entry));
    }
    return Json{
        {"schemeName", d.schemeName},
        {"size", Json{{"x", d.size.x}, {"y", d.size.y}}},
        {"barLength", shortestDouble(d.barLength)},
        {"barProportion", shortestDouble(d.barProportion)},
        {"barSlope", shortestDouble(d.barSlope)},
        {"barOffset", pair(d.barOffset.x, d.barOffset.y)},
        {"ceiling", d.ceiling},
        {"height", shortestDouble(d.height)},
        {"cellSize", shortestDouble(d.cellSize)},
        {"connectors", d.connectors},
        {"bars", std::move(bars)},
    };
}

EnvironmentDescription descriptionFromJson(const Json& json) {
    ObjectReader reader(json, "");
    EnvironmentDescription d;

    const Json& schemeName = reader.required("schemeName");
    if (!schemeName.is_string()) fail("schemeName", "must be a string");
    d.schemeName = schemeName.get<std::string>();

    ObjectReader size(reader.required("size"), "size");
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    d.size.x = static_cast<unsigned long>(readInteger(size.required("x"), "size.x", 0, largest));
    d.size.y = static_cast<unsigned long>(readInteger(size.required("y"), "size.y", 0, largest));
    size.rejectUnknown();

    d.barLength = readFloat(reader.required("barLength"), "barLength");
    d.barProportion = readFloat(reader.required("barProportion"), "barProportion");
    d.barSlope = readFloat(reader.required("barSlope"), "barSlope");
    ObjectReader offset(reader.required("barOffset"), "barOffset");
    d.barOffset = {readFloat(offset.required("x"), "barOffset.x"), readFloat(offset.required("y"), "barOffset.y")};
    offset.rejectUnknown();
    d.ceiling = readBool(reader.required("ceiling"), "ceiling");
    d.height = readFloat(reader.required("height"), "height");
    d.cellSize = readFloat(reader.required("cellSize"), "cellSize");
    if (const Json* connectors = reader.optional("connectors")) d.connectors = readBool(*connectors, "connectors");

    const Json& bars = reader.required("bars");
    if (!bars.is_array()) fail("bars", "must be an array");
    d.bars.reserve(bars.size());
    for (std::size_t i = 0; i < bars.size(); ++i) d.bars.push_back(readBar(bars[i], "bars[" + std::to_string(i) + "]"));

    reader.rejectUnknown({"version", "room", "markers", "catalogue"});
    return d;
}

}  // namespace Lumetra::Tools
