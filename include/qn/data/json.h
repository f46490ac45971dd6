// JSON text to Value trees: objects become Dictionary (keys in document
// order), arrays Array, strings String, true/false Bool, null the null
// marker. Numbers keep their exact value: an integer that fits 64 bits is an
// Int; any other number is a Decimal read from the number's own text (never
// through a double), so 0.1 and 12345678901234567890.12 survive; a number
// beyond the Decimal range is a Double.
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

class QN_API QNJSON {
public:
    // Nesting deeper than this is an error rather than a deep recursion.
    static constexpr int kMaxDepth = 512;

    // The value of a UTF-8 JSON text; absent with the parser's error text in
    // `error` (when given) for malformed text.
    static std::optional<Value> parse(std::string_view utf8, std::string* error = nullptr);
    static std::optional<Value> parse(StringView text, std::string* error = nullptr);
};

}  // namespace qn
