#include "environment/EnvironmentRecord.h"

#include <cmath>
#include <stdexcept>
#include <unordered_map>

#include "environment/Scheme.h"
#include "serialization/Base64Converter.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace Serialization {

namespace {

/// Keeps the low 32 bits as a signed value, sign-extended back to 64 bits.
std::uint64_t throughInt32(std::uint64_t value) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(value)));
}

BarEntries::Value positionsThroughInt32(BarEntries::Value entries) {
    using Tags = Bar::SerializerInternal;
    for (auto& entry : entries) {
        auto& position = entry.get<Tags::_position>();
        position.get<Tags::x>() = throughInt32(position.get<Tags::x>());
        position.get<Tags::y>() = throughInt32(position.get<Tags::y>());
    }
    return entries;
}

/// Copies the fields named by `Tags` between records that share those tags.
template <typename... Tags, typename From, typename To>
void copyFields(const From& from, To& to) {
    ((to.template get<Tags>() = from.template get<Tags>()), ...);
}

}  // namespace

SerializationVersion1::Record SerializerConverterVersion0to1::convertFromPreviousVersion(std::uint64_t version,
                                                                                        LS::Cursor& cursor) {
    namespace V1 = SerializationVersion1;
    const SerializationVersion0::Record old = VersionedRecord0::readVersion(version, cursor);
    const Scheme scheme = Scheme::getByName(old.get<V1::schemeName>());

    V1::Record record;
    copyFields<V1::schemeName, V1::size>(old, record);
    record.get<V1::barLength>() = scheme.barLength;
    record.get<V1::barProportion>() = scheme.barProportion;
    record.get<V1::barSlope>() = scheme.barSlope;
    record.get<V1::barOffset>().get<V1::x>() = scheme.barOffset.x;
    record.get<V1::barOffset>().get<V1::y>() = scheme.barOffset.y;
    // Version 0 codes were made for floor grids: the scheme's own mounting is not used.
    record.get<V1::ceiling>() = false;
    record.get<V1::height>() = 0.0f;
    record.get<V1::cellSize>() = scheme.cellSize;
    record.get<V1::bars>() = positionsThroughInt32(old.get<V1::bars>());
    return record;
}

SerializationVersion2::Record SerializerConverterVersion1to2::convertFromPreviousVersion(std::uint64_t version,
                                                                                        LS::Cursor& cursor) {
    namespace V2 = SerializationVersion2;
    const SerializationVersion1::Record old = VersionedRecord1::readVersion(version, cursor);

    V2::Record record;
    copyFields<V2::schemeName, V2::size, V2::barLength, V2::barProportion, V2::barSlope, V2::barOffset, V2::ceiling,
               V2::height, V2::cellSize>(old, record);
    record.get<V2::bars>() = positionsThroughInt32(old.get<V2::bars>());
    // Unknown names are accepted here: version 1 already carries all geometry.
    const std::optional<Scheme> scheme = Scheme::findByName(old.get<V2::schemeName>());
    record.get<V2::connectors>() = scheme && scheme->connectors;
    return record;
}

std::vector<Bar> toBars(const BarEntries::Value& entries) {
    using Tags = Bar::SerializerInternal;
    std::vector<Bar> bars;
    bars.reserve(entries.size());
    for (const auto& entry : entries) {
        const auto& position = entry.get<Tags::_position>();
        bars.push_back(Bar{
            ._position = {static_cast<int>(static_cast<std::int32_t>(position.get<Tags::x>())),
                          static_cast<int>(static_cast<std::int32_t>(position.get<Tags::y>()))},
            ._properties = entry.get<Tags::_properties>(),
        });
    }
    return bars;
}

EnvironmentDescription toDescription(const SerializationVersion2::Record& record) {
    namespace V2 = SerializationVersion2;
    const auto& size = record.get<V2::size>();
    const auto& offset = record.get<V2::barOffset>();
    return {
        .schemeName = record.get<V2::schemeName>(),
        .size = {static_cast<unsigned long>(size.get<V2::x>()), static_cast<unsigned long>(size.get<V2::y>())},
        .barLength = record.get<V2::barLength>(),
        .barProportion = record.get<V2::barProportion>(),
        .barSlope = record.get<V2::barSlope>(),
        .barOffset = {offset.get<V2::x>(), offset.get<V2::y>()},
        .ceiling = record.get<V2::ceiling>(),
        .height = record.get<V2::height>(),
        .cellSize = record.get<V2::cellSize>(),
        .connectors = record.get<V2::connectors>(),
        .bars = toBars(record.get<V2::bars>()),
    };
}

}  // namespace Serialization

