// Date formatters: ICU's SimpleDateFormat, made strict, with a direct path
// for the numeric patterns the library writes on every row it stores.
//
// ICU's convenience format() and parse() clone the formatter's calendar on
// every call; each formatter here keeps one work calendar instead, which is
// safe because a formatter is used by one thread at a time.
//
// The direct path compiles patterns made only of four-digit years, two-digit
// months, days, hours, minutes and seconds, three-digit milliseconds and
// non-digit literals, in "en_US_POSIX" and UTC. It writes years 1 ... 9999
// and reads canonical texts (every field at its full width, a real date,
// years other than 1582); anything else goes to ICU, so its results are
// ICU's by construction.
#include <qn/host/dates.h>

#include <unicode/calendar.h>
#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <array>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/ascii.h"
#include "core/civil.h"
#include "core/hash.h"
#include "host/date_internal.h"

namespace qn {
namespace {

icu::UnicodeString aliasOf(StringView s) {
    return icu::UnicodeString(false, s.data(), static_cast<int32_t>(s.size()));
}

String fromUnicode(const icu::UnicodeString& s) {
    return String(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

icu::Locale localeOf(const std::string& identifier) {
    if (identifier.find('-') != std::string::npos) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale locale = icu::Locale::forLanguageTag(identifier, status);
        if (U_SUCCESS(status)) return locale;
    }
    return icu::Locale(identifier.c_str());
}

// --- The direct path ----------------------------------------------------------

enum class Field : std::uint8_t { year, month, day, hour, minute, second, millisecond, literal };

struct Piece {
    Field field;
    char16_t literal;  // for Field::literal
};

constexpr int widthOf(Field f) noexcept {
    switch (f) {
        case Field::year:
            return 4;
        case Field::millisecond:
            return 3;
        case Field::literal:
            return 1;
        default:
            return 2;
    }
}

struct FastPattern {
    std::vector<Piece> pieces;
    std::size_t length = 0;
    bool hasDate = false;
};

// The compiled pattern, or absent when the direct path does not apply.
std::optional<FastPattern> compileFast(StringView pattern) {
    FastPattern out;
    unsigned seen = 0;  // bit per field
    bool lastWasField = false;
    for (std::size_t i = 0; i < pattern.size();) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            const std::size_t close = pattern.find(u'\'', i + 1);
            if (close == StringView::npos) return std::nullopt;
            if (close == i + 1) {  // '' is a quote
                out.pieces.push_back({Field::literal, u'\''});
            } else {
                for (std::size_t k = i + 1; k < close; ++k) {
                    if (pattern[k] >= u'0' && pattern[k] <= u'9') return std::nullopt;
                    out.pieces.push_back({Field::literal, pattern[k]});
                }
            }
            lastWasField = false;
            i = close + 1;
            continue;
        }
        if (!internal::isAsciiAlpha(c)) {
            if (c >= u'0' && c <= u'9') return std::nullopt;
            out.pieces.push_back({Field::literal, c});
            lastWasField = false;
            ++i;
            continue;
        }
        std::size_t run = i;
        while (run < pattern.size() && pattern[run] == c)
            ++run;
        const std::size_t count = run - i;
        Field field;
        switch (c) {
            case u'y':
                field = Field::year;
                break;
            case u'M':
                field = Field::month;
                break;
            case u'd':
                field = Field::day;
                break;
            case u'H':
                field = Field::hour;
                break;
            case u'm':
                field = Field::minute;
                break;
            case u's':
                field = Field::second;
                break;
            case u'S':
                field = Field::millisecond;
                break;
            default:
                return std::nullopt;
        }
        const unsigned bit = 1u << static_cast<unsigned>(field);
        // Abutting numeric fields parse by width in ICU; keep them there.
        if (count != static_cast<std::size_t>(widthOf(field)) || (seen & bit) || lastWasField)
            return std::nullopt;
        seen |= bit;
        out.pieces.push_back({field, 0});
        lastWasField = true;
        i = run;
    }
    constexpr unsigned kDate = 0b111;
    const unsigned date = seen & kDate;
    const unsigned time = seen >> 3;
    // All date fields or none; the time fields a prefix of H, m, s, S.
    if ((date != 0 && date != kDate) || (time & (time + 1)) != 0 || out.pieces.empty())
        return std::nullopt;
    out.hasDate = date == kDate;
    for (const auto& p : out.pieces)
        out.length += static_cast<std::size_t>(widthOf(p.field));
    return out;
}

void putDigits(char16_t* at, std::int64_t value, int width) {
    for (int k = width - 1; k >= 0; --k) {
        at[k] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    }
}

std::optional<String> formatFast(const FastPattern& fast, DateTime d) {
    auto millis = internal::millisSince2001(d);
    if (!millis) return std::nullopt;
    const std::int64_t days = internal::floorDiv(*millis, internal::kMillisPerDay);
    const std::int64_t inDay = *millis - days * internal::kMillisPerDay;
    const auto civil = internal::civilFromDays(days);
    if (civil.year < 1 || civil.year > 9999) return std::nullopt;
    String out(fast.length, u'\0');
    char16_t* at = out.data();
    for (const auto& p : fast.pieces) {
        switch (p.field) {
            case Field::year:
                putDigits(at, civil.year, 4);
                break;
            case Field::month:
                putDigits(at, civil.month, 2);
                break;
            case Field::day:
                putDigits(at, civil.day, 2);
                break;
            case Field::hour:
                putDigits(at, inDay / 3600000, 2);
                break;
            case Field::minute:
                putDigits(at, inDay / 60000 % 60, 2);
                break;
            case Field::second:
                putDigits(at, inDay / 1000 % 60, 2);
                break;
            case Field::millisecond:
                putDigits(at, inDay % 1000, 3);
                break;
            case Field::literal:
                *at = p.literal;
                break;
        }
        at += widthOf(p.field);
    }
    return out;
}

// Absent when the text is not canonical for the pattern (ICU then decides).
std::optional<DateTime> parseFast(const FastPattern& fast, StringView text) {
    if (text.size() != fast.length) return std::nullopt;
    std::int64_t value[7] = {1970, 1, 1, 0, 0, 0, 0};
    const char16_t* at = text.data();
    for (const auto& p : fast.pieces) {
        if (p.field == Field::literal) {
            if (*at++ != p.literal) return std::nullopt;
            continue;
        }
        std::int64_t v = 0;
        for (int k = 0; k < widthOf(p.field); ++k, ++at) {
            if (*at < u'0' || *at > u'9') return std::nullopt;
            v = v * 10 + (*at - u'0');
        }
        value[static_cast<int>(p.field)] = v;
    }
    const auto [year, month, day, hour, minute, second, millisecond] = value;
    if (fast.hasDate) {
        if (year < 1 || year == 1582 || month < 1 || month > 12 || day < 1 ||
            day > internal::daysInMonth(year, static_cast<int>(month)))
            return std::nullopt;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const std::int64_t days = internal::daysFromCivil(year, static_cast<int>(month), day);
    return internal::fromMillisSince2001(days * internal::kMillisPerDay + hour * 3600000 +
                                         minute * 60000 + second * 1000 + millisecond);
}

// ICU (72) reads a fractional-second field of 35 or more digits with a
// division by a power of ten that has overflowed to zero, and the process
// dies. No date text has such a run, so a text with one is refused first.
constexpr std::size_t kLongestDigitRun = 30;

bool hasFractionField(StringView pattern) {
    bool quoted = false;
    for (char16_t c : pattern) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u'S') return true;
    }
    return false;
}

