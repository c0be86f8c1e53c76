#pragma once
// A sequential colour scale that stays readable for colour-blind readers and in grey: dark
// violet through blue and green to yellow, lightness rising evenly with the value.

#include <string>

namespace Lumetra::Tools {

/// "#rrggbb" of `value` in 0..1 (clamped).
std::string sequentialColour(double value);

}  // namespace Lumetra::Tools
