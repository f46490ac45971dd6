// The string built-ins of generated code and QNBuiltins's string functions.
//
// Everything counts UTF-16 code units and works on the caller's text in
// place; ICU is reached through read-only aliases. The ICU objects that are
// costly to build (the diacritics transliterator, the character break
// iterator) are built once per process inside a function-local static, so
// every thread sees them complete, and cloned into each thread that uses
// them, since using one is not thread-safe. Like the library's other
// process-wide instances, the prototypes are never destroyed, so no exit-time
// order matters.
#include <qn/host/sdt_sorting.h>
#include <qn/host/utilities.h>
#include <qn/runtime/builtins.h>
#include <qn/runtime/config.h>
#include <qn/runtime/strings.h>

#include "core/ascii.h"
#include "core/characters.h"
#include "runtime/like.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <compare>
#include <cstddef>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

namespace qn {
namespace {

using Size = std::size_t;

// ICU counts in int32_t; longer texts skip the ICU-based refinements.
constexpr Size kMaxIcuLength = static_cast<Size>(std::numeric_limits<std::int32_t>::max());

Size leadingBlanks(StringView s) noexcept {
    Size i = 0;
    while (i < s.size() && qnIsBlank(s[i]))
        ++i;
    return i;
}

// The length of `s` without its trailing blanks.
Size endWithoutTrailingBlanks(StringView s) noexcept {
    Size end = s.size();
    while (end > 0 && qnIsBlank(s[end - 1]))
        --end;
    return end;
}

StringView withoutTrailingBlanks(StringView s) noexcept {
    return s.substr(0, endWithoutTrailingBlanks(s));
}

icu::UnicodeString alias(StringView s) {
    return icu::UnicodeString(false, s.data(), static_cast<std::int32_t>(s.size()));
}

String pad(StringView s, std::int64_t length, std::optional<StringView> fill, bool onLeft) {
    if (length < 0) return {};
    const StringView f = fill && !fill->empty() ? *fill : StringView(u" ");
    const Size n = static_cast<Size>(length);
    if (s.size() > n) return String(onLeft ? s.substr(s.size() - n) : s.substr(0, n));
    const Size times = n - s.size();
    String out;
    // Checked before any arithmetic can overflow. A size no string can have
    // is a programming error of the caller: reported, and the text is kept
    // as it is.
    if (times > (out.max_size() - s.size()) / f.size()) {
        String message = u"Padded string length out of range: ";
        message.append(asciiString(std::to_string(length)));
        QNUtilities::tryRecoverFatalErrorWithExceptionName(message,
                                                           QNUtilities::kRangeExceptionName);
        return String(s);
    }
    out.reserve(s.size() + times * f.size());
    if (!onLeft) out.append(s);
    if (f.size() == 1) {
        out.append(times, f[0]);
    } else {
        for (Size i = 0; i < times; ++i)
            out.append(f);
    }
    if (onLeft) out.append(s);
    return out;
}

// UTF-8 length; a lone surrogate counts as the three bytes of U+FFFD, as the
// library's UTF-8 conversion writes it.
std::int64_t utf8Length(StringView s) noexcept {
    std::int64_t bytes = 0;
    for (Size i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (U16_IS_LEAD(c) && i + 1 < s.size() && U16_IS_TRAIL(s[i + 1])) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

// Bytes of `s` in the converter's charset; 0 when some character has no
// mapping (no substitution) or the converter cannot be opened. Streams
// through a small buffer, so the length is not limited to int32_t.
std::int64_t encodedLength(StringView s, const std::string& converterName) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(
        ucnv_open(converterName.c_str(), &status), &ucnv_close);
    if (U_FAILURE(status) || !converter) return 0;
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
    if (U_FAILURE(status)) return 0;

    char buffer[1024];
    const UChar* source = s.data();
    const UChar* const sourceLimit = s.data() + s.size();
    std::int64_t total = 0;
    for (;;) {
        char* target = buffer;
        status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter.get(), &target, buffer + sizeof buffer, &source, sourceLimit,
                         nullptr, true, &status);
        total += target - buffer;
        if (status == U_BUFFER_OVERFLOW_ERROR) continue;
        return U_SUCCESS(status) ? total : 0;
    }
}

// User-perceived characters (extended grapheme clusters).
std::int64_t characterCount(StringView s) {
    std::int64_t count = 0;
    if (!internal::forEachCharacter(s, [&count](std::size_t, std::size_t) { ++count; }))
        return static_cast<std::int64_t>(s.size());
    return count;
}

const icu::Normalizer2* nfd() {
    static const icu::Normalizer2* const instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFDInstance(status);
        return U_SUCCESS(status) ? n : nullptr;
    }();
    return instance;
}

// `s` itself when it is already in NFD, else its NFD form in `storage`.
StringView decomposed(StringView s, String& storage) {
    const icu::Normalizer2* n = nfd();
    if (n == nullptr || s.size() > kMaxIcuLength) return s;
    // Below U+00C0 nothing decomposes.
    if (std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0xC0; })) return s;
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString source = alias(s);
    if (n->quickCheck(source, status) == UNORM_YES || U_FAILURE(status)) return s;
    status = U_ZERO_ERROR;
    const icu::UnicodeString normal = n->normalize(source, status);
    if (U_FAILURE(status)) return s;
    storage.assign(normal.getBuffer(), static_cast<Size>(normal.length()));
    return storage;
}

