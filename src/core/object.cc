// The root object and the two untyped containers.
//
// Dictionary keeps its entries in a vector (insertion order) and, from
// kIndexThreshold entries on, a hash index from key to position. Every change
// keeps the index exact, so lookups never build it lazily and concurrent
// readers never write.
#include <qn/core/containers.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/value.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>
#include <typeinfo>

#include "core/hash.h"

namespace qn {
namespace {

using internal::mixHash;

const Value& absentValue() noexcept {
    static const Value absent;
    return absent;
}

// The C++ name of a dynamic type, without the library's own namespace: an
// unregistered qn::QNObjectCollection is "QNObjectCollection", as its
// registered name would be.
String demangledName(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    std::string_view text = status == 0 && name ? std::string_view(name.get()) : type.name();
    if (text.starts_with("qn::")) text.remove_prefix(4);
    return asciiString(text);
}

}  // namespace

// ---------------------------------------------------------------------------
// Object

Object::~Object() = default;

String Object::className() const {
    if (const ClassInfo* info = classInfo()) return fromUtf8(info->name());
    return demangledName(typeid(*this));
}

String Object::description() const {
    // Appended rather than built with operator+: GCC 12 at -O3 reports a
    // false -Wrestrict overlap for "<" + String&&.
    const String name = className();
    String out;
    out.reserve(name.size() + 2);
    out += u'<';
    out += name;
    out += u'>';
    return out;
}

bool Object::isEqual(const Value& other) const {
    return other.isObject() && other.asObject().get() == this;
}

std::size_t Object::hash() const {
    return mixHash(reinterpret_cast<std::uintptr_t>(this));
}

bool Object::isKindOfClassNamed(std::string_view name) const {
    const ClassInfo* info = classInfo();
    return info != nullptr && info->isKindOf(name);
}

// ---------------------------------------------------------------------------
// Array

const Value& Array::at(std::size_t index) const noexcept {
    return index < items_.size() ? items_[index] : absentValue();
}

String Array::description() const {
    String out = u"(";
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i != 0) out += u", ";
        out += items_[i].description();
    }
    out += u')';
    return out;
}

bool Array::isEqual(const Value& other) const {
    const Array* that = other.asArray();
    if (that == nullptr) return false;
    if (that == this) return true;
    if (that->items_.size() != items_.size()) return false;
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].isEqual(that->items_[i])) return false;
    return true;
}

std::size_t Array::hash() const {
    std::uint64_t h = mixHash(items_.size());
    for (const Value& item : items_)
        h = mixHash(h ^ item.hash());
    return static_cast<std::size_t>(h);
}

// ---------------------------------------------------------------------------
// Dictionary

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    entries_.reserve(entries.size());
    for (const Entry& entry : entries)
        set(entry.first, entry.second);
}

namespace {

std::size_t keyHash(StringView key) noexcept {
    return std::hash<StringView>{}(key);
}

}  // namespace

std::size_t Dictionary::find(StringView key) const noexcept {
    if (slots_.empty()) {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].first == key) return i;
        return kNotFound;
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t s = keyHash(key) & mask;; s = (s + 1) & mask) {
        const std::uint32_t slot = slots_[s];
        if (slot == 0) return kNotFound;
        if (entries_[slot - 1].first == key) return slot - 1;
    }
}

void Dictionary::indexEntry(std::size_t position) noexcept {
    const std::size_t mask = slots_.size() - 1;
    std::size_t s = keyHash(entries_[position].first) & mask;
    while (slots_[s] != 0)
        s = (s + 1) & mask;
    slots_[s] = static_cast<std::uint32_t>(position + 1);
}

void Dictionary::rebuildIndex() {
    if (entries_.size() < kIndexThreshold) {
        slots_.clear();
        slots_.shrink_to_fit();
        return;
    }
    std::size_t size = 32;
    while (size < 2 * entries_.size())
        size *= 2;
    slots_.assign(size, 0);
    for (std::size_t i = 0; i < entries_.size(); ++i)
        indexEntry(i);
}

const Value& Dictionary::get(StringView key) const noexcept {
    const std::size_t i = find(key);
    return i == kNotFound ? absentValue() : entries_[i].second;
}

void Dictionary::set(String key, Value value) {
    const std::size_t i = find(key);
    if (i != kNotFound) {
        entries_[i].second = std::move(value);
        return;
    }
    if (entries_.size() >= std::numeric_limits<std::uint32_t>::max() - 1)
        throw std::length_error("Dictionary too large");
    entries_.emplace_back(std::move(key), std::move(value));
    try {
        if (entries_.size() >= kIndexThreshold &&
            (slots_.empty() || 2 * entries_.size() > slots_.size()))
            rebuildIndex();
        else if (!slots_.empty())
            indexEntry(entries_.size() - 1);
    } catch (...) {
        // Keep entries and index in step when the index cannot grow.
        entries_.pop_back();
        throw;
    }
}

bool Dictionary::remove(StringView key) {
    const std::size_t i = find(key);
    if (i == kNotFound) return false;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    // Positions after the removed entry moved down by one; rebuilding
    // cannot fail for want of memory when the table keeps its size.
    if (slots_.empty()) return true;
    if (entries_.size() < kIndexThreshold) {
        slots_.clear();
    } else {
        std::fill(slots_.begin(), slots_.end(), 0u);
        for (std::size_t j = 0; j < entries_.size(); ++j)
            indexEntry(j);
    }
    return true;
}

void Dictionary::clear() noexcept {
    entries_.clear();
    slots_.clear();
}

std::vector<String> Dictionary::keys() const {
    std::vector<String> out;
    out.reserve(entries_.size());
    for (const Entry& entry : entries_)
        out.push_back(entry.first);
    return out;
}

String Dictionary::description() const {
    String out = u"{";
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i != 0) out += u' ';
        out += entries_[i].first;
        out += u" = ";
        out += entries_[i].second.description();
        out += u';';
    }
    out += u'}';
    return out;
}

bool Dictionary::isEqual(const Value& other) const {
    const Dictionary* that = other.asDictionary();
    if (that == nullptr) return false;
    if (that == this) return true;
    if (that->entries_.size() != entries_.size()) return false;
    for (const Entry& entry : entries_) {
        const std::size_t j = that->find(entry.first);
        if (j == kNotFound || !entry.second.isEqual(that->entries_[j].second)) return false;
    }
    return true;
}

std::size_t Dictionary::hash() const {
    // Order-independent, as equality is.
    std::uint64_t sum = mixHash(entries_.size());
    for (const Entry& entry : entries_)
        sum += mixHash(std::hash<StringView>{}(entry.first) ^ mixHash(entry.second.hash()));
    return static_cast<std::size_t>(sum);
}

}  // namespace qn
