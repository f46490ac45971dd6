// The string built-ins of generated code: length, substring, search,
// padding, trimming, like-matching, concatenation, character codes and
// placeholder formatting.
//
// Generated code works in UTF-16 code units and 1-based positions, and it
// expects built-ins that never fail: a position outside the text gives the
// empty string or 0, a bad like pattern simply does not match. These
// functions keep those rules in one place so every generated call behaves
// the same. Each takes its receiver first (`qnSubstringFromLength(s, 3, 2)`);
// the class-side forms (`qnFromAsciiValue(65)`) take none.
//
// Blanks: trimming, qnLength and concatenation remove blank characters,
// which are the space separators of Unicode (category Zs: U+0020, U+00A0,
// U+1680, U+2000-U+200A, U+202F, U+205F, U+3000) and the tab (U+0009).
// Line breaks are content, not blanks.
//
// Thread-safety: every function may be called from any thread. Like-matching
// keeps a per-thread cache of compiled patterns, diacritic removal a
// per-thread ICU transliterator.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace qn {

// True for a blank character (see above).
QN_API bool qnIsBlank(char16_t c) noexcept;

// --- Length and blanks ------------------------------------------------------

// Length in code units after removing trailing blanks.
QN_API std::int64_t qnLength(StringView s) noexcept;
// True for the empty string only (blanks count as content).
inline bool qnIsEmpty(StringView s) noexcept {
    return s.empty();
}
QN_API String qnStringByTrimming(StringView s);
QN_API String qnStringByTrimmingLeft(StringView s);
QN_API String qnStringByTrimmingRight(StringView s);
// `count` spaces; "" for 0 or less.
QN_API String qnEmptyStringOfLength(std::int64_t count);

// --- Substrings ---------------------------------------------------------------

// `length` code units from the 1-based position `from`: -1 means to the end,
// a length past the end is cut there. "" when `from` < 1, when nothing is
// left, or for any other negative length.
QN_API String qnSubstringFromLength(StringView s, std::int64_t from, std::int64_t length);
inline String qnSubstringFrom(StringView s, std::int64_t from) {
    return qnSubstringFromLength(s, from, -1);
}
inline String qnSubstring(StringView s, std::int64_t from, std::int64_t length) {
    return qnSubstringFromLength(s, from, length);
}
// The code unit at 1-based `position` as a string; "" outside the text.
inline String qnCharAt(StringView s, std::int64_t position) {
    return qnSubstringFromLength(s, position, 1);
}

// --- Search -------------------------------------------------------------------
// Exact comparison of code units. Results are 1-based positions, 0 when not
// found; an empty pattern is never found.

// First occurrence at or after 1-based `start` (below 1 counts as 1).
QN_API std::int64_t qnSearchForStart(StringView s, StringView pattern, std::int64_t start) noexcept;
inline std::int64_t qnSearchFor(StringView s, StringView pattern) noexcept {
    return qnSearchForStart(s, pattern, 1);
}
// Last occurrence that ends before 1-based `start`: -1 searches the whole
// text, 0 and other negative starts find nothing.
QN_API std::int64_t qnSearchBackwardForStart(StringView s, StringView pattern,
                                             std::int64_t start) noexcept;
inline std::int64_t qnSearchBackwardFor(StringView s, StringView pattern) noexcept {
    return qnSearchBackwardForStart(s, pattern, -1);
}
// Every non-overlapping occurrence, left to right; an empty pattern
// replaces nothing.
QN_API String qnSearchAndReplaceWith(StringView s, StringView pattern, StringView replacement);

// True when `other` is empty.
QN_API bool qnStartsWith(StringView s, StringView other) noexcept;
QN_API bool qnEndsWith(StringView s, StringView other) noexcept;
QN_API bool qnContains(StringView s, StringView other) noexcept;
// The same as Bool values.
inline Value qnStartsWith2(StringView s, StringView other) {
    return Value(qnStartsWith(s, other));
}
inline Value qnEndsWith2(StringView s, StringView other) {
    return Value(qnEndsWith(s, other));
}
inline Value qnContains2(StringView s, StringView other) {
    return Value(qnContains(s, other));
}

// --- Padding and concatenation ----------------------------------------------------
// A text longer than `length` keeps its last (left padding) or first (right
// padding) `length` units; a shorter one gets `fill` (" " when absent or
// empty) added `length` - its length times, so a fill of several units makes
// the result longer than `length`. "" for a negative length.