// Collections sort texts in this order too: by their canonical
// decomposition, taken once per item.
std::optional<String> decomposedText(StringView text) {
    String storage;
    if (decomposed(text, storage).data() == text.data()) return std::nullopt;
    return storage;
}

const bool installedTextOrder = [] {
    QNSDTDataCollectionSorter::setTextSortKey(&decomposedText);
    return true;
}();

int sign(int c) noexcept {
    return (c > 0) - (c < 0);
}

// Numbers by value across kinds: integers exactly; a double against
// another kind through its decimal value (as equality reads it), or as a
// double where it has none (infinities, NaN, beyond the decimal range).
// The common ordering of two values, when they have one.
std::optional<std::partial_ordering> compareValues(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return Value::compareNumbers(a, b);
    if (a.isString() && b.isString()) return QNBuiltins::strcmp(a.asString(), b.asString()) <=> 0;
    if (a.isDate() && b.isDate()) return a.asDate() <=> b.asDate();
    return std::nullopt;
}

}  // namespace

// --- Length and blanks --------------------------------------------------------

bool qnIsBlank(char16_t c) noexcept {
    if (c <= 0x20) return c == 0x20 || c == 0x09;
    if (c < 0xA0) return false;
    return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::int64_t qnLength(StringView s) noexcept {
    return static_cast<std::int64_t>(endWithoutTrailingBlanks(s));
}

String qnStringByTrimming(StringView s) {
    const StringView right = withoutTrailingBlanks(s);
    return String(right.substr(leadingBlanks(right)));
}

String qnStringByTrimmingLeft(StringView s) {
    return String(s.substr(leadingBlanks(s)));
}

String qnStringByTrimmingRight(StringView s) {
    return String(withoutTrailingBlanks(s));
}

String qnEmptyStringOfLength(std::int64_t count) {
    return pad(StringView(), count, std::nullopt, true);
}

// --- Substrings -------------------------------------------------------------

String qnSubstringFromLength(StringView s, std::int64_t from, std::int64_t length) {
    // `from` < 1 gives "" in any case; checking first keeps from - 1 defined.
    if (from < 1) return {};
    const auto size = static_cast<std::int64_t>(s.size());
    const std::int64_t start = from - 1;
    if (start >= size) return {};
    const std::int64_t rest = size - start;
    if (length == -1 || length > rest) length = rest;
    if (length < 1) return {};
    return String(s.substr(static_cast<Size>(start), static_cast<Size>(length)));
}

// --- Search -------------------------------------------------------------------

std::int64_t qnSearchForStart(StringView s, StringView pattern, std::int64_t start) noexcept {
    if (pattern.empty()) return 0;
    const Size begin = start > 0 ? std::min(static_cast<Size>(start - 1), s.size()) : 0;
    const Size pos = s.find(pattern, begin);
    return pos == StringView::npos ? 0 : static_cast<std::int64_t>(pos) + 1;
}

std::int64_t qnSearchBackwardForStart(StringView s, StringView pattern,
                                      std::int64_t start) noexcept {
    if (pattern.empty()) return 0;
    Size end = 0;
    if (start == -1) {
        end = s.size();
    } else if (start >= 1) {
        end = std::min(static_cast<Size>(start - 1), s.size());
    }
    const Size pos = s.substr(0, end).rfind(pattern);
    return pos == StringView::npos ? 0 : static_cast<std::int64_t>(pos) + 1;
}

String qnSearchAndReplaceWith(StringView s, StringView pattern, StringView replacement) {
    if (pattern.empty()) return String(s);
    String out;
    Size from = 0;
    for (Size pos; (pos = s.find(pattern, from)) != StringView::npos; from = pos + pattern.size()) {
        if (out.empty()) out.reserve(s.size());
        out.append(s.substr(from, pos - from));
        out.append(replacement);
    }
    out.append(s.substr(from));
    return out;
}

bool qnStartsWith(StringView s, StringView other) noexcept {
    return s.starts_with(other);
}

bool qnEndsWith(StringView s, StringView other) noexcept {
    return s.ends_with(other);
}

bool qnContains(StringView s, StringView other) noexcept {
    return s.find(other) != StringView::npos;
}

// --- Padding and concatenation --------------------------------------------------

String qnStringOfLengthByAppendingLeftOccurrencesOfString(StringView s, std::int64_t length,
                                                          std::optional<StringView> fill) {
    return pad(s, length, fill, true);
}

String qnStringOfLengthByAppendingRightOccurrencesOfString(StringView s, std::int64_t length,
                                                           std::optional<StringView> fill) {
    return pad(s, length, fill, false);
}

String qnStringByConcatenatingWithStringSeparator(StringView s, StringView other,
                                                  std::optional<StringView> separator) {
    const StringView head = withoutTrailingBlanks(s);
    const StringView sep = separator.value_or(StringView());
    String out;
    out.reserve(head.size() + sep.size() + other.size());
    out.append(head).append(sep).append(other);
    return out;
}

// --- Like ---------------------------------------------------------------------------

bool qnIsLikeStringUseEscapeCharacter(StringView s, StringView pattern, bool useEscapes) {
    return internal::likeMatches(s, pattern, useEscapes);
}

bool qnIsLikeString(StringView s, StringView pattern) {
    // The configured escape character always has a value, which turns
    // escapes on; inside patterns the escape is always the backslash. The
    // character fits the string's inline buffer, so this reads no heap.
    const bool useEscapes = !QNConfig::sharedInstance().likeEscapeCharacter().empty();
    return internal::likeMatches(s, pattern, useEscapes);
}

// --- Character codes ----------------------------------------------------------------

std::int64_t qnAsciiValue(StringView s) noexcept {
    if (s.empty()) return 0;
    return static_cast<std::int8_t>(static_cast<std::uint8_t>(s[0] & 0xFF));
}

String qnFromAsciiValue(std::int64_t code) {
    return String(1, static_cast<char16_t>(static_cast<std::uint8_t>(code & 0xFF)));
}

std::int64_t qnUnicodeValue(StringView s) noexcept {
    if (s.empty()) return 0;
    const char16_t c = s[0];
    if (U16_IS_LEAD(c) && s.size() > 1 && U16_IS_TRAIL(s[1])) return U16_GET_SUPPLEMENTARY(c, s[1]);
    return c;
}

String qnFromUnicodeValue(std::int64_t code) {
    if (code < 0) return {};
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        QNUtilities::tryRecoverFatalError(u"Could not create Unicode scalar for Chr function: " +
                                          asciiString(std::to_string(code)));
        return {};
    }
    const auto scalar = static_cast<UChar32>(code);
    if (scalar <= 0xFFFF) return String(1, static_cast<char16_t>(scalar));
    return String{static_cast<char16_t>(U16_LEAD(scalar)),
                  static_cast<char16_t>(U16_TRAIL(scalar))};
}

