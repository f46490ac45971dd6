// The root object and the two untyped containers.
//
// Dictionary keeps its entries in a vector (insertion order) and, from
// kIndexThreshold entries on, a hash index from key to position. Every change
// keeps the index exact, so lookups never build it lazily and concurrent
// readers never write.
#include <qn/core/containers.h>
#include <qn/core/object.h>
#include <qn/host/registry.h>
#include <qn/value.h>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "runtime/hash.h"

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
    return u"<" + className() + u">";
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

std::size_t Dictionary::find(StringView key) const noexcept {
    if (index_.empty()) {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].first == key) return i;
        return kNotFound;
    }
    const auto it = index_.find(key);
    return it == index_.end() ? kNotFound : it->second;
}

void Dictionary::rebuildIndex() {
    index_.clear();
    if (entries_.size() < kIndexThreshold) return;
    index_.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i)
        index_.emplace(entries_[i].first, i);
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
    entries_.emplace_back(std::move(key), std::move(value));
    try {
        if (entries_.size() == kIndexThreshold)
            rebuildIndex();
        else if (entries_.size() > kIndexThreshold)
            index_.emplace(entries_.back().first, entries_.size() - 1);
    } catch (...) {
        // Keep entries and index in step when the index cannot grow.
        entries_.pop_back();
        rebuildIndex();
        throw;
    }
}

bool Dictionary::remove(StringView key) {
    const std::size_t i = find(key);
    if (i == kNotFound) return false;
    // `key` may view the entry's own key: drop it from the index first.
    if (!index_.empty()) index_.erase(index_.find(key));
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    if (entries_.size() < kIndexThreshold) {
        index_.clear();
    } else {
        // Entries after the removed one moved down by one.
        for (std::size_t j = i; j < entries_.size(); ++j)
            index_.find(entries_[j].first)->second = j;
    }
    return true;
}

void Dictionary::clear() noexcept {
    entries_.clear();
    index_.clear();
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
