#pragma once
// The warning describe and generate give for a layout that repeats itself.

#include "tools/horizontal-grid/EnvironmentModel.h"

namespace Lumetra::Tools {

/// Prints to standard error, for a layout that a shift or turn of the grid carries largely onto
/// itself, which motions do so; identify refuses the views such a motion explains twice.
void warnIfLayoutRepeats(const Environment& environment);

}  // namespace Lumetra::Tools
