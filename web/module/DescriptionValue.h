#pragma once
// Environment descriptions to and from JavaScript objects shaped like `describe --json`'s:
// { schemeName, size: {x, y}, barLength, barProportion, barSlope, barOffset: {x, y}, ceiling,
//   height, cellSize, connectors, bars: [{x, y, properties}] }.

#include <emscripten/val.h>

#include "environment/EnvironmentRecord.h"

namespace Lumetra::Web {

using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

/// A JavaScript object (not null, not a number, text or boolean).
bool isObject(const emscripten::val& value);

emscripten::val toValue(const EnvironmentDescription& description);

/// Throws std::runtime_error naming the first missing or mistyped field.
EnvironmentDescription descriptionFromValue(const emscripten::val& value);

}  // namespace Lumetra::Web
