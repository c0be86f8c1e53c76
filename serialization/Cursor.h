#pragma once
// A bounded read position over decoded bytes. Every reader takes one and asks it for bytes,
// so no reader can look past the end of the data or make room for more than the data can hold.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace LumetraSerialization {

class Cursor {
public:
    /// Covers [position, end). A null position means there is no data, which fails at once.
    Cursor(const std::uint8_t* position, const std::uint8_t* end);

    /// Covers all of `bytes`; empty bytes count as no data.
    explicit Cursor(std::span<const std::uint8_t> bytes);

    const std::uint8_t* position() const { return _position; }
    std::size_t remaining() const { return static_cast<std::size_t>(_end - _position); }

    /// Returns the next `count` bytes and moves past them; fails if fewer remain.
    /// `what` names the value being read, for the message.
    const std::uint8_t* take(std::size_t count, std::string_view what);

    std::uint8_t takeByte(std::string_view what) { return *take(1, what); }

    /// Fails unless `count` items of at least `minimumItemSize` bytes each fit into the remaining
    /// bytes. Called before any room is made for announced items.
    void requireRoomFor(std::uint64_t count, std::size_t minimumItemSize, std::string_view what) const;

private:
    const std::uint8_t* _position;
    const std::uint8_t* _end;
};

/// A reader decodes one value from a cursor, moving the cursor past its bytes. `minimumSize` is
/// the fewest bytes any encoding of the value takes; it bounds announced element counts.
template <typename R>
concept Reader = requires(Cursor& cursor) {
    typename R::Value;
    { R::read(cursor) } -> std::same_as<typename R::Value>;
    { R::minimumSize } -> std::convertible_to<std::size_t>;
};

}  // namespace LumetraSerialization
