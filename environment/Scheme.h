#pragma once
// Named, predefined bar and grid parameters. Older environment codes name a scheme instead of
// carrying every value; their conversion to the newest format takes the missing values from here.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

struct Scheme {
    /// A 32-bit attribute value; carried with the scheme, read by no operation of this library.
    struct CellAttributes {
        std::uint32_t value = 0;
        friend bool operator==(const CellAttributes&, const CellAttributes&) = default;
    };

    /// One bit mask per cell of a 7 x 7 window, row after row; [3][3] is the window's centre.
    using CellMasks = std::array<std::array<std::int32_t, 7>, 7>;

    std::string name;
    float barLength = 0;
    float barSlope = 0;
    float barProportion = 0;
    float cellSize = 0;
    bool connectors = false;
    bool ceiling = false;
    LumetraMath::vector<float, 2> barOffset{};
    CellMasks cellMasks{};
    std::vector<CellAttributes> cellAttributes;

    friend bool operator==(const Scheme&, const Scheme&) = default;

    /// A fresh table of all schemes: "yellow", "ceiling", "truss", in this order.
    static std::vector<Scheme> getSchemes();

    /// The first scheme whose name has exactly the bytes of `name` (case-sensitive, no trimming).
    static std::optional<Scheme> findByName(std::string_view name);

    /// As findByName, but a missing name throws std::runtime_error "non-existent scheme name: <name>".
    static Scheme getByName(std::string_view name);
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