bool hasLongDigitRun(StringView text) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        run = u_isdigit(c) ? run + 1 : 0;
        if (run >= kLongestDigitRun) return true;
    }
    return false;
}

// --- Typed texts --------------------------------------------------------------

// People type "5/3/2021" for "dd/MM/yyyy", but strict ICU wants some two-digit
// fields (day, minute, second) at full width. A typed text is first padded
// against the pattern: a one-digit month, day, hour, minute or second field
// gets its leading zero, and nothing else changes (years and fractions keep
// their digits, so ICU's year rules still apply). The padded text then takes
// the ordinary strict path, which still refuses impossible dates and
// trailing text.
constexpr std::size_t kTypedLimit = 64;

bool isPaddable(char16_t letter) {
    switch (letter) {
        case u'M':
        case u'd':
        case u'H':
        case u'h':
        case u'm':
        case u's':
            return true;
        default:
            return false;
    }
}

// The padded text in `out`, or 0 when nothing was padded: the text does not
// follow the pattern's literals, or has no one-digit field to pad. The walk
// stops at what it cannot measure (a name, a field without digits or with
// too many) and leaves the rest of the text to ICU as it is.
std::size_t padTypedFields(StringView pattern, StringView text,
                           std::array<char16_t, kTypedLimit>& out) {
    if (text.size() + pattern.size() / 2 >= kTypedLimit) return 0;
    std::size_t t = 0, n = 0;
    bool padded = false;
    auto literal = [&](char16_t c) {
        if (t >= text.size() || text[t] != c) return false;
        out[n++] = text[t++];
        return true;
    };
    for (std::size_t p = 0; p < pattern.size();) {
        const char16_t c = pattern[p];
        if (c == u'\'') {
            const std::size_t close = pattern.find(u'\'', p + 1);
            if (close == StringView::npos) return 0;
            if (close == p + 1 && !literal(u'\'')) return 0;
            for (std::size_t k = p + 1; k < close; ++k)
                if (!literal(pattern[k])) return 0;
            p = close + 1;
            continue;
        }
        if (!internal::isAsciiAlpha(c)) {
            if (!literal(c)) return 0;
            ++p;
            continue;
        }
        std::size_t run = p;
        while (run < pattern.size() && pattern[run] == c)
            ++run;
        const std::size_t count = run - p;
        std::size_t digits = 0;
        while (t + digits < text.size() && internal::isAsciiDigit(text[t + digits]))
            ++digits;
        // A lone digit is followed by no other digit, so padding it is
        // unambiguous even where fields abut; a longer run ends the walk.
        const bool twoDigits = isPaddable(c) && count == 2;
        const bool numeric = twoDigits || c == u'y' || c == u'S' || (isPaddable(c) && count == 1);
        if (!numeric || digits == 0 || (twoDigits && digits > 2)) break;
        if (twoDigits && digits == 1) {
            out[n++] = u'0';
            padded = true;
        }
        for (; digits > 0; --digits)
            out[n++] = text[t++];
        p = run;
    }
    if (!padded) return 0;
    for (; t < text.size(); ++t)
        out[n++] = text[t];
    return n;
}

}  // namespace

