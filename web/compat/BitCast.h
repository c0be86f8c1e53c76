#pragma once
// Emscripten 3.1.6 ships a libc++ without std::bit_cast; the web build includes this header
// before every source so that the library's code compiles unchanged.

#include <bit>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From), "bit_cast between types of different sizes");
    return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
