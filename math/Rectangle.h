#pragma once
// An inclusive rectangle of integer cells: lower corner and upper corner both belong to it.

#include "math/Vector.h"

namespace LumetraMath {

struct Rectangle {
    vector<int, 2> lower{};
    vector<int, 2> upper{};
};

static_assert(sizeof(Rectangle) == 16);

}  // namespace LumetraMath