// --- DateFormatter --------------------------------------------------------------

struct DateFormatter::Impl {
    std::string locale;
    String pattern;
    TimeZone zone;
    std::unique_ptr<icu::SimpleDateFormat> format;  // null when ICU refused the pattern
    std::unique_ptr<icu::Calendar> work;            // reused by every call
    std::optional<FastPattern> fast;
    bool hasFraction = false;  // an "S" field outside quotes
};

DateFormatter::DateFormatter(std::string_view localeIdentifier, StringView pattern, TimeZone zone)
    : d_(std::make_unique<Impl>()) {
    d_->locale = localeIdentifier.empty() ? "en_US_POSIX" : std::string(localeIdentifier);
    d_->pattern = String(pattern);
    d_->zone = std::move(zone);
    const icu::Locale locale = localeOf(d_->locale);
    UErrorCode status = U_ZERO_ERROR;
    // Gregorian whatever the locale's own calendar (Buddhist, Japanese...).
    auto calendar =
        std::make_unique<icu::GregorianCalendar>(internal::icuZone(d_->zone), locale, status);
    auto format = std::make_unique<icu::SimpleDateFormat>(
        icu::UnicodeString(d_->pattern.data(), static_cast<int32_t>(d_->pattern.size())), locale,
        status);
    if (U_SUCCESS(status)) {
        format->adoptCalendar(calendar.release());
        format->setLenient(false);
        d_->work.reset(format->getCalendar()->clone());
        if (d_->work) d_->format = std::move(format);
    }
    if (d_->locale == "en_US_POSIX" && d_->zone.isUTC()) d_->fast = compileFast(d_->pattern);
    d_->hasFraction = hasFractionField(d_->pattern);
}

DateFormatter::~DateFormatter() = default;

String DateFormatter::stringFromDate(DateTime d) const {
    if (d_->fast) {
        if (auto text = formatFast(*d_->fast, d)) return std::move(*text);
    }
    const double udate = internal::toUDate(d);
    if (!d_->format || !std::isfinite(udate)) return String();
    UErrorCode status = U_ZERO_ERROR;
    d_->work->setTime(udate, status);
    if (U_FAILURE(status)) return String();
    icu::UnicodeString out;
    // The overload with a status: a pattern letter ICU does not know fails
    // here, and a text cut short at it must not pass for the date.
    d_->format->format(*d_->work, out, nullptr, status);
    return U_FAILURE(status) ? String() : fromUnicode(out);
}

