#pragma once
// Orders vectors lexicographically: the first differing element decides, by T's operator<, and a
// vector that is a prefix of another comes first.

#include <algorithm>
#include <vector>

namespace Lumetra::Container {

template <typename T>
struct VectorAlphanumericComparer {
    bool operator()(const std::vector<T>& a, const std::vector<T>& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    }
};

}  // namespace Lumetra::Container
