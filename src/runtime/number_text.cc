// Numbers to text (the fixed-width `str` picture) and text to numbers.
//
// `str` works on the plain digits of a number, never on an exponent form, so
// that its counting of characters and fractional digits means the same for
// an integer, a double and a Decimal. Reading text honours one locale's
// decimal separator only: grouping separators end the number, which keeps
// "1.234" in a locale with "," from silently becoming 1234.
#include <qn/host/model.h>
#include <qn/runtime/builtins.h>
#include <qn/runtime/numbers.h>

#include <unicode/dcfmtsym.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_map>

namespace qn {
namespace {

std::int32_t asInt32(std::int64_t n) noexcept {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        n, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// A double's shortest round-trip digits in plain notation ("0.00001", not
// "1e-05"); the other kinds their plain text; "" for no number.
String numberText(const Value& number) {
    switch (number.kind()) {
        case ValueKind::kBool:
        case ValueKind::kInt:
            return number.description();
        case ValueKind::kDecimal:
            return number.decimalValue().toString();
        case ValueKind::kDouble: {
            const double d = number.doubleValue();
            if (!std::isfinite(d)) return number.description();
            if (d == 0.0) return u"0";  // not "-0"
            // The longest plain form is 309 integer digits or "0." and 323
            // fractional ones, plus the sign.
            char buffer[400];
            const auto result =
                std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::fixed);
            return asciiString(
                std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
        }
        default:
            return {};
    }
}

// The eight steps of `str`; see numbers.h.
String fixedWidthText(const Value& number, std::int32_t length, std::int32_t decimals) {
    const std::int64_t width = length;
    String t = numberText(number);
    auto point = t.find(u'.');
    if (point != String::npos) {
        if (static_cast<std::int64_t>(point) >= width) decimals = 0;
        const auto fraction = static_cast<std::int64_t>(t.size() - point - 1);
        if (fraction > decimals)
            t = qnRoundedToDecimals(number.decimalValue(), decimals).toString();
    }
    if (static_cast<std::int64_t>(t.size()) > width) {
        const auto kept = static_cast<std::size_t>(std::max<std::int64_t>(width, 0));
        if (t.find(u'.') == String::npos) {
            t.assign(kept, u'*');
        } else {
            t.resize(kept);
        }
    }
    if (!t.empty() && t.back() == u'.') t.pop_back();
    if (static_cast<std::int64_t>(t.size()) >= width) return t;
    // From here on t is shorter than width, which is therefore positive.
    const auto target = static_cast<std::size_t>(width);
    point = t.find(u'.');
    if (decimals >= 1 && point == String::npos) {
        point = t.size();
        t.push_back(u'.');
    }
    if (point != String::npos) {
        auto fraction = static_cast<std::int64_t>(t.size() - point - 1);
        while (fraction < decimals && t.size() < target) {
            t.push_back(u'0');
            ++fraction;
        }
    }
    if (t.size() < target) t.insert(0, target - t.size(), u' ');
    return t;
}

void replaceAll(String& text, StringView what, StringView with) {
    if (what.empty()) return;
    String out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (auto at = text.find(what); at != String::npos; at = text.find(what, from)) {
        out.append(text, from, at - from);
        out.append(with);
        from = at + what.size();
    }
    out.append(text, from, String::npos);
    text = std::move(out);
}

// White space and line breaks, as a scanner skips them by default: the
// Unicode space and line separators, tab to carriage return and NEL.
bool isWhiteOrLineBreak(char16_t c) noexcept {
    if (c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x85) return true;
    if (c < 0x80) return false;
    const auto type = static_cast<UCharCategory>(u_charType(c));
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

// The decimal separator of a locale, from ICU; "." when ICU has none. The
// symbols are costly to build, so each thread keeps the few it has used.
const String& decimalSeparatorOf(const std::string& localeId) {
    thread_local std::unordered_map<std::string, String> cache;
    if (auto found = cache.find(localeId); found != cache.end()) return found->second;
    String separator = u".";
    UErrorCode status = U_ZERO_ERROR;
    const icu::DecimalFormatSymbols symbols(icu::Locale(localeId.c_str()), status);
    if (U_SUCCESS(status)) {
        const icu::UnicodeString& symbol =
            symbols.getConstSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
        if (!symbol.isEmpty())
            separator.assign(reinterpret_cast<const char16_t*>(symbol.getBuffer()),
                             static_cast<std::size_t>(symbol.length()));
    }
    if (cache.size() >= 32) cache.clear();  // locales are few; bound it anyway
    return cache.emplace(localeId, std::move(separator)).first->second;
}

// The number at the start of `text` after white space, with `separator` as
// the decimal separator; 0 when there is none.
Decimal scanNumber(StringView text, StringView separator) {
    std::size_t i = 0;
    while (i < text.size() && isWhiteOrLineBreak(text[i]))
        ++i;
    // The run of characters a number can be made of, in ASCII with "." for
    // the separator; Decimal::scan then takes the longest number in it.
    std::string ascii;
    while (i < text.size()) {
        const char16_t c = text[i];
        if ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'e' || c == u'E') {
            ascii.push_back(static_cast<char>(c));
            ++i;
        } else if (!separator.empty() && text.substr(i, separator.size()) == separator) {
            ascii.push_back('.');
            i += separator.size();
        } else {
            break;
        }
    }
    std::size_t consumed = 0;
    const Decimal d = Decimal::scan(std::string_view(ascii), consumed);
    return consumed == 0 || d.isNaN() ? Decimal() : d;
}

}  // namespace

// --- Number to text ------------------------------------------------------------

String qnStringFromNumberTotalLengthDecimals(const Value& number, std::int64_t length,
                                             std::int64_t decimals) {
    return fixedWidthText(number, asInt32(length), asInt32(decimals));
}

String qnStringFromNumber(const Value& number) {
    return qnStringFromNumberTotalLengthDecimals(number, 10, 0);
}

String qnStringFromNumberTotalLength(const Value& number, std::int64_t length) {
    return qnStringFromNumberTotalLengthDecimals(number, length, 0);
}

String qnStringFromNumberTotalLengthDecimalsDecimalSeparatorThousandSeparator(
    const Value& number, std::int64_t length, std::int64_t decimals, StringView decimalSeparator,
    StringView thousandSeparator) {
    // One pass does what "." -> "#", "," -> thousands, "#" -> decimal does,
    // without the temporary "#" leaking into a separator that contains one.
    const String text = qnStringFromNumberTotalLengthDecimals(number, length, decimals);
    String out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        if (c == u'.') {
            out.append(decimalSeparator);
        } else if (c == u',') {
            out.append(thousandSeparator);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

String qnStringByTrimmingLeftFromNumber(const Value& number, std::int64_t length,
                                        std::int64_t decimals) {
    String text = qnStringFromNumberTotalLengthDecimals(number, length, decimals);
    text.erase(0, std::min(text.find_first_not_of(u' '), text.size()));
    return text;
}

String QNBuiltins::str(const Value& number) {
    return qnStringFromNumber(number);
}

String QNBuiltins::str(const Value& number, std::int64_t length, std::int64_t decimals) {
    return qnStringFromNumberTotalLengthDecimals(number, length, decimals);
}

bool QNBuiltins::notNumeric(StringView text) noexcept {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c < u'0' || c > u'9'; });
}

// --- Text to number ------------------------------------------------------------

Decimal qnNumericValueWithSeparator(StringView text, StringView separator) {
    if (separator == u".") return scanNumber(text, u".");  // en_US_POSIX
    const std::string locale =
        QNResources::currentLanguageLocale().value_or(icu::Locale::getDefault().getName());
    const String& localeSeparator = decimalSeparatorOf(locale);
    if (separator.empty() || separator == localeSeparator) return scanNumber(text, localeSeparator);
    String replaced(text);
    replaceAll(replaced, separator, localeSeparator);
    return scanNumber(replaced, localeSeparator);
}

Decimal qnNumericValue(StringView text) {
    return qnNumericValueWithSeparator(text, u".");
}

Decimal qnDecimalValueWithSeparator(StringView text, StringView separator) {
    if (separator.empty() || separator == u".") return qnDecimalValue(text);
    String replaced(text);
    replaceAll(replaced, separator, u".");
    return qnDecimalValue(replaced);
}

Decimal qnDecimalValue(StringView text) noexcept {
    const Decimal d = Decimal::fromString(text);
    return d.isNaN() ? Decimal() : d;
}

}  // namespace qn