std::optional<DateTime> DateFormatter::dateFromString(StringView text) const {
    if (text.empty() || text.size() > 1024) return std::nullopt;
    if (d_->fast) {
        if (auto date = parseFast(*d_->fast, text)) return date;
    }
    if (!d_->format || (d_->hasFraction && hasLongDigitRun(text))) return std::nullopt;
    const icu::UnicodeString source = aliasOf(text);
    icu::ParsePosition position(0);
    d_->work->clear();
    d_->format->parse(source, *d_->work, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != source.length())
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const UDate udate = d_->work->getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return internal::fromUDate(udate);
}

std::optional<DateTime> DateFormatter::dateFromTypedString(StringView text) const {
    // A full-width text, read at once, has nothing to pad.
    if (d_->fast) {
        if (auto date = parseFast(*d_->fast, text)) return date;
    }
    std::array<char16_t, kTypedLimit> padded;
    if (const std::size_t n = padTypedFields(d_->pattern, text, padded))
        return dateFromString(StringView(padded.data(), n));
    return dateFromString(text);
}

const std::string& DateFormatter::localeIdentifier() const noexcept {
    return d_->locale;
}
const String& DateFormatter::dateFormat() const noexcept {
    return d_->pattern;
}
const TimeZone& DateFormatter::timeZone() const noexcept {
    return d_->zone;
}

// --- The per-thread cache -------------------------------------------------------

namespace {

struct KeyView {
    std::string_view locale;
    StringView pattern;
    StringView zone;
};

struct Key {
    std::string locale;
    String pattern;
    String zone;
    operator KeyView() const noexcept { return {locale, pattern, zone}; }
};

struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(const KeyView& k) const noexcept {
        std::size_t h = std::hash<std::string_view>{}(k.locale);
        h = internal::mixHash(h ^ std::hash<StringView>{}(k.pattern));
        return internal::mixHash(h ^ std::hash<StringView>{}(k.zone));
    }
    std::size_t operator()(const Key& k) const noexcept { return (*this)(KeyView(k)); }
};

struct KeyEqual {
    using is_transparent = void;
    static KeyView view(const KeyView& k) { return k; }
    static KeyView view(const Key& k) { return k; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const noexcept {
        const KeyView x = view(a), y = view(b);
        return x.locale == y.locale && x.pattern == y.pattern && x.zone == y.zone;
    }
};

// Patterns, locales and zones are few in an application; the bound only
// guards against a caller that makes patterns up as it goes.
constexpr std::size_t kCacheLimit = 256;

struct ThreadCache {
    std::unordered_map<Key, std::shared_ptr<DateFormatter>, KeyHash, KeyEqual> entries;
    // The entry asked for last: a loop asks for the same formatter over and
    // over, and comparing beats hashing three strings. Elements of the map
    // keep their address until the map is cleared, which resets this.
    std::shared_ptr<DateFormatter>* last = nullptr;
};

ThreadCache& threadCache() {
    thread_local ThreadCache cache;
    return cache;
}

std::shared_ptr<DateFormatter>& cachedEntry(std::string_view locale, StringView pattern,
                                            const TimeZone& zone) {
    locale = locale.empty() ? std::string_view("en_US_POSIX") : locale;
    ThreadCache& cache = threadCache();
    // The entry keeps its zone alive, so the same zone object means the same zone.
    if (cache.last) {
        const DateFormatter& f = **cache.last;
        if (&f.timeZone().impl() == &zone.impl() && f.dateFormat() == pattern &&
            f.localeIdentifier() == locale)
            return *cache.last;
    }
    const KeyView key{locale, pattern, zone.name()};
    auto it = cache.entries.find(key);
    if (it == cache.entries.end()) {
        if (cache.entries.size() >= kCacheLimit) cache.entries.clear();
        auto formatter = std::make_shared<DateFormatter>(locale, pattern, zone);
        it = cache.entries
                 .emplace(Key{std::string(locale), String(pattern), zone.name()},
                          std::move(formatter))
                 .first;
    }
    cache.last = &it->second;
    return it->second;
}

}  // namespace

DateFormatter& internal::threadFormatter(std::string_view localeIdentifier, StringView pattern,
                                         const TimeZone& zone) {
    return *cachedEntry(localeIdentifier, pattern, zone);
}

std::shared_ptr<DateFormatter> DateFormatter::forThread(std::string_view localeIdentifier,
                                                        StringView pattern, const TimeZone& zone) {
    return cachedEntry(localeIdentifier, pattern, zone);
}

