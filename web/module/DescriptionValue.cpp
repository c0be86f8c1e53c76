#include "web/module/DescriptionValue.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace Lumetra::Web {

using emscripten::val;

namespace {

val pair(double x, double y) {
    val result = val::object();
    result.set("x", x);
    result.set("y", y);
    return result;
}

val field(const val& object, const char* name) {
    val member = object[name];
    if (member.isUndefined() || member.isNull()) throw std::runtime_error(std::string("missing \"") + name + "\"");
    return member;
}

double number(const val& object, const char* name) {
    const val member = field(object, name);
    if (!member.isNumber()) throw std::runtime_error(std::string("\"") + name + "\" is not a number");
    return member.as<double>();
}

float floatField(const val& object, const char* name) { return static_cast<float>(number(object, name)); }

/// An integer in [low, high].
long long integer(const val& object, const char* name, long long low, long long high) {
    const double value = number(object, name);
    if (!(value >= static_cast<double>(low) && value <= static_cast<double>(high)) || std::floor(value) != value)
        throw std::runtime_error(std::string("\"") + name + "\" is not a whole number from " + std::to_string(low) +
                                 " to " + std::to_string(high));
    return static_cast<long long>(value);
}

bool flag(const val& object, const char* name) {
    const val member = object[name];
    if (member.isUndefined()) return false;
    if (!member.isTrue() && !member.isFalse()) throw std::runtime_error(std::string("\"") + name + "\" is not true or false");
    return member.isTrue();
}

}  // namespace

bool isObject(const val& value) { return !value.isNull() && value.typeOf().as<std::string>() == "object"; }

val toValue(const EnvironmentDescription& d) {
    val bars = val::array();
    for (const auto& bar : d.bars) {
        val entry = val::object();
        entry.set("x", bar._position.x);
        entry.set("y", bar._position.y);
        entry.set("properties", static_cast<unsigned>(bar._properties));
        bars.call<void>("push", entry);
    }
    val result = val::object();
    result.set("schemeName", d.schemeName);
    result.set("size", pair(static_cast<double>(d.size.x), static_cast<double>(d.size.y)));
    result.set("barLength", d.barLength);
    result.set("barProportion", d.barProportion);
    result.set("barSlope", d.barSlope);
    result.set("barOffset", pair(d.barOffset.x, d.barOffset.y));
    result.set("ceiling", d.ceiling);
    result.set("height", d.height);
    result.set("cellSize", d.cellSize);
    result.set("connectors", d.connectors);
    result.set("bars", bars);
    return result;
}

EnvironmentDescription descriptionFromValue(const val& value) {
    if (!isObject(value)) throw std::runtime_error("the description is not an object");
    EnvironmentDescription d;
    const val scheme = field(value, "schemeName");
    if (!scheme.isString()) throw std::runtime_error("\"schemeName\" is not text");
    d.schemeName = scheme.as<std::string>();
    const val size = field(value, "size");
    d.size = {static_cast<unsigned long>(integer(size, "x", 0, 4096)),
              static_cast<unsigned long>(integer(size, "y", 0, 4096))};
    d.barLength = floatField(value, "barLength");
    d.barProportion = floatField(value, "barProportion");
    d.barSlope = floatField(value, "barSlope");
    const val offset = field(value, "barOffset");
    d.barOffset = {floatField(offset, "x"), floatField(offset, "y")};
    d.ceiling = flag(value, "ceiling");
    d.height = floatField(value, "height");
    d.cellSize = floatField(value, "cellSize");
    d.connectors = flag(value, "connectors");
    const val bars = field(value, "bars");
    if (!bars.isArray()) throw std::runtime_error("\"bars\" is not a list");
    const auto count = bars["length"].as<unsigned>();
    d.bars.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        const val bar = bars[i];
        if (!isObject(bar)) throw std::runtime_error("bar " + std::to_string(i) + " is not an object");
        Vesk::Environment::HorizontalGrid::Bar entry;
        entry._position = {static_cast<int>(integer(bar, "x", 0, 4095)), static_cast<int>(integer(bar, "y", 0, 4095))};
        entry._properties = static_cast<std::uint8_t>(integer(bar, "properties", 0, 255));
        d.bars.push_back(entry);
    }
    return d;
}

}  // namespace Lumetra::Web
