// The key/value map of generated code: string keys (exact, case-sensitive)
// mapped to string values, walked with a cursor (first, next, eof) that
// yields QNProperty pairs. The expression evaluator takes its variables from
// one; generated code uses it for name/value parameter lists.
//
// Keys keep insertion order, so the cursor, the enumerator and the JSON text
// are deterministic. Replacing a key's value keeps its place.
//
// Thread-compatible: one thread at a time.
#pragma once

#include <qn/collections/generics.h>
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <vector>

namespace qn {

class QNObjectCollection;

class QN_API QNProperty : public Object {
    QN_OBJECT(QNProperty)
public:
    // A default pair: empty key and value.
    QNProperty() = default;
    QNProperty(String key, String value) : key_(std::move(key)), value_(std::move(value)) {}

    static Ref<QNProperty> init() { return makeRef<QNProperty>(); }
    static Ref<QNProperty> initWithKeyValue(String key, String value) {
        return makeRef<QNProperty>(std::move(key), std::move(value));
    }

    const String& key() const noexcept { return key_; }
    void setKey(String key) { key_ = std::move(key); }
    const String& value() const noexcept { return value_; }
    void setValue(String value) { value_ = std::move(value); }

    // "<<QNProperty> key => value>".
    String debugDescription() const override;

private:
    String key_;
    String value_;
};

class QN_API QNProperties : public Object, public QNJSONValueSource {
    QN_OBJECT(QNProperties)
public:
    // An empty map; the cursor is at its end until first() is called.
    QNProperties() = default;
    // initWithDictionary: a copy of `map`; a value that is not a string is
    // stored as its description text.
    explicit QNProperties(const Dictionary& map);

    static Ref<QNProperties> init() { return makeRef<QNProperties>(); }
    static Ref<QNProperties> initWithDictionary(const Dictionary& map) {
        return makeRef<QNProperties>(map);
    }

    // --- The map ------------------------------------------------------------

    // Sets `key`, replacing an existing value.
    void addKeyValue(String key, String value);
    void set(String key, String value) { addKeyValue(std::move(key), std::move(value)); }
    bool hasKey(StringView key) const noexcept { return map_.contains(key); }
    // The value; "" when the key is absent.
    String get(StringView key) const;
    void remove(StringView key);
    void clear();
    std::int64_t itemCount() const noexcept { return static_cast<std::int64_t>(map_.size()); }
    Value numberItemCount() const { return Value(itemCount()); }

    // --- The cursor -----------------------------------------------------------

    // Takes a new snapshot of the pairs and returns the first (a default pair
    // when the map is empty). Later changes to the map are seen only after
    // the next first().
    Ref<QNProperty> first();
    // The next pair of the snapshot; a new default pair once eof() is true.
    Ref<QNProperty> next();
    // True at or past the end of the snapshot, and before first() was called.
    bool eof() const noexcept;

    // --- Conversions ----------------------------------------------------------

    // The map as a compact JSON object text.
    String toJSONString() const;
    // Replaces the map with the members of a JSON object text. Values that
    // are not strings become their JSON text (1, true, {"c":true}). The map
    // is emptied whatever the outcome; on failure the result is false and,
    // with a message list, one error message is appended to it (the parser's
    // error, "Invalid JSON string: '<text>'" for a text that is not an
    // object, "Empty string" for "").
    bool fromJSONString(StringView text, QNObjectCollection* messages = nullptr);
    bool fromJSONStringMessages(StringView text, QNObjectCollection* messages) {
        return fromJSONString(text, messages);
    }
    // A copy of the map (every value a String).
    Ref<Dictionary> dictionaryRepresentation() const;
    // A fresh snapshot of the pairs; the cursor is not disturbed.
    std::vector<Ref<QNProperty>> objectEnumerator() const;
    // The map itself, for readers inside the library.
    const Dictionary& map() const noexcept { return map_; }
    // Changes on every write (and on assignment from another map), so a
    // reader can tell whether a copy it derived from the map is current.
    std::uint64_t revision() const noexcept { return revision_; }

    // "<<QNProperties>\n\tproperties: {a = 1;}>".
    String debugDescription() const override;
    // The JSON object of the map.
    Value jsonValue() const override;

private:
    std::vector<Ref<QNProperty>> snapshot() const;

    Dictionary map_;
    std::vector<Ref<QNProperty>> iteratorArray_;
    bool hasSnapshot_ = false;
    std::int64_t iteratorIndex_ = 0;
    std::uint64_t revision_ = 0;
};

// A map of strings becomes a QNProperties; anything else that is not one
// is replaced by an empty QNProperties after the report.
template <>
struct QNElementConversion<QNProperties> {
    static Ref<QNProperties> convert(const Value& value) {
        if (auto properties = value.as<QNProperties>()) return properties;
        const Dictionary* map = value.asDictionary();
        if (map == nullptr) return nullptr;
        for (const auto& entry : *map) {
            if (!entry.second.isString()) return nullptr;
        }
        return QNProperties::initWithDictionary(*map);
    }
    static Ref<QNProperties> fallback() { return QNProperties::init(); }
};

// A typed collection of QNProperties.
class QN_API QNPropertiesCollection : public QNGenericsObjectCollection<QNProperties> {
    QN_OBJECT(QNPropertiesCollection)
public:
    QNPropertiesCollection() = default;
    // Converted here rather than in the base, so that a report names this
    // class.
    explicit QNPropertiesCollection(const std::vector<Value>& array) { setItems(array); }
    static Ref<QNPropertiesCollection> initWithArray(const std::vector<Value>& array) {
        return makeRef<QNPropertiesCollection>(array);
    }
};

}  // namespace qn
