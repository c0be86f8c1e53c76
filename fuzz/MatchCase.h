#pragma once
// How the match fuzz target reads its input, and the environments it matches against. The input
// picks an environment and an operation, then supplies vectors in one of several value encodings,
// so that both exact float patterns and plausible small directions are easy for the engine to
// reach:
//   byte 0   environment (modulo the number of environments)
//   byte 1   bit 0: 0 match, 1 matchByPosition; bits 1-2: value encoding (ValueEncoding)
//   rest     for matchByPosition the position first, then the rays, three values each; an
//            incomplete last vector is dropped.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "math/Vector.h"

namespace LumetraFuzz {

/// Grids of several sizes and mountings, floor and ceiling, codes of version 0 and 2.
std::span<const std::string_view> matchEnvironmentCodes();

enum class MatchOperation : std::uint8_t { match = 0, matchByPosition = 1 };

enum class ValueEncoding : std::uint8_t {
    rawFloat = 0,          ///< four bytes, little-endian IEEE-754
    fixedPoint = 1,        ///< two bytes, a signed 16-bit integer / 1024: directions of moderate size
    specialValue = 2,      ///< one byte, an entry of a table of zeros, infinities, NaNs, extremes, ...
    repeatedRawFloat = 3,  ///< as rawFloat, each ray given twice in a row
};

struct MatchCase {
    std::size_t environment = 0;
    MatchOperation operation = MatchOperation::match;
    LumetraMath::vector<float, 3> position{};
    std::vector<LumetraMath::vector<float, 3>> rays;
};

MatchCase readMatchCase(std::span<const std::uint8_t> input, std::size_t environmentCount);

/// The input that reads back as `matchCase`, in the rawFloat encoding (for seed inputs).
std::vector<std::uint8_t> writeMatchCase(const MatchCase& matchCase);

}  // namespace LumetraFuzz
