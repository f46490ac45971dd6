// What the evaluator's three parts share: the token, the variable table, the
// texts of its failures, and the steps the interface runs in turn.
//
// A token is classified once, when the text is cut, and carries its value
// from then on, so the reduction never reads a number from text. The
// tokenizer fills token lists, the reducer consumes them, and
// QNExpressionObject owns the variable table and the per-thread storage both
// work in. Not part of the public API.
#pragma once

#include <qn/core/decimal.h>
#include <qn/core/string.h>
#include <qn/data/properties.h>
#include <qn/expr/expression.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qn {

// The variables as the last evaluation saw them: lower-cased keys, values
// read as numbers once.
struct QNExpressionObject::Variables {
    struct Entry {
        String key;
        String text;
        Decimal value;
    };
    std::vector<Entry> entries;
    // Built only for longer lists; a short scan is faster.
    std::unordered_map<std::u16string_view, std::size_t> index;
    Ref<QNProperties> source;  // kept alive so its address cannot be reused
    std::uint64_t revision = 0;

    static constexpr std::size_t kIndexFrom = 12;

    void rebuild(const Ref<QNProperties>& from);

    // Inline: the tokenizer asks once per token.
    const Entry* find(StringView key) const noexcept {
        if (!index.empty()) {
            auto it = index.find(key);
            return it == index.end() ? nullptr : &entries[it->second];
        }
        for (const Entry& e : entries)
            if (e.key.size() == key.size() && e.key == key) return &e;
        return nullptr;
    }
    Entry* find(StringView key) noexcept {
        return const_cast<Entry*>(std::as_const(*this).find(key));
    }
};

namespace internal::expr {

using Type = QNExpressionTokenType;

// The one-character forms normalisation gives ">=", "<=" and "!=" / "<>".
inline constexpr char16_t kGreaterOrEqual = u'\u2265';
inline constexpr char16_t kLessOrEqual = u'\u2264';
inline constexpr char16_t kNotEqual = u'\u2260';

inline constexpr std::u16string_view kCouldNotEvaluate = u"Could not evaluate expression";
inline constexpr std::u16string_view kParameterError = u"Parameter error";
inline constexpr std::u16string_view kDivideByZero = u"Divide by 0";
inline constexpr std::u16string_view kUnaryWithoutValue = u"Found unary operator without value";
inline constexpr std::u16string_view kProceduresNotSupported =
    u"Calling Procedures not yet supported";
inline constexpr std::u16string_view kUnknownError = u"Unknown error";

// Throws the failure that evaluate() and tokenize() report.
[[noreturn]] void raise(QNExpressionErrorCode code, std::u16string_view description);
[[noreturn]] void raise(QNExpressionErrorCode code, std::u16string_view prefix,
                        std::u16string_view name);

enum class Fn : std::uint8_t {
    none,
    sqrt,
    cos,
    sin,
    tan,
    acos,
    asin,
    atan,
    round,
    floor,
    exp,
    ln,
    log,
    abs,
    int_,
    frac,
    pow,
    max,
    min,
    iif,
    rnd,
};

struct Tok {
    Decimal value;
    std::uint32_t begin = 0;  // the token's text in the normalised expression
    std::uint32_t length = 0;
    Type type = Type::value;
    char16_t op = 0;  // an operator's character
    Fn fn = Fn::none;
};

// --- tokenizer.cc ------------------------------------------------------------

// `text` as evaluate() reads it: lower-cased, two-character operators and the
// words " and " and " or " in their one-character form.
void normalizeInto(StringView text, String& out);

// The normalised `text` cut into classified tokens, replacing `out`. Variables
// and constants carry their values; an unknown token raises an expression
// error.
void tokenizeInto(const String& text, const QNExpressionObject::Variables* variables,
                  std::vector<Tok>& out);

// --- reducer.cc --------------------------------------------------------------

// The value of `tokens` (cut from `text`), not-a-number included. Constants
// and variables become plain values in place. `lists` (two for each depth
// from 0 to kMaxNesting), `values` and `ops` are working storage the caller
// keeps warm; `deepest` receives the deepest nesting reached, also when the
// reduction fails.
Decimal reduceTokens(const String& text, std::vector<Tok>& tokens,
                     std::vector<std::vector<Tok>>& lists, std::vector<Decimal>& values,
                     std::vector<char16_t>& ops, int& deepest);

}  // namespace internal::expr
}  // namespace qn