std::shared_ptr<DateFormatter> dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(
    StringView pattern) {
    static const TimeZone utc = TimeZone::utc();
    return DateFormatter::forThread("en_US_POSIX", pattern, utc);
}

// --- Styles -----------------------------------------------------------------------

DateFormatterStyle dateFormatterStyleFromQNDataDateFormat(int code) noexcept {
    switch (code) {
        case 1:
            return DateFormatterStyle::kShort;
        case 2:
            return DateFormatterStyle::kMedium;
        default:
            return DateFormatterStyle::kNone;
    }
}

DateFormatterStyle dateFormatterStyleFromQNDataTimeFormat(int code) noexcept {
    switch (code) {
        case 1:
            return DateFormatterStyle::kShort;
        case 2:
        case 3:
            return DateFormatterStyle::kMedium;
        default:
            return DateFormatterStyle::kNone;
    }
}

namespace {

icu::DateFormat::EStyle icuStyle(DateFormatterStyle style) {
    switch (style) {
        case DateFormatterStyle::kShort:
            return icu::DateFormat::kShort;
        case DateFormatterStyle::kMedium:
            return icu::DateFormat::kMedium;
        case DateFormatterStyle::kLong:
            return icu::DateFormat::kLong;
        case DateFormatterStyle::kFull:
            return icu::DateFormat::kFull;
        default:
            return icu::DateFormat::kNone;
    }
}

String buildStylePattern(const std::string& localeIdentifier, DateFormatterStyle dateStyle,
                         DateFormatterStyle timeStyle, bool milliseconds) {
    const icu::Locale locale = localeOf(localeIdentifier);
    const bool wordy =
        dateStyle == DateFormatterStyle::kLong || dateStyle == DateFormatterStyle::kFull ||
        timeStyle == DateFormatterStyle::kLong || timeStyle == DateFormatterStyle::kFull;
    if (wordy) {
        std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
            icuStyle(dateStyle), icuStyle(timeStyle), locale));
        auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
        if (!simple) return String();
        icu::UnicodeString pattern;
        simple->toPattern(pattern);
        return fromUnicode(pattern);
    }
    // Numeric texts in the locale's order and clock, every field at full width.
    icu::UnicodeString skeleton;
    if (dateStyle == DateFormatterStyle::kShort) skeleton += u"yyMMdd";
    if (dateStyle == DateFormatterStyle::kMedium) skeleton += u"yyyyMMdd";
    if (timeStyle == DateFormatterStyle::kShort) skeleton += u"jjmm";
    if (timeStyle == DateFormatterStyle::kMedium) skeleton += u"jjmmss";
    if (timeStyle != DateFormatterStyle::kNone && milliseconds) skeleton += u"SSS";
    if (skeleton.isEmpty()) return String();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status)) return String();
    const icu::UnicodeString pattern =
        generator->getBestPattern(skeleton, UDATPG_MATCH_ALL_FIELDS_LENGTH, status);
    return U_FAILURE(status) ? String() : fromUnicode(pattern);
}

}  // namespace

String datePatternForStyles(std::string_view localeIdentifier, DateFormatterStyle dateStyle,
                            DateFormatterStyle timeStyle, bool milliseconds) {
    // Pattern generators take a millisecond to load: remember what they said.
    static std::mutex mutex;
    static std::map<std::tuple<std::string, int, int, bool>, String> patterns;
    std::string locale = localeIdentifier.empty() ? "en_US_POSIX" : std::string(localeIdentifier);
    auto key = std::make_tuple(locale, static_cast<int>(dateStyle), static_cast<int>(timeStyle),
                               milliseconds && timeStyle != DateFormatterStyle::kNone);
    std::lock_guard lock(mutex);
    auto it = patterns.find(key);
    if (it != patterns.end()) return it->second;
    if (patterns.size() >= 1024) patterns.clear();
    String pattern = buildStylePattern(locale, dateStyle, timeStyle, milliseconds);
    patterns.emplace(std::move(key), pattern);
    return pattern;
}

String stringFromDateWithStyles(DateTime d, std::string_view localeIdentifier,
                                DateFormatterStyle dateStyle, DateFormatterStyle timeStyle,
                                bool milliseconds, const TimeZone& zone) {
    const String pattern =
        datePatternForStyles(localeIdentifier, dateStyle, timeStyle, milliseconds);
    if (pattern.empty()) return String();
    return internal::threadFormatter(localeIdentifier, pattern, zone).stringFromDate(d);
}

}  // namespace qn
