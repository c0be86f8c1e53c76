#pragma once
// render's options and run, for the commands that draw a picture of their own (demo).

#include <optional>
#include <string>

#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/Room.h"

namespace Lumetra::Tools {

struct RenderOptions {
    InputSource input;
    std::string output;  ///< file of the SVG; standard output when empty
    double cellPixels = 48;
    bool noNumbers = false;
    bool coverage = false;
    std::string view = "above";
    std::optional<RoomSize> room;
    CoverageOptions coverageOptions;
};

/// Writes the SVG of the code `options.input` holds; returns the exit status.
int runRender(const RenderOptions& options);

}  // namespace Lumetra::Tools
