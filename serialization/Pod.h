#pragma once
// A plain value stored as its little-endian in-memory bytes, without alignment.

#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "serialization/Cursor.h"

namespace LumetraSerialization {

static_assert(std::endian::native == std::endian::little, "Pod copies little-endian bytes as they are");

template <typename T>
struct Pod {
    static_assert(std::is_arithmetic_v<T>, "Pod holds plain numbers");
    using Value = T;
    static constexpr std::size_t minimumSize = sizeof(T);

    static Value read(Cursor& cursor) {
        Value value;
        std::memcpy(&value, cursor.take(sizeof(T), "Pod value"), sizeof(T));
        return value;
    }
};

/// Writers store 0 or 1; any other byte reads as true rather than as an invalid bool object.
template <>
struct Pod<bool> {
    using Value = bool;
    static constexpr std::size_t minimumSize = 1;

    static Value read(Cursor& cursor) { return cursor.takeByte("Pod bool") != 0; }
};

}  // namespace LumetraSerialization
