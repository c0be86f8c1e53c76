#pragma once
// The feature catalogue as one sorted array: key → the indices of the feature's bars, one to four of
// them stored inline. It reads like the ordered map of the same content (ascending iteration,
// `first` the key, `second` the indices, find/count/contains by key) without a node or a list
// allocated per key, which for catalogues of a million keys costs more than computing them.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Combination key → indices, in the given bar list, of the feature's bars in the order of its
/// Combination under the turn of the key.
using FeatureMap = std::map<unsigned long, std::vector<unsigned long>>;

/// The indices of one feature's bars, at most four, in place order.
class FeatureBarIds {
public:
    static constexpr std::size_t capacity = 4;
    using value_type = std::uint32_t;
    using const_iterator = const std::uint32_t*;

    FeatureBarIds() = default;
    FeatureBarIds(std::initializer_list<std::uint32_t> ids) {
        for (const std::uint32_t id : ids) push_back(id);
    }

    /// Appends the index of the next place; a fifth throws std::length_error.
    void push_back(std::uint32_t id) {
        if (size_ == capacity) throw std::length_error("a feature holds at most four bars");
        ids_[size_++] = id;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    /// The index at place k (below size()).
    unsigned long operator[](std::size_t k) const { return ids_[k]; }
    const_iterator begin() const { return ids_.data(); }
    const_iterator end() const { return ids_.data() + size_; }

    friend bool operator==(const FeatureBarIds& a, const FeatureBarIds& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    std::array<std::uint32_t, capacity> ids_{};
    std::uint32_t size_ = 0;
};

class FlatFeatureMap {
public:
    struct Entry {
        std::uint32_t first = 0;  ///< the combination key (keys of groups in 6 × 6 cells take 32 bits)
        FeatureBarIds second;     ///< the bar indices listed under it

        friend bool operator==(const Entry&, const Entry&) = default;
    };
    using key_type = unsigned long;
    using mapped_type = FeatureBarIds;
    using value_type = Entry;
    using size_type = std::size_t;
    using const_iterator = std::vector<Entry>::const_iterator;
    using iterator = const_iterator;

    FlatFeatureMap() = default;
    /// Takes entries in strictly ascending key order; any other order throws std::invalid_argument.
    explicit FlatFeatureMap(std::vector<Entry> sortedEntries) : entries_(std::move(sortedEntries)) {
        const auto notAscending = [](const Entry& a, const Entry& b) { return a.first >= b.first; };
        if (std::adjacent_find(entries_.begin(), entries_.end(), notAscending) != entries_.end())
            throw std::invalid_argument("feature keys must be strictly ascending");
    }

    size_type size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    /// The entry of `key`, or end().
    const_iterator find(key_type key) const {
        if (key > std::numeric_limits<std::uint32_t>::max()) return end();
        const auto at = std::lower_bound(entries_.begin(), entries_.end(), key,
                                         [](const Entry& entry, key_type wanted) { return entry.first < wanted; });
        return at != entries_.end() && at->first == key ? at : entries_.end();
    }
    size_type count(key_type key) const { return contains(key) ? 1 : 0; }
    bool contains(key_type key) const { return find(key) != end(); }

    /// The same content as an ordered map of lists.
    FeatureMap toFeatureMap() const {
        FeatureMap map;
        for (const Entry& entry : entries_)
            map.emplace_hint(map.end(), entry.first,
                             std::vector<unsigned long>(entry.second.begin(), entry.second.end()));
        return map;
    }

    friend bool operator==(const FlatFeatureMap&, const FlatFeatureMap&) = default;

private:
    std::vector<Entry> entries_;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