namespace {

[[noreturn]] void reject(const std::string& message) { throw std::runtime_error(message); }

std::string gridText(const LumetraMath::vector<unsigned long, 2>& size) {
    return std::to_string(size.x) + " x " + std::to_string(size.y);
}

std::string cellText(const LumetraMath::vector<int, 2>& cell) {
    // Appended piece by piece: GCC 12 misreads the chained operator+ form as an overlapping copy.
    std::string text = "(";
    text.append(std::to_string(cell.x)).append(", ").append(std::to_string(cell.y)).append(")");
    return text;
}

void validateGridSize(const LumetraMath::vector<unsigned long, 2>& size) {
    if (size.x > MaximumGridSide || size.y > MaximumGridSide)
        reject("grid size " + gridText(size) + " has a side of 2^31 cells or more");
    // Both sides are below 2^31, so the product cannot overflow.
    const std::uint64_t cells = std::uint64_t{size.x} * std::uint64_t{size.y};
    if (cells > MaximumGridCells)
        reject("grid size " + gridText(size) + " has " + std::to_string(cells) + " cells, more than the " +
               std::to_string(MaximumGridCells) + " allowed");
}

// Geometric values beyond these magnitudes push marker coordinates, or the squares and quotients
// built from them, out of the float range: such a code could never identify anything.
constexpr float MaximumMagnitude = 1e6f;
constexpr float MinimumLength = 1e-6f;

void requireFinite(float value, const char* field) {
    if (!std::isfinite(value)) reject(std::string(field) + " is not a finite number");
    if (!(std::fabs(value) <= MaximumMagnitude)) reject(std::string(field) + " must lie within -1e6 .. 1e6");
}

void requirePositive(float value, const char* field) {
    requireFinite(value, field);
    if (!(value > 0.0f)) reject(std::string(field) + " must be greater than 0");
    if (!(value >= MinimumLength)) reject(std::string(field) + " must be at least 1e-6");
}

void validateGeometry(const EnvironmentDescription& description) {
    requirePositive(description.barLength, "barLength");
    requireFinite(description.barProportion, "barProportion");
    requireFinite(description.barSlope, "barSlope");
    requireFinite(description.barOffset.x, "barOffset.x");
    requireFinite(description.barOffset.y, "barOffset.y");
    requireFinite(description.height, "height");
    requirePositive(description.cellSize, "cellSize");
}

bool isInside(const LumetraMath::vector<int, 2>& cell, const LumetraMath::vector<unsigned long, 2>& size) {
    return cell.x >= 0 && cell.y >= 0 && static_cast<unsigned long>(cell.x) < size.x &&
           static_cast<unsigned long>(cell.y) < size.y;
}

/// A hash of occupied cells keeps the check proportional to the bars, not to the grid.
void validateBarCells(const std::vector<Bar>& bars, const LumetraMath::vector<unsigned long, 2>& size) {
    std::unordered_map<std::uint64_t, std::size_t> barByCell;
    barByCell.reserve(bars.size());
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const auto& cell = bars[i]._position;
        if (!isInside(cell, size))
            reject("bar " + std::to_string(i) + " at cell " + cellText(cell) + " lies outside the " + gridText(size) +
                   " grid");
        const std::uint64_t key = (std::uint64_t{static_cast<std::uint32_t>(cell.x)} << 32) |
                                  static_cast<std::uint32_t>(cell.y);
        const auto [occupant, inserted] = barByCell.try_emplace(key, i);
        if (!inserted)
            reject("bars " + std::to_string(occupant->second) + " and " + std::to_string(i) + " both lie at cell " +
                   cellText(cell));
    }
}

}  // namespace

void validateEnvironmentDescription(const EnvironmentDescription& description) {
    validateGridSize(description.size);
    validateGeometry(description);
    validateBarCells(description.bars, description.size);
}

EnvironmentDescription decodeEnvironmentCode(const std::string& code) {
    const std::vector<std::uint8_t> bytes = LumetraSerialization::Base64Converter::decode(code);
    EnvironmentDescription description = Serialization::toDescription(Serialization::Versioned::deserialize(bytes));
    validateEnvironmentDescription(description);
    return description;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