QN_API String qnStringOfLengthByAppendingLeftOccurrencesOfString(StringView s, std::int64_t length,
                                                                 std::optional<StringView> fill);
QN_API String qnStringOfLengthByAppendingRightOccurrencesOfString(StringView s, std::int64_t length,
                                                                  std::optional<StringView> fill);
inline String qnStringOfLengthByAppendingBlanksOnLeft(StringView s, std::int64_t length) {
    return qnStringOfLengthByAppendingLeftOccurrencesOfString(s, length, std::nullopt);
}
inline String qnStringOfLengthByAppendingBlanksOnRight(StringView s, std::int64_t length) {
    return qnStringOfLengthByAppendingRightOccurrencesOfString(s, length, std::nullopt);
}

// `s` without trailing blanks, then `separator` (when given), then `other`
// unchanged.
QN_API String qnStringByConcatenatingWithStringSeparator(StringView s, StringView other,
                                                         std::optional<StringView> separator);
inline String qnStringByConcatenatingWithString(StringView s, StringView other) {
    return qnStringByConcatenatingWithStringSeparator(s, other, std::nullopt);
}

// --- Like -------------------------------------------------------------------------
// "%" stands for any run of characters and "_" for any one (a code point),
// neither crossing a line break. With escapes on, "\%" and "\_" are the
// literal signs and the match must start at the beginning of `s`; with
// escapes off it may start anywhere. The end is never anchored ('abcdef' is
// like 'abc'). Everything else is literal except braces, which keep their
// regular-expression meaning ("a{2}" is "aa"); a pattern that is then no
// valid expression matches nothing. A match takes time proportional to the
// subject's length times the pattern's, whatever the pattern.

QN_API bool qnIsLikeStringUseEscapeCharacter(StringView s, StringView pattern, bool useEscapes);
// Escapes on, as the configured escape character always turns them on.
QN_API bool qnIsLikeString(StringView s, StringView pattern);

// --- Character codes ------------------------------------------------------------------

// The low 8 bits of the first code unit as a signed byte (U+00E9 gives -23,
// U+0100 gives 0); 0 for "".
QN_API std::int64_t qnAsciiValue(StringView s) noexcept;
// One character from the low 8 bits of `code`, 128-255 read as Latin-1.
QN_API String qnFromAsciiValue(std::int64_t code);
// The first Unicode scalar (a surrogate pair is one; a lone surrogate gives
// its own code unit); 0 for "".
QN_API std::int64_t qnUnicodeValue(StringView s) noexcept;
// The one-scalar string of `code`; "" for a negative code. A code above
// U+10FFFF or a surrogate is reported to QNUtilities::tryRecoverFatalError
// (which throws under the default policy) and otherwise gives "".
QN_API String qnFromUnicodeValue(std::int64_t code);

// --- Transforms -----------------------------------------------------------------------

// Canonical decomposition with every nonspacing combining mark removed, then
// recomposed ("Crème Brûlée" -> "Creme Brulee").
QN_API String qnStringByRemovingDiacritics(StringView s);
// The text as the inside of a JSON string literal: backslash, double quote
// and the control characters below U+0020 escaped (\b \f \n \r \t, others
// \u00XX). Other characters are kept as they are.
QN_API String qnJSONEncode(StringView s);

// --- Placeholder formatting --------------------------------------------------------------
// "%<digits>" becomes the description of the value with that 1-based index
// (a string stands for itself, a number is its decimal text). A placeholder
// without a value stays as "#{<digits>}"; values without a placeholder are
// ignored. The same substitution as QNUtilities::stringWithQNFormatValues.

QN_API String qnStringWithFormatValues(StringView format, const std::vector<Value>& values);
// The values up to the first Absent one.
QN_API String qnStringWithFormatArguments(StringView format, const std::vector<Value>& arguments);
QN_API String qnStringWithFormat(StringView format, std::initializer_list<Value> values = {});

// "\n".
inline String qnNewLine() {
    return String(1, u'\n');
}

// --- Text as numbers -------------------------------------------------------------------------

// After optional white space, sign and leading zeros: true when the next
// character is Y, y, T, t or a digit 1-9.
QN_API bool qnBoolValue(StringView s);
inline Value qnBooleanValue(StringView s) {
    return Value(qnBoolValue(s));
}
// Optional white space and sign, then decimal digits up to the first other
// character; 0 without digits; saturated at the 64-bit limits.
QN_API std::int64_t qnIntValue(StringView s);

}  // namespace qn
