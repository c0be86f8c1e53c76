#include "environment/Scheme.h"

#include <bit>
#include <stdexcept>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

/// Scheme values are defined by their single-precision bit patterns.
constexpr float floatBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

constexpr float CellSize = floatBits(0x3F19999A);   // 0.6
constexpr float HalfCell = floatBits(0x3E99999A);   // 0.3
constexpr float TwoFifths = floatBits(0x3ECCCCCD);  // 0.4

/// A window whose rows 0 and 6 are empty.
constexpr Scheme::CellMasks masks(std::array<std::int32_t, 7> row1, std::array<std::int32_t, 7> row2,
                                  std::array<std::int32_t, 7> row3, std::array<std::int32_t, 7> row4,
                                  std::array<std::int32_t, 7> row5) {
    return {{{}, row1, row2, row3, row4, row5, {}}};
}

std::vector<Scheme::CellAttributes> attributes(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return {{a}, {b}, {c}};
}

}  // namespace

std::vector<Scheme> Scheme::getSchemes() {
    std::vector<Scheme> schemes;
    schemes.reserve(3);
    schemes.push_back({
        .name = "yellow",
        .barLength = floatBits(0x3F8953B8),      // 1.07286739
        .barSlope = floatBits(0xBD638EAF),       // -0.0555559956
        .barProportion = floatBits(0x3EA046DC),  // 0.313040614
        .cellSize = CellSize,
        .connectors = true,
        .ceiling = false,
        .barOffset = {HalfCell, 0.0f},
        .cellMasks = masks({0, 0, 0, 8, 8, 0, 0}, {0, 0, 8, 10, 10, 8, 0}, {0, 1, 47, 31, 31, 47, 4},
                           {0, 0, 2, 10, 10, 2, 0}, {0, 0, 0, 2, 2, 0, 0}),
        .cellAttributes = attributes(10, 8, 0),
    });
    schemes.push_back({
        .name = "ceiling",
        .barLength = floatBits(0x3F5F0508),  // 0.871170521
        .barSlope = floatBits(0xBDCE8E26),   // -0.100857064
        .barProportion = TwoFifths,
        .cellSize = CellSize,
        .connectors = false,
        .ceiling = true,
        .barOffset = {HalfCell, 0.0f},
        .cellMasks = masks({0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 8, 8, 0, 0}, {0, 0, 1, 31, 31, 4, 0},
                           {0, 0, 0, 2, 2, 0, 0}, {0, 0, 0, 0, 0, 0, 0}),
        .cellAttributes = attributes(8, 0, 0),
    });
    schemes.push_back({
        .name = "truss",
        .barLength = floatBits(0x3FA33333),  // 1.275
        .barSlope = floatBits(0x3D8EFA35),   // 4 degrees
        .barProportion = TwoFifths,
        .cellSize = CellSize,
        .connectors = false,
        .ceiling = true,
        .barOffset = {0.0f, 0.0f},
        .cellMasks = masks({0, 0, 0, 0, 0, 0, 0}, {0, 0, 10, 10, 10, 0, 0}, {0, 5, 31, 31, 31, 5, 0},
                           {0, 0, 10, 10, 10, 0, 0}, {0, 0, 0, 0, 0, 0, 0}),
        .cellAttributes = attributes(10, 0, 0),
    });
    return schemes;
}

std::optional<Scheme> Scheme::findByName(std::string_view name) {
    for (Scheme& scheme : getSchemes())
        if (scheme.name == name) return std::move(scheme);
    return std::nullopt;
}

Scheme Scheme::getByName(std::string_view name) {
    std::optional<Scheme> scheme = findByName(name);
    if (!scheme) throw std::runtime_error("non-existent scheme name: " + std::string(name));
    return std::move(*scheme);
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
