#include "serialization/String.h"

#include "serialization/UVarint.h"

namespace LumetraSerialization {

String::Value String::read(Cursor& cursor) {
    const std::uint64_t length = UVarint::read(cursor);
    // take() checks the announced length against the remaining bytes before anything is copied.
    const auto count = static_cast<std::size_t>(length);
    const auto* bytes = cursor.take(count, "String");
    return Value(reinterpret_cast<const char*>(bytes), count);
}

}  // namespace LumetraSerialization
