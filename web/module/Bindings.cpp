// The JavaScript face of the module (embind): environments from codes or descriptions, their
// figures, coverage and identification, and the bar geometries a new room starts from.

#include <emscripten/bind.h>

#include "simulation/MatchScenarios.h"
#include "web/module/DescriptionValue.h"
#include "web/module/WebEnvironment.h"

namespace {

using emscripten::val;

/// Every geometry of `generate --geometry`: { name, description (without size and bars),
/// minDistance, maxDistance, minSpacing }.
val geometries() {
    val result = val::array();
    for (const auto& geometry : Lumetra::Testing::matchGeometries()) {
        val entry = val::object();
        entry.set("name", geometry.name);
        entry.set("description", Lumetra::Web::toValue(geometry.geometry));
        entry.set("minDistance", geometry.minDistance);
        entry.set("maxDistance", geometry.maxDistance);
        entry.set("minSpacing", geometry.minSpacing);
        result.call<void>("push", entry);
    }
    return result;
}

/// The description of a code without building its environment: { description } or { error }.
val decode(const std::string& code) {
    val result = val::object();
    try {
        result.set("description", Lumetra::Web::toValue(Lumetra::Vesk::Environment::HorizontalGrid::decodeEnvironmentCode(code)));
    } catch (const std::exception& error) {
        result.set("error", std::string("invalid environment code: ") + error.what());
    }
    return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(lumetra) {
    using Lumetra::Web::WebEnvironment;
    emscripten::function("geometries", &geometries);
    emscripten::function("design", &Lumetra::Web::design);
    emscripten::function("decode", &decode);
    emscripten::class_<WebEnvironment>("WebEnvironment")
        .class_function("fromCode", &WebEnvironment::fromCode, emscripten::allow_raw_pointers())
        .class_function("fromDescription", &WebEnvironment::fromDescription, emscripten::allow_raw_pointers())
        .function("error", &WebEnvironment::error)
        .function("description", &WebEnvironment::description)
        .function("code", &WebEnvironment::code)
        .function("markers", &WebEnvironment::markers)
        .function("catalogue", &WebEnvironment::catalogue)
        .function("warnings", &WebEnvironment::warnings)
        .function("coverage", &WebEnvironment::coverage)
        .function("affectedCells", &WebEnvironment::affectedCells)
        .function("frame", &WebEnvironment::frame)
        .function("identify", &WebEnvironment::identify);
}
