#pragma once
// A byte string: its UVarint length, then that many bytes, no terminator.

#include <cstddef>
#include <string>

#include "serialization/Cursor.h"

namespace LumetraSerialization {

struct String {
    using Value = std::string;
    static constexpr std::size_t minimumSize = 1;

    static Value read(Cursor& cursor);
};

}  // namespace LumetraSerialization
