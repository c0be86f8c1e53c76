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
    std::string output;  ///< file of the picture (SVG, or PNG or PDF by its extension); standard output when empty
    double cellPixels = 48;
    bool noNumbers = false;
    bool coverage = false;
    std::string view = "above";
    std::optional<RoomSize> room;
    CoverageOptions coverageOptions;
    bool sheet = false;  ///< the installation sheet instead of the overview
    std::string paper = "A3";
    std::string scale = "1:50";
};

/// Writes the picture of the code `options.input` holds; returns the exit status.
int runRender(const RenderOptions& options);

}  // namespace Lumetra::Tools
