#pragma once
// The environment code: a base64 text of a versioned record (current version 2). Versions 0 and 1
// are upgraded on reading, taking the values they lack from the scheme table. This header holds
// the record layouts, their converters and the decoding entry point with its validation.

#include <cstdint>
#include <string>
#include <vector>

#include "grid/Bar.h"
#include "math/Vector.h"
#include "serialization/Cursor.h"
#include "serialization/Pod.h"
#include "serialization/String.h"
#include "serialization/Structure.h"
#include "serialization/UVarint.h"
#include "serialization/Vector.h"
#include "serialization/Versioned.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// A bar entry: `_position` { `x`, `y` } as UVarints, then the `_properties` byte.
struct Bar::SerializerInternal {
    struct _position {};
    struct x {};
    struct y {};
    struct _properties {};

    using Position = LumetraSerialization::Structure<LumetraSerialization::Field<x, LumetraSerialization::UVarint>,
                                                     LumetraSerialization::Field<y, LumetraSerialization::UVarint>>;
    using Entry = LumetraSerialization::Structure<
        LumetraSerialization::Field<_position, Position>,
        LumetraSerialization::Field<_properties, LumetraSerialization::Pod<std::uint8_t>>>;
};

namespace Serialization {

namespace LS = LumetraSerialization;

using BarEntries = LS::Vector<Bar::SerializerInternal::Entry>;

/// Scheme name, grid size and bars; the geometry comes from the named scheme.
namespace SerializationVersion0 {
struct schemeName {};
struct size {};
struct x {};
struct y {};
struct bars {};

using Size = LS::Structure<LS::Field<x, LS::UVarint>, LS::Field<y, LS::UVarint>>;
using Record = LS::Structure<LS::Field<schemeName, LS::String>, LS::Field<size, Size>, LS::Field<bars, BarEntries>>;
}  // namespace SerializationVersion0

/// Carries the bar geometry, mounting and cell size itself. Shares the tags of version 0, so
/// fields of equal layout convert by plain assignment.
namespace SerializationVersion1 {
using SerializationVersion0::bars;
using SerializationVersion0::schemeName;
using SerializationVersion0::size;
using SerializationVersion0::Size;
using SerializationVersion0::x;
using SerializationVersion0::y;
struct barLength {};
struct barProportion {};
struct barSlope {};
struct barOffset {};
struct ceiling {};
struct height {};
struct cellSize {};

using Offset = LS::Structure<LS::Field<x, LS::Pod<float>>, LS::Field<y, LS::Pod<float>>>;
using Record = LS::Structure<LS::Field<schemeName, LS::String>, LS::Field<size, Size>,
                             LS::Field<barLength, LS::Pod<float>>, LS::Field<barProportion, LS::Pod<float>>,
                             LS::Field<barSlope, LS::Pod<float>>, LS::Field<barOffset, Offset>,
                             LS::Field<ceiling, LS::Pod<bool>>, LS::Field<height, LS::Pod<float>>,
                             LS::Field<cellSize, LS::Pod<float>>, LS::Field<bars, BarEntries>>;
}  // namespace SerializationVersion1

/// Version 1 plus the `connectors` flag before the bars.
namespace SerializationVersion2 {
using SerializationVersion1::barLength;
using SerializationVersion1::barOffset;
using SerializationVersion1::barProportion;
using SerializationVersion1::bars;
using SerializationVersion1::barSlope;
using SerializationVersion1::ceiling;
using SerializationVersion1::cellSize;
using SerializationVersion1::height;
using SerializationVersion1::Offset;
using SerializationVersion1::schemeName;
using SerializationVersion1::size;
using SerializationVersion1::Size;
using SerializationVersion1::x;
using SerializationVersion1::y;
struct connectors {};

using Record = LS::Structure<LS::Field<schemeName, LS::String>, LS::Field<size, Size>,
                             LS::Field<barLength, LS::Pod<float>>, LS::Field<barProportion, LS::Pod<float>>,
                             LS::Field<barSlope, LS::Pod<float>>, LS::Field<barOffset, Offset>,
                             LS::Field<ceiling, LS::Pod<bool>>, LS::Field<height, LS::Pod<float>>,
                             LS::Field<cellSize, LS::Pod<float>>, LS::Field<connectors, LS::Pod<bool>>,
                             LS::Field<bars, BarEntries>>;
}  // namespace SerializationVersion2

/// Reads a version 0 record and fills in the named scheme's geometry, the floor mounting and
/// height 0. A name that no scheme has throws "non-existent scheme name: <name>".
struct SerializerConverterVersion0to1 {
    static SerializationVersion1::Record convertFromPreviousVersion(std::uint64_t version, LS::Cursor& cursor);
};

/// Reads a version 1 record (older ones through SerializerConverterVersion0to1) and adds the
/// named scheme's `connectors`, or false for a name that no scheme has.
struct SerializerConverterVersion1to2 {
    static SerializationVersion2::Record convertFromPreviousVersion(std::uint64_t version, LS::Cursor& cursor);
};

using VersionedRecord0 =
    LS::Versioned<0, SerializationVersion0::Record, LS::NoVersionConverter<SerializationVersion0::Record>>;
using VersionedRecord1 = LS::Versioned<1, SerializationVersion1::Record, SerializerConverterVersion0to1>;

/// The current record: version 2, reading versions 0 and 1 too.
using Versioned = LS::Versioned<2, SerializationVersion2::Record, SerializerConverterVersion1to2>;

/// Bars from their entries: each coordinate keeps its low 32 bits, read as a signed integer.
std::vector<Bar> toBars(const BarEntries::Value& entries);

}  // namespace Serialization

/// The values of an environment code, as the environment is built from them.
struct EnvironmentDescription {
    std::string schemeName;
    LumetraMath::vector<unsigned long, 2> size{};
    float barLength = 0;
    float barProportion = 0;
    float barSlope = 0;
    LumetraMath::vector<float, 2> barOffset{};
    bool ceiling = false;
    float height = 0;
    float cellSize = 0;
    bool connectors = false;
    std::vector<Bar> bars;
};

/// Largest grid accepted: 4096 x 4096 cells, and no side of 2^31 cells or more.
inline constexpr std::uint64_t MaximumGridCells = 4096ull * 4096ull;
inline constexpr std::uint64_t MaximumGridSide = 2147483647ull;

namespace Serialization {
/// The description held by a current record, without validation.
EnvironmentDescription toDescription(const SerializationVersion2::Record& record);
}  // namespace Serialization

/// Throws std::runtime_error naming the first fault: a grid too large, a geometric value that is
/// not finite (or a bar length or cell size not positive), a bar outside the grid, or two bars on
/// one cell. The checks allocate nothing in proportion to the grid.
void validateEnvironmentDescription(const EnvironmentDescription& description);

/// Base64-decodes `code`, reads the versioned record and validates it. Throws std::runtime_error.
EnvironmentDescription decodeEnvironmentCode(const std::string& code);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
