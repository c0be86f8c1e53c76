#include "serialization/Cursor.h"

#include <string>

#include "serialization/Error.h"

namespace LumetraSerialization {

namespace {
std::string byteCount(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}
}  // namespace

Cursor::Cursor(const std::uint8_t* position, const std::uint8_t* end) : _position(position), _end(end) {
    if (position == nullptr) throwConditionFailed("buf != nullptr");
    if (end < position) throwConditionFailed("position <= end");
}

Cursor::Cursor(std::span<const std::uint8_t> bytes)
    : Cursor(bytes.empty() ? nullptr : bytes.data(), bytes.data() + bytes.size()) {}

const std::uint8_t* Cursor::take(std::size_t count, std::string_view what) {
    if (count > remaining()) {
        throwConditionFailed("record truncated: " + std::string(what) + " needs " + byteCount(count) + ", " +
                             byteCount(remaining()) + " left");
    }
    const std::uint8_t* taken = _position;
    _position += count;
    return taken;
}

void Cursor::requireRoomFor(std::uint64_t count, std::size_t minimumItemSize, std::string_view what) const {
    // Divide rather than multiply so that a huge count cannot overflow the test.
    if (count <= remaining() / minimumItemSize) return;
    std::string message = std::string(what) + " " + std::to_string(count) + " exceeds the " +
                          byteCount(remaining()) + " that remain";
    if (minimumItemSize > 1) message += " (each element takes at least " + byteCount(minimumItemSize) + ")";
    throwConditionFailed(message);
}

}  // namespace LumetraSerialization
