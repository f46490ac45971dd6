// The untyped list and string-keyed map that JSON text, property lists and
// the host's dictionaries become. They are reference types (Objects), so a
// Value can hold one, as an untyped array or dictionary was held.
//
// Dictionary keeps insertion order: JSON text, cursors and enumerations that
// come from it are deterministic and diffable. Replacing a key's value keeps
// its position; looking up is constant time on average.
//
// Thread-compatible: one thread at a time may change a container; any number
// may read one that nobody changes.
#pragma once

#include <qn/core/object.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace qn {

class QN_API Array final : public Object {
public:
    Array() = default;
    explicit Array(std::vector<Value> items) : items_(std::move(items)) {}
    Array(std::initializer_list<Value> items) : items_(items) {}

    std::size_t size() const noexcept { return items_.size(); }
    bool empty() const noexcept { return items_.empty(); }
    // The item at a 0-based index; Absent past the end.
    const Value& at(std::size_t index) const noexcept;
    void append(Value value) { items_.push_back(std::move(value)); }
    std::vector<Value>& items() noexcept { return items_; }
    const std::vector<Value>& items() const noexcept { return items_; }
    auto begin() const noexcept { return items_.begin(); }
    auto end() const noexcept { return items_.end(); }

    String className() const override { return u"Array"; }
    // "(a, b, c)" with each item's description.
    String description() const override;
    // Same length and pairwise equal items.
    bool isEqual(const Value& other) const override;
    std::size_t hash() const override;

private:
    std::vector<Value> items_;
};

class QN_API Dictionary final : public Object {
public:
    using Entry = std::pair<String, Value>;

    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);

    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    bool contains(StringView key) const noexcept { return find(key) != kNotFound; }
    // The value for `key`; Absent when there is none.
    const Value& get(StringView key) const noexcept;
    // Sets `key`; a key already present keeps its position.
    void set(String key, Value value);
    // Removes `key`; true when it was present.
    bool remove(StringView key);
    void clear() noexcept;
    // Room for `count` entries without reallocation.
    void reserve(std::size_t count) { entries_.reserve(count); }

    // Entries in insertion order.
    const std::vector<Entry>& entries() const noexcept { return entries_; }
    auto begin() const noexcept { return entries_.begin(); }
    auto end() const noexcept { return entries_.end(); }
    std::vector<String> keys() const;

    String className() const override { return u"Dictionary"; }
    // "{a = 1; b = 2;}" with each value's description.
    String description() const override;
    // Same keys with equal values, in any order.
    bool isEqual(const Value& other) const override;
    std::size_t hash() const override;

private:
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
    // Below this size a linear scan beats hashing (records of generated
    // code rarely have more members). The index is kept up to date by every
    // change, so reading never writes (concurrent readers).
    static constexpr std::size_t kIndexThreshold = 16;

    std::size_t find(StringView key) const noexcept;
    void rebuildIndex();
    void indexEntry(std::size_t position) noexcept;

    std::vector<Entry> entries_;
    // Open addressing over the entries: each slot holds a position + 1 (0 is
    // free); a power-of-two size at least twice the entry count. Empty while
    // below the threshold. Positions rather than copied keys keep it small.
    std::vector<std::uint32_t> slots_;
};

}  // namespace qn