// --- Transforms -----------------------------------------------------------------------

String qnStringByRemovingDiacritics(StringView s) {
    // Combining marks start at U+0300 and precomposed letters at U+00C0.
    if (s.size() > kMaxIcuLength ||
        std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0xC0; }))
        return String(s);
    static const icu::Transliterator* const prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
            icu::UnicodeString(u"NFD; [:Mn:] Remove; NFC"), UTRANS_FORWARD, status));
        return U_SUCCESS(status) ? t.release() : nullptr;
    }();
    thread_local const std::unique_ptr<icu::Transliterator> strip(prototype ? prototype->clone()
                                                                            : nullptr);
    if (!strip) return String(s);
    icu::UnicodeString text(s.data(), static_cast<std::int32_t>(s.size()));
    strip->transliterate(text);
    return String(text.getBuffer(), static_cast<Size>(text.length()));
}

String qnJSONEncode(StringView s) {
    constexpr const char* kHex = internal::kLowerHexDigits;
    String out;
    out.reserve(s.size() + 8);
    for (const char16_t c : s) {
        switch (c) {
            case u'"':
                out += u"\\\"";
                break;
            case u'\\':
                out += u"\\\\";
                break;
            case u'\n':
                out += u"\\n";
                break;
            case u'\b':
                out += u"\\b";
                break;
            case u'\f':
                out += u"\\f";
                break;
            case u'\r':
                out += u"\\r";
                break;
            case u'\t':
                out += u"\\t";
                break;
            default:
                if (c < 0x20) {
                    out += u"\\u00";
                    out += static_cast<char16_t>(kHex[c >> 4]);
                    out += static_cast<char16_t>(kHex[c & 0xF]);
                } else {
                    out += c;
                }
        }
    }
    return out;
}

