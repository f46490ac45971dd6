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

#include <optional>
#include <string>
#include <string_view>

namespace qn {

// An object with a JSON form (collections, records, properties) gives the
// Value tree that stands for it; the generator writes that tree in its place.
class QN_API QNJSONValueSource {
public:
    virtual ~QNJSONValueSource();
    virtual Value jsonValue() const = 0;
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
};

// The JSON text of a value as generated code asks for it: QNJSON::generate,
// absent when it cannot be generated.
QN_API std::optional<String> yajl_JSONString(const Value& value);

}  // namespace qn
