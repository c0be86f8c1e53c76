#include "tools/horizontal-grid/ColourScale.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <fmt/core.h>

namespace Lumetra::Tools {

std::string sequentialColour(double value) {
    // Evenly spaced stops of a perceptually uniform scale; linear blending between them.
    static constexpr std::array<std::array<int, 3>, 9> stops{{{0x44, 0x01, 0x54},
                                                              {0x47, 0x2d, 0x7b},
                                                              {0x3b, 0x52, 0x8b},
                                                              {0x2c, 0x72, 0x8e},
                                                              {0x21, 0x91, 0x8c},
                                                              {0x28, 0xae, 0x80},
                                                              {0x5e, 0xc9, 0x62},
                                                              {0xad, 0xdc, 0x30},
                                                              {0xfd, 0xe7, 0x25}}};
    const double position = (std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0) * (stops.size() - 1);
    const auto low = std::min(static_cast<std::size_t>(position), stops.size() - 2);
    const double t = position - static_cast<double>(low);
    std::array<int, 3> rgb{};
    for (std::size_t c = 0; c < 3; ++c)
        rgb[c] = static_cast<int>(std::lround(stops[low][c] + t * (stops[low + 1][c] - stops[low][c])));
    return fmt::format("#{:02x}{:02x}{:02x}", rgb[0], rgb[1], rgb[2]);
}

}  // namespace Lumetra::Tools
