#pragma once
// Unsigned 64-bit integer in base-128 groups, least significant group first; a set top bit
// announces another byte.

#include <cstddef>
#include <cstdint>

#include "serialization/Cursor.h"

namespace LumetraSerialization {

struct UVarint {
    using Value = std::uint64_t;
    static constexpr std::size_t minimumSize = 1;
    /// 64 value bits need ten groups of seven; the tenth may only carry bit 63.
    static constexpr std::size_t maximumSize = 10;

    /// Fails if the bytes end before the last group, if more than ten bytes are used, or if the
    /// value does not fit 64 bits.
    static Value read(Cursor& cursor);

    /// Stores the value read at `position` and returns the number of bytes it occupied.
    static std::size_t deserialize(Value& value, Cursor position);
};

}  // namespace LumetraSerialization
