// JSON text to Value trees: objects become Dictionary (keys in document
// order), arrays Array, strings String, true/false Bool, null the null
// marker. Numbers keep their exact value: an integer that fits 64 bits is an
// Int; any other number is a Decimal read from the number's own text (never
// through a double), so 0.1 and 12345678901234567890.12 survive; a number
// beyond the Decimal range is a Double.
//
// Value trees to JSON text: compact, as YAJL generates by default (no
// spaces, "/" not escaped). Int and Decimal write their exact digits, a
// Double its shortest round-trip text (a non-finite one, which JSON cannot
// hold, writes null); absent and the null marker write null; dates, data
// and UUIDs write their description text; an object writes the JSON value
// it gives through QNJSONValueSource, any other object its description text.
//
// Thread-safe (no shared state).
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

// An object with a JSON form (collections, records, properties) gives the
// Value tree that stands for it; the generator writes that tree in its place.
class QN_API QNJSONValueSource {
public:
    virtual ~QNJSONValueSource();
    virtual Value jsonValue() const = 0;
};

// Receives a JSON value piece by piece: what objects that write themselves
// (records, collections) are handed, so they neither build a tree to be
// written nor know whether one is being built (QNJSONTreeBuilder) or text
// written (QNJSON::generateWith). Keys and values alternate inside objects.
// Each call answers false once the value can no longer be made (too deep, out
// of memory); the caller stops then.
class QN_API QNJSONEmitter {
public:
    virtual ~QNJSONEmitter();
    virtual bool beginObject(std::size_t sizeHint) = 0;
    virtual bool key(StringView key) = 0;
    virtual bool endObject() = 0;
    virtual bool beginArray(std::size_t sizeHint) = 0;
    virtual bool endArray() = 0;
    // A whole value: a scalar, a tree, or an object with a JSON form.
    virtual bool value(const Value& value) = 0;
};

// An object with a JSON form that writes it through an emitter; the writer
// prefers this to the object's QNJSONValueSource tree.
class QN_API QNJSONStreamSource {
public:
    virtual ~QNJSONStreamSource();
    virtual bool writeJSON(QNJSONEmitter& emitter) const = 0;
};

// Builds the Value tree of what it is handed (objects become Dictionary, in
// the order given, a repeated key replacing the earlier value; arrays Array).
class QN_API QNJSONTreeBuilder final : public QNJSONEmitter {
public:
    bool beginObject(std::size_t sizeHint) override;
    bool key(StringView key) override;
    bool endObject() override;
    bool beginArray(std::size_t sizeHint) override;
    bool endArray() override;
    bool value(const Value& value) override;
    // The value built (Absent when nothing was handed over).
    Value result() const { return result_; }

private:
    bool place(Value value);
    std::vector<Value> open_;   // the containers being filled, outermost first
    std::vector<String> keys_;  // one pending key per open object
    Value result_;
};

class QN_API QNJSON {
public:
    // Nesting deeper than this is an error rather than a deep recursion.
    static constexpr int kMaxDepth = 512;

    // The value of a UTF-8 JSON text; absent with the parser's error text in
    // `error` (when given) for malformed text.
    static std::optional<Value> parse(std::string_view utf8, std::string* error = nullptr);
    static std::optional<Value> parse(StringView text, std::string* error = nullptr);

    // The compact JSON text of a value, UTF-8; absent with the reason in
    // `error` (when given) when the tree nests deeper than kMaxDepth (an
    // object that contains itself does).
    static std::optional<std::string> generateUtf8(const Value& value,
                                                   std::string* error = nullptr);
    static std::optional<String> generate(const Value& value, std::string* error = nullptr);
    // The text of what `write` hands its emitter (one value); absent, with
    // the reason, when `write` answers false or the value cannot be written.
    static std::optional<String> generateWith(const std::function<bool(QNJSONEmitter&)>& write,
                                              std::string* error = nullptr);
};

// The JSON text of a value as generated code asks for it: QNJSON::generate,
// absent when it cannot be generated.
QN_API std::optional<String> yajl_JSONString(const Value& value);

}  // namespace qn
