#include "serialization/UVarint.h"

#include "serialization/Error.h"

namespace LumetraSerialization {

UVarint::Value UVarint::read(Cursor& cursor) {
    Value value = 0;
    for (std::size_t index = 0; index < maximumSize; ++index) {
        const std::uint8_t byte = cursor.takeByte("UVarint");
        const Value group = byte & 0x7Fu;
        // The tenth group lands on bit 63: only its lowest bit still fits.
        if (index == maximumSize - 1 && group > 1) throwConditionFailed("UVarint overflows 64 bits");
        value |= group << (7 * index);
        if ((byte & 0x80u) == 0) return value;
    }
    throwConditionFailed("UVarint longer than 10 bytes");
}

std::size_t UVarint::deserialize(Value& value, Cursor position) {
    const std::uint8_t* first = position.position();
    value = read(position);
    return static_cast<std::size_t>(position.position() - first);
}

}  // namespace LumetraSerialization
