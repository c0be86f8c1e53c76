#pragma once
// A record that starts with its UVarint version number. The current version is read directly;
// an older one goes to the converter, which reads it as the previous version (directly or through
// its own converter) and upgrades the result. The chain ends in NoVersionConverter, so every
// version from the oldest to the current is accepted and every other number is refused.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

#include "serialization/Cursor.h"
#include "serialization/Error.h"
#include "serialization/UVarint.h"

namespace LumetraSerialization {

/// A converter provides `static Target convertFromPreviousVersion(version, cursor)`: given the
/// stored version number (already read) and the cursor after it, it reads the older record and
/// returns it converted to its own target version.
template <typename Converter, typename Target>
concept VersionConverter = requires(std::uint64_t version, Cursor& cursor) {
    { Converter::convertFromPreviousVersion(version, cursor) } -> std::same_as<Target>;
};

/// The bottom of a converter chain: no older version exists.
template <typename Target>
struct NoVersionConverter {
    static Target convertFromPreviousVersion(std::uint64_t, Cursor&) {
        throwError("need VersionConverter implementation");
    }
};

template <std::uint64_t CurrentVersion, Reader Current, typename Converter>
    requires VersionConverter<Converter, typename Current::Value>
struct Versioned {
    using Value = typename Current::Value;
    static constexpr std::uint64_t version = CurrentVersion;
    static constexpr std::size_t minimumSize = 1;

    static Value read(Cursor& cursor) { return readVersion(UVarint::read(cursor), cursor); }

    /// Reads the record after its version number `storedVersion`.
    static Value readVersion(std::uint64_t storedVersion, Cursor& cursor) {
        if (storedVersion == CurrentVersion) return Current::read(cursor);
        return Converter::convertFromPreviousVersion(storedVersion, cursor);
    }

    /// The current structure, whatever version is stored at `position`.
    static Value deserialize(Cursor position) { return read(position); }

    /// The current structure from whole decoded data; empty data fails with "buf != nullptr".
    static Value deserialize(std::span<const std::uint8_t> bytes) { return deserialize(Cursor(bytes)); }
};

}  // namespace LumetraSerialization
