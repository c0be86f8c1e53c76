#pragma once
// Unpacking of host arguments and packing of results: in-arrays are copied into library
// containers, out-arrays go through the host's allocator, booleans become LongBools. Every
// check throws an Exception with InvalidPointer before anything is written.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "interface/Exception.h"

namespace Lumetra::InterfaceContract {

constexpr LongBool toLongBool(bool value) { return value ? LongBool::True : LongBool::False; }

/// Rejects a null pointer the host passed for `what`.
template <class T>
void requirePointer(const T* pointer, const char* what) {
    if (pointer == nullptr) throw Exception(ExceptionCode::InvalidPointer, std::string(what) + " is null");
}

inline void requireAllocator(const ArrayOutMarshaler::Intermediate& out) {
    if (out.allocate == nullptr) throw Exception(ExceptionCode::InvalidPointer, "allocate function is null");
}

namespace Details {
inline void requireInArrayData(const ArrayInMarshaler::Intermediate& in) {
    if (in.data == nullptr && in.size != 0)
        throw Exception(ExceptionCode::InvalidPointer, "array data is null but its size is not zero");
}
}  // namespace Details

/// Copies the host's elements; the host's pointer is not kept.
template <class T>
std::vector<T> copyInArray(const ArrayInMarshaler::Intermediate& in) {
    static_assert(std::is_trivially_copyable_v<T>);
    Details::requireInArrayData(in);
    std::vector<T> elements(in.size);
    if (in.size != 0) std::memcpy(elements.data(), in.data, std::size_t{in.size} * sizeof(T));
    return elements;
}

/// Copies the host's bytes of text; no terminating zero is expected.
inline std::string copyInText(const ArrayInMarshaler::Intermediate& in) {
    Details::requireInArrayData(in);
    return in.size == 0 ? std::string() : std::string(static_cast<const char*>(in.data), in.size);
}

/// The element count an out-array reports, checked before any result is written.
inline std::uint32_t outArrayCount(std::size_t count) {
    if (count > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("result has more elements than the interface can deliver");
    return static_cast<std::uint32_t>(count);
}

/// Calls the host's allocator exactly once and copies `count` elements into the memory it
/// returns; a null return declines the data. `count` comes from outArrayCount, `out` has passed
/// requireAllocator.
template <class T>
void deliverOutArray(const ArrayOutMarshaler::Intermediate& out, const T* elements, std::uint32_t count) noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    void* const memory = out.allocate(out.context, count);
    if (memory != nullptr && count != 0) std::memcpy(memory, elements, std::size_t{count} * sizeof(T));
}

/// The whole out-array protocol for a finished result.
template <class T>
void deliverOutArray(const ArrayOutMarshaler::Intermediate& out, const std::vector<T>& elements) {
    requireAllocator(out);
    deliverOutArray(out, elements.data(), outArrayCount(elements.size()));
}

}  // namespace Lumetra::InterfaceContract
