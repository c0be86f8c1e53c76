#pragma once
// A record of named fields stored back to back in declaration order. A field is named by a tag,
// an empty type bearing the field's name; the decoded record gives access to each field by tag:
//
//     struct x {}; struct y {};
//     using Point = Structure<Field<x, UVarint>, Field<y, UVarint>>;
//     Point p = Point::read(cursor);  p.get<x>() ...

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "serialization/Cursor.h"

namespace LumetraSerialization {

template <typename Tag, Reader FieldReader>
struct Field {};

namespace Details {

/// Position of the first `Tag` among `Tags`, or sizeof...(Tags) if absent.
template <typename Tag, typename... Tags>
constexpr std::size_t indexOfTag() {
    constexpr std::array<bool, sizeof...(Tags)> matches{std::is_same_v<Tag, Tags>...};
    for (std::size_t i = 0; i < matches.size(); ++i)
        if (matches[i]) return i;
    return sizeof...(Tags);
}

template <typename Tag, typename... Tags>
constexpr std::size_t countOfTag() {
    return (std::size_t{0} + ... + (std::is_same_v<Tag, Tags> ? 1 : 0));
}

template <typename... Tags>
constexpr bool tagsAreUnique() {
    return ((countOfTag<Tags, Tags...>() == 1) && ...);
}

}  // namespace Details

template <typename... Fields>
class Structure;

template <typename... Tags, typename... Readers>
class Structure<Field<Tags, Readers>...> {
    static_assert(Details::tagsAreUnique<Tags...>(), "each field needs its own tag");

public:
    using Value = Structure;
    static constexpr std::size_t minimumSize = (std::size_t{0} + ... + Readers::minimumSize);

    template <typename Tag>
    auto& get() { return std::get<indexOf<Tag>()>(_values); }

    template <typename Tag>
    const auto& get() const { return std::get<indexOf<Tag>()>(_values); }

    static Structure read(Cursor& cursor) {
        Structure record;
        record.readFields(cursor, std::index_sequence_for<Tags...>{});
        return record;
    }

    friend bool operator==(const Structure&, const Structure&) = default;

private:
    template <typename Tag>
    static constexpr std::size_t indexOf() {
        constexpr std::size_t index = Details::indexOfTag<Tag, Tags...>();
        static_assert(index < sizeof...(Tags), "the structure has no field with this tag");
        return index;
    }

    template <std::size_t... I>
    void readFields(Cursor& cursor, std::index_sequence<I...>) {
        // A comma fold runs left to right: fields are read in declaration order.
        ((std::get<I>(_values) = Readers::read(cursor)), ...);
    }

    std::tuple<typename Readers::Value...> _values{};
};

}  // namespace LumetraSerialization
