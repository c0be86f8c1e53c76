#pragma once
// The JSON form of an environment description: the fields of a version 2 code under their names
// in the code, with bars as {"x", "y", "rotationDegrees"} (cell column and row; "properties" too
// when its upper bits are set). Quarter turns under the former name "rotation" are still read.
// Floats are written in their shortest form that reads back to the same float.

#include <nlohmann/json.hpp>

#include "environment/EnvironmentRecord.h"

namespace Lumetra::Tools {

using Json = nlohmann::ordered_json;

/// The shortest decimal that reads back as `value`, as a double.
double shortestDouble(float value);

Json descriptionToJson(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description);

/// The description held by `json`. Fields that describe writes besides the code's own ("version",
/// "room", "markers", "catalogue") are ignored; "connectors" may be left out (false). Throws
/// std::runtime_error naming the field for a missing, unknown or mistyped field. The result is not
/// validated: see validateEnvironmentDescription.
Vesk::Environment::HorizontalGrid::EnvironmentDescription descriptionFromJson(const Json& json);

}  // namespace Lumetra::Tools
