#pragma once
// A sequence: its UVarint element count, then the elements back to back.

#include <cstddef>
#include <vector>

#include "serialization/Cursor.h"
#include "serialization/UVarint.h"

namespace LumetraSerialization {

template <Reader Element>
struct Vector {
    static_assert(Element::minimumSize > 0, "an element must take at least one byte to bound the count");
    using Value = std::vector<typename Element::Value>;
    static constexpr std::size_t minimumSize = 1;

    static Value read(Cursor& cursor) {
        const std::uint64_t count = UVarint::read(cursor);
        // The count comes from outside: check it against the data before reserving room for it.
        cursor.requireRoomFor(count, Element::minimumSize, "Vector count");
        Value elements;
        elements.reserve(static_cast<std::size_t>(count));
        for (std::uint64_t i = 0; i < count; ++i) elements.push_back(Element::read(cursor));
        return elements;
    }
};

}  // namespace LumetraSerialization