// --- Placeholder formatting --------------------------------------------------------------

String qnStringWithFormatValues(StringView format, const std::vector<Value>& values) {
    return QNUtilities::stringWithQNFormatValues(format, values);
}

String qnStringWithFormatArguments(StringView format, const std::vector<Value>& arguments) {
    const auto end = std::find_if(arguments.begin(), arguments.end(),
                                  [](const Value& v) { return v.isAbsent(); });
    if (end == arguments.end()) return QNUtilities::stringWithQNFormatValues(format, arguments);
    return QNUtilities::stringWithQNFormatValues(format,
                                                 std::vector<Value>(arguments.begin(), end));
}

String qnStringWithFormat(StringView format, std::initializer_list<Value> values) {
    const auto end =
        std::find_if(values.begin(), values.end(), [](const Value& v) { return v.isAbsent(); });
    return QNUtilities::stringWithQNFormatValues(format, std::vector<Value>(values.begin(), end));
}

// --- Text as numbers ------------------------------------------------------------------------
// A string Value reads with exactly these rules; going through one keeps
// the two surfaces from drifting apart.

bool qnBoolValue(StringView s) {
    return Value(s).boolValue();
}

std::int64_t qnIntValue(StringView s) {
    return Value(s).integerValue();
}

// --- QNBuiltins ---------------------------------------------------------------------------------

String QNBuiltins::left(StringView s, std::int64_t n) {
    if (n < 0 || static_cast<Size>(n) >= s.size()) return String(s);
    return String(s.substr(0, static_cast<Size>(n)));
}

String QNBuiltins::right(StringView s, std::int64_t n) {
    // A negative count is not settled by the language; the whole text
    // mirrors `left`.
    if (n < 0 || static_cast<Size>(n) >= s.size()) return String(s);
    return String(s.substr(s.size() - static_cast<Size>(n)));
}

String QNBuiltins::ltrim(StringView s) {
    return qnStringByTrimmingLeft(s);
}

String QNBuiltins::rtrim(StringView s) {
    return qnStringByTrimmingRight(s);
}

std::int64_t QNBuiltins::strcmp(StringView a, StringView b) {
    const int direct = a.compare(b);
    if (direct == 0) return 0;
    String aStorage, bStorage;
    const StringView da = decomposed(a, aStorage);
    const StringView db = decomposed(b, bStorage);
    if (da.data() == a.data() && db.data() == b.data()) return sign(direct);
    return sign(da.compare(db));
}

std::int64_t QNBuiltins::byteCount(StringView s, StringView charset) {
    const auto encoding = QNUtilities::stringEncodingFromCharsetString(charset);
    // UTF-16 here is the byte-order-marked form the name stands for; the
    // explicit-order variants are counted by their converters.
    if (!encoding || encoding->isUTF8() || encoding->name() == "UTF-16") return utf8Length(s);
    const std::int64_t bytes = encodedLength(s, encoding->name());
    return bytes != 0 ? bytes : characterCount(s);
}

String QNBuiltins::urlEncode(StringView s) {
    if (auto url = QNUtilities::urlFromMaybeEscapedURLString(s)) return std::move(*url);
    return QNUtilities::urlSimpleEscapeString(s);
}

String QNBuiltins::urlParameterEncode(StringView s) {
    return QNUtilities::urlSimpleEscapeString(s);
}

std::optional<std::partial_ordering> QNBuiltins::compareOrder(const Value& a, const Value& b) {
    return compareValues(a, b);
}

bool QNBuiltins::compare(const Value& a, StringView op, const Value& b) {
    if (op == u"like")
        return a.isString() && b.isString() && qnIsLikeString(a.asString(), b.asString());
    const bool equality = op == u"=";
    const bool inequality = op == u"<>";
    const auto order = compareOrder(a, b);
    if (!order) {
        if (equality) return a.isEqual(b);
        if (inequality) return !a.isEqual(b);
        return false;
    }
    if (equality) return *order == 0;
    if (inequality) return *order != 0;
    if (op == u"<") return *order < 0;
    if (op == u"<=") return *order <= 0;
    if (op == u">") return *order > 0;
    if (op == u">=") return *order >= 0;
    return false;
}

String QNBuiltins::format(StringView text, const Value& parm1, const Value& parm2,
                          const Value& parm3, const Value& parm4, const Value& parm5,
                          const Value& parm6, const Value& parm7, const Value& parm8,
                          const Value& parm9) {
    return QNUtilities::stringWithQNFormatValues(
        text, {parm1, parm2, parm3, parm4, parm5, parm6, parm7, parm8, parm9});
}

}  // namespace qn
