// The date built-ins of generated code and QNBuiltins's date functions.
//
// Dates are read and written in the date calendar (UTC); date-times in the
// date-time calendar (the application zone when stored times are converted
// from UTC, else UTC, since then a stored value already holds the wall
// clock). Every text goes through the host's per-thread formatter cache, so
// a call never builds an ICU formatter once the thread has seen its pattern.
//
// Inputs that name no instant (NaN, infinities, values beyond any calendar)
// come back unchanged from arithmetic and read 0 as parts: generated code
// must never see a crash or a trap from a bad date.
#include <qn/host/model.h>
#include <qn/runtime/builtins.h>
#include <qn/runtime/config.h>
#include <qn/runtime/dates.h>
#include <qn/runtime/strings.h>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "core/ascii.h"
#include "host/date_internal.h"

namespace qn {
namespace {

constexpr std::string_view kPosix = "en_US_POSIX";
constexpr std::int64_t kNanosPerMilli = 1000000;
constexpr double kSecondsPerDay = 86400.0;

constexpr StringView kEmptyDateText = u"  /  /  ";
constexpr StringView kDBPattern = u"yyyy-MM-dd HH:mm:ss.SSS";
constexpr StringView kRESTDatePattern = u"yyyy-MM-dd";
constexpr StringView kRESTTimePattern = u"yyyy-MM-dd'T'HH:mm:ss";
constexpr StringView kRESTTimeMillisPattern = u"yyyy-MM-dd'T'HH:mm:ss.SSS";

const TimeZone& utc() {
    static const TimeZone zone = TimeZone::utc();
    return zone;
}

// The value names an instant the calendars can read.
bool readable(DateTime d) noexcept {
    return internal::millisSince2001(d).has_value();
}

std::int32_t asInt32(std::int64_t v) noexcept {
    return static_cast<std::int32_t>(v);
}

std::int64_t normalizedNumber(std::int64_t number) noexcept {
    return number >= 1 && number <= 5 ? number : 0;
}

StringView patternOfNumber(std::int64_t number) noexcept {
    static constexpr StringView kPatterns[] = {u"yyyy-MM-dd", u"yy-MM-dd",   u"MM-dd-yy",
                                               u"dd-MM-yy",   u"MM-dd-yyyy", u"dd-MM-yyyy"};
    return kPatterns[normalizedNumber(number)];
}

String replaced(StringView s, char16_t from, StringView to) {
    String out;
    out.reserve(s.size());
    for (char16_t c : s) {
        if (c == from) {
            out.append(to);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// A separator as pattern text: letters and quotes would be read as fields,
// so such a separator is quoted; an empty one stays empty.
String literal(StringView separator) {
    const bool plain = std::none_of(separator.begin(), separator.end(), [](char16_t c) {
        return c == u'\'' || internal::isAsciiAlpha(c);
    });
    if (plain) return String(separator);
    return u"'" + replaced(separator, u'\'', u"''") + u"'";
}

// Parsing runs on every text a user typed; a pattern that ICU refuses is
// simply no match.
std::optional<DateTime> read(std::string_view locale, StringView pattern, const TimeZone& zone,
                             StringView text) {
    return internal::threadFormatter(locale, pattern, zone).dateFromString(text);
}

// What people type: a one-digit day, month or time field is as good as two.
std::optional<DateTime> readTyped(std::string_view locale, StringView pattern, const TimeZone& zone,
                                  StringView text) {
    return internal::threadFormatter(locale, pattern, zone).dateFromTypedString(text);
}

String write(std::string_view locale, StringView pattern, const TimeZone& zone, DateTime d) {
    return internal::threadFormatter(locale, pattern, zone).stringFromDate(d);
}

std::string localeOfCurrentLanguage() {
    auto locale = QNResources::currentLanguageLocale();
    return locale && !locale->empty() ? std::move(*locale) : std::string(kPosix);
}

std::string localeOfLanguage(std::optional<StringView> language) {
    if (!language) return std::string(kPosix);
    if (auto configured = QNConfig::sharedInstance().localeIdentifierFromLanguage(*language))
        return toUtf8(*configured);
    if (auto own = qnLocaleIdentifierWithLanguage(*language)) return toUtf8(*own);
    return std::string(kPosix);
}

// Names come out of ICU in the locale's own case ("domingo"); generated code
// shows them capitalised word by word ("Domingo", "Segunda-Feira").
String capitalizedWords(const String& text, const std::string& locale) {
    struct Titler {
        std::string locale;
        icu::Locale icuLocale;
        std::unique_ptr<icu::BreakIterator> words;
    };
    thread_local Titler titler;
    if (!titler.words || titler.locale != locale) {
        UErrorCode status = U_ZERO_ERROR;
        titler.icuLocale = icu::Locale(locale.c_str());
        titler.words.reset(icu::BreakIterator::createWordInstance(titler.icuLocale, status));
        if (U_FAILURE(status)) titler.words.reset();
        titler.locale = locale;
    }
    icu::UnicodeString u(text.data(), static_cast<std::int32_t>(text.size()));
    u.toTitle(titler.words.get(), titler.icuLocale);
    return String(u.getBuffer(), static_cast<std::size_t>(u.length()));
}

String nameText(DateTime d, std::optional<StringView> language, StringView pattern,
                const TimeZone& zone) {
    if (isQnTimeOnlyDateTime(d) || !readable(d)) return String();
    const std::string locale = localeOfLanguage(language);
    return capitalizedWords(write(locale, pattern, zone, d), locale);
}

// When a daylight-saving change lies between `before` and `after` in the
// date-time calendar's zone, moves `after` so the wall-clock time is kept.
// With times not converted from UTC that zone is UTC: the stored values are
// already wall clock and need no correction.
DateTime keepWallClock(DateTime before, DateTime after) {
    if (!readable(after)) return after;
    const TimeZone zone = QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded();
    if (zone.isUTC()) return after;
    const int shift = zone.secondsFromGMTForDate(before) - zone.secondsFromGMTForDate(after);
    return shift == 0 ? after : DateTime(after.timeIntervalSinceReferenceDate() + shift);
}

enum class Unit { days, months, years };

DateTime addCalendarAmount(const Calendar& calendar, DateTime d, Unit unit, std::int32_t n) {
    switch (unit) {
        case Unit::days:
            return calendar.dateByAddingDays(d, n);
        case Unit::months:
            return calendar.dateByAddingMonths(d, n);
        case Unit::years:
            return calendar.dateByAddingYears(d, n);
    }
    return d;
}

DateTime dateTimeByAdding(DateTime d, Unit unit, std::int64_t count) {
    if (!readable(d) || isQnTimeOnlyDateTime(d)) return d;
    return keepWallClock(d, addCalendarAmount(Calendar::qnCalendar(), d, unit, asInt32(count)));
}

DateTime dateByAdding(DateTime d, Unit unit, std::int64_t count) {
    if (!readable(d) || isQnEmptyDate(d)) return d;
    if (isQnDateTime(d)) return dateTimeByAdding(d, unit, count);
    return qnDateNSDate(addCalendarAmount(Calendar::qnCalendar(), d, unit, asInt32(count)));
}

// Whole seconds plus milliseconds; a time-only value only moves within its
// day when something is really added.
DateTime addSeconds(DateTime d, double wholeSeconds, double milliseconds) {
    if (!readable(d) || isQnEmptyDate(d)) return d;
    if (!std::isfinite(wholeSeconds) || !std::isfinite(milliseconds)) return d;
    const DateTime moved(d.timeIntervalSinceReferenceDate() + wholeSeconds + milliseconds / 1000.0);
    if (isQnTimeOnlyDateTime(d)) {
        const bool nothing = wholeSeconds == 0 || std::fabs(wholeSeconds) >= kSecondsPerDay;
        return nothing && milliseconds == 0 ? d : moved;
    }
    return keepWallClock(d, moved);
}

DateTime addSeconds(DateTime d, double seconds) {
    if (!std::isfinite(seconds)) return d;
    const double whole = std::trunc(seconds);
    return addSeconds(d, whole, std::round((seconds - whole) * 1000.0));
}

std::int64_t saturatedInt64(double v) noexcept {
    if (std::isnan(v)) return 0;
    constexpr double kLimit = 9223372036854775807.0;
    if (v >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (v <= -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

double secondsBetween(DateTime d, DateTime other) noexcept {
    return d.timeIntervalSinceReferenceDate() - other.timeIntervalSinceReferenceDate();
}

// The parts of a date in the date calendar; absent for the empty date and
// for values no calendar reads.
std::optional<DateComponents> dateParts(DateTime d) {
    if (isQnEmptyDate(d) || !readable(d)) return std::nullopt;
    return Calendar::qnCalendar().components(d);
}

// The date parts of a date-time; absent for time-only values too.
std::optional<DateComponents> dateTimeParts(DateTime d) {
    if (isQnTimeOnlyDateTime(d) || !readable(d)) return std::nullopt;
    return Calendar::qnCalendarCurrentTimeZone().components(d);
}

// The time parts: a time-only value in the date calendar, others in the
// date-time calendar.
std::optional<DateComponents> timeParts(DateTime d) {
    if (isQnEmptyDate(d) || !readable(d)) return std::nullopt;
    return isQnTimeOnlyDateTime(d) ? Calendar::qnCalendar().components(d)
                                   : Calendar::qnCalendarCurrentTimeZone().components(d);
}

// A field of the parts; 0 when there are none (the empty date, a time-only
// value read as a date-time, an unreadable instant).
template <class Field>
std::int64_t partOf(const std::optional<DateComponents>& parts, Field DateComponents::*field) {
    return parts ? static_cast<std::int64_t>((*parts).*field) : 0;
}

String clockPattern() {
    return QNConfig::sharedInstance().timeFormat() == 0 ? u"hh':'mm':'ss a" : u"HH':'mm':'ss";
}

// The date-time pattern of a text (already in upper case) that holds "-" and
// ":"; a leading "T" is dropped from the text.
String dateTimePattern(String& s, StringView datePattern) {
    String pattern(datePattern);
    const auto t = s.find(u'T');
    if (t == String::npos) {
        pattern += u' ';
    } else if (t == 0) {
        s.erase(0, 1);
    } else {
        pattern += u"'T'";
    }
    const bool twelveHour = s.find(u"AM") != String::npos || s.find(u"PM") != String::npos;
    pattern += twelveHour ? u"hh" : u"HH";
    const auto colons = std::count(s.begin(), s.end(), u':');
    if (colons >= 1) pattern += u":mm";
    if (colons >= 2) {
        pattern += u":ss";
        // Milliseconds follow the seconds' digits, which a person may have
        // typed as one digit (as any field before them): the "." is found
        // after those digits, not at the position of a full-width text.
        std::size_t at = s.find(u':', s.find(u':') + 1) + 1;
        while (at < s.size() && internal::isAsciiDigit(s[at]))
            ++at;
        if (at < s.size() && s[at] == u'.') pattern += u".SSS";
    }
    if (twelveHour) pattern += u"aa";
    return pattern;
}

String upperCased(StringView s) {
    icu::UnicodeString u(s.data(), static_cast<std::int32_t>(std::min<std::size_t>(
                                       s.size(), std::numeric_limits<std::int32_t>::max())));
    u.toUpper(icu::Locale::getRoot());
    return String(u.getBuffer(), static_cast<std::size_t>(u.length()));
}

bool containsAsciiCaseless(StringView s, StringView word) {
    for (std::size_t i = 0; i + word.size() <= s.size(); ++i) {
        if (internal::equalsIgnoringASCIICase(s.substr(i, word.size()), word)) return true;
    }
    return false;
}

std::int64_t pieceValue(StringView s, std::size_t from, std::size_t length) {
    if (from >= s.size()) return 0;
    return qnIntValue(s.substr(from, length));
}

}  // namespace

// --- Formatter access -----------------------------------------------------------------------

std::shared_ptr<DateFormatter> formatterWithLanguageDateFormatTimeZone(
    std::optional<StringView> language, StringView pattern, const TimeZone& zone) {
    return DateFormatter::forThread(localeOfLanguage(language), pattern, zone);
}

std::shared_ptr<DateFormatter> formatterWithLocaleIdentifierDateFormatTimeZone(
    std::optional<std::string_view> localeIdentifier, StringView pattern, const TimeZone& zone) {
    return DateFormatter::forThread(localeIdentifier.value_or(kPosix), pattern, zone);
}

std::shared_ptr<DateFormatter> qnDBManagerDateFormatter() {
    return dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(kDBPattern);
}

// --- Construction -----------------------------------------------------------------------------

std::int64_t normalizeTwoDigitsYear(std::int64_t year) {
    if (year < 0 || year > 99) return year;
    return year <= QNConfig::sharedInstance().yearLimit() ? 2000 + year : 1900 + year;
}

DateTime qnDateFromYearMonthDay(std::int64_t year, std::int64_t month, std::int64_t day) {
    const std::int64_t y = normalizeTwoDigitsYear(year);
    const std::int32_t m = asInt32(month);
    const std::int32_t dd = asInt32(day);
    const Calendar calendar = Calendar::qnCalendar();
    const DateTime d = calendar.dateFromComponents(y, m, dd);
    if (!readable(d)) return qnEmptyDate();
    const DateComponents back = calendar.components(d);
    if (back.year != y || back.month != m || back.day != dd) return qnEmptyDate();
    return d;
}

DateTime qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(
    std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour, std::int64_t minute,
    std::int64_t second, std::int64_t millisecond) {
    const auto h = static_cast<std::uint32_t>(hour);
    const auto mi = static_cast<std::uint32_t>(minute);
    const auto s = static_cast<std::uint32_t>(second);
    const auto ms = static_cast<std::uint32_t>(millisecond);
    const bool empty = isQnEmptyDate(qnDateFromYearMonthDay(year, month, day));
    if (empty && std::uint64_t{h} + mi + s + ms == 0) return qnEmptyDateTime();
    std::int64_t y = 1, m = 1, d = 1;
    if (!empty) {
        y = normalizeTwoDigitsYear(year);
        m = asInt32(month);
        d = asInt32(day);
    }
    const TimeZone zone =
        !empty && QNTimeZone::convertTimesFromUTC() ? QNTimeZone::currentTimeZone() : utc();
    if (h < 24 && mi < 60 && s < 60)
        return Calendar(zone).dateFromComponents(y, m, d, h, mi, s,
                                                 std::int64_t{ms} * kNanosPerMilli);
    return Calendar(zone).dateFromComponents(y, m, d);
}

DateTime qnDateTimeFromYearMonthDayHourMinuteSecond(std::int64_t year, std::int64_t month,
                                                    std::int64_t day, std::int64_t hour,
                                                    std::int64_t minute, std::int64_t second) {
    return qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(year, month, day, hour, minute,
                                                                 second, 0);
}

DateTime qnDateTimeFromYearMonthDayHourMinute(std::int64_t year, std::int64_t month,
                                              std::int64_t day, std::int64_t hour,
                                              std::int64_t minute) {
    return qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(year, month, day, hour, minute, 0,
                                                                 0);
}

DateTime qnDateTimeFromYearMonthDayHour(std::int64_t year, std::int64_t month, std::int64_t day,
                                        std::int64_t hour) {
    return qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(year, month, day, hour, 0, 0, 0);
}

DateTime qnDateTimeFromYearMonthDay(std::int64_t year, std::int64_t month, std::int64_t day) {
    return qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(year, month, day, 0, 0, 0, 0);
}

DateTime qnTimeOnlyDateTimeFromHourMinuteSecondMillisecond(std::int64_t hour, std::int64_t minute,
                                                           std::int64_t second,
                                                           std::int64_t millisecond) {
    const auto h = static_cast<std::uint32_t>(hour);
    const auto mi = static_cast<std::uint32_t>(minute);
    const auto s = static_cast<std::uint32_t>(second);
    const auto ms = static_cast<std::uint32_t>(millisecond);
    if (h >= 24 || mi >= 60 || s >= 60 || (h == 0 && mi == 0 && s == 0 && ms == 0))
        return qnEmptyDateTime();
    return Calendar::qnCalendar().dateFromComponents(1, 1, 1, h, mi, s,
                                                     std::int64_t{ms} * kNanosPerMilli);
}

DateTime qnTimeOnlyDateTimeFromHourMinuteSecond(std::int64_t hour, std::int64_t minute,
                                                std::int64_t second) {
    return qnTimeOnlyDateTimeFromHourMinuteSecondMillisecond(hour, minute, second, 0);
}

DateTime qnCurrentDate() {
    return qnDateNSDate(localTimeZoneDateFromGMT(DateTime::now()));
}

DateTime qnCurrentDateTimeMS() {
    const DateTime now = DateTime::now();
    return QNTimeZone::convertTimesFromUTC() ? now : localTimeZoneDateFromGMT(now);
}

DateTime qnCurrentDateTime() {
    return DateTime(std::floor(qnCurrentDateTimeMS().timeIntervalSinceReferenceDate()));
}

String qnTime() {
    return write(kPosix, u"HH':'mm':'ss", QNTimeZone::currentTimeZone(), DateTime::now());
}

// --- Parts --------------------------------------------------------------------------------------

std::int64_t qnDateDay(DateTime d) {
    return partOf(dateParts(d), &DateComponents::day);
}

std::int64_t qnDateMonth(DateTime d) {
    return partOf(dateParts(d), &DateComponents::month);
}

std::int64_t qnDateYear(DateTime d) {
    return partOf(dateParts(d), &DateComponents::year);
}

std::int64_t qnDateTimeDay(DateTime d) {
    return partOf(dateTimeParts(d), &DateComponents::day);
}

std::int64_t qnDateTimeMonth(DateTime d) {
    return partOf(dateTimeParts(d), &DateComponents::month);
}

std::int64_t qnDateTimeYear(DateTime d) {
    return partOf(dateTimeParts(d), &DateComponents::year);
}

std::int64_t qnHours(DateTime d) {
    return partOf(timeParts(d), &DateComponents::hour);
}

std::int64_t qnMinutes(DateTime d) {
    return partOf(timeParts(d), &DateComponents::minute);
}

std::int64_t qnSeconds(DateTime d) {
    return partOf(timeParts(d), &DateComponents::second);
}

std::int64_t qnMilliseconds(DateTime d) {
    // Zone offsets are whole seconds, so the fraction is the same in every
    // calendar; rounding reads 0.123 stored as 0.12299999... as 123.
    if (isQnEmptyDate(d) || !readable(d)) return 0;
    const double s = d.timeIntervalSinceReferenceDate();
    return std::min<std::int64_t>(std::llround((s - std::floor(s)) * 1000.0), 999);
}

std::int64_t qnDateDayOfWeek(DateTime d) {
    if (isQnTimeOnlyDateTime(d) || !readable(d)) return 0;
    return Calendar::qnCalendar().components(d).weekday;
}

std::int64_t qnDateTimeDayOfWeek(DateTime d) {
    auto c = dateTimeParts(d);
    return c ? c->weekday : 0;
}

String qnDateCharDayOfWeekWithLanguage(DateTime d, std::optional<StringView> language) {
    return nameText(d, language, u"EEEE", utc());
}

String qnDateTimeCharDayOfWeekWithLanguage(DateTime d, std::optional<StringView> language) {
    return nameText(d, language, u"EEEE", QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded());
}

String qnDateCharMonthWithLanguage(DateTime d, std::optional<StringView> language) {
    return nameText(d, language, u"MMMM", utc());
}

String qnDateTimeCharMonthWithLanguage(DateTime d, std::optional<StringView> language) {
    return nameText(d, language, u"MMMM", QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded());
}

// --- Arithmetic ---------------------------------------------------------------------------------

DateTime qnDateByAddingDays(DateTime d, std::int64_t days) {
    return dateByAdding(d, Unit::days, days);
}

DateTime qnDateByAddingMonths(DateTime d, std::int64_t months) {
    return dateByAdding(d, Unit::months, months);
}

DateTime qnDateByAddingYears(DateTime d, std::int64_t years) {
    return dateByAdding(d, Unit::years, years);
}

DateTime qnDateTimeByAddingDays(DateTime d, std::int64_t days) {
    return dateTimeByAdding(d, Unit::days, days);
}

DateTime qnDateTimeByAddingMonths(DateTime d, std::int64_t months) {
    return dateTimeByAdding(d, Unit::months, months);
}

DateTime qnDateTimeByAddingYears(DateTime d, std::int64_t years) {
    return dateTimeByAdding(d, Unit::years, years);
}

DateTime qnDateTimeByAddingSeconds(DateTime d, double seconds) {
    return addSeconds(d, seconds);
}

DateTime qnDateTimeByAddingSeconds(DateTime d, const Decimal& seconds) {
    if (seconds.isNaN()) return d;
    const Decimal whole = seconds.integralPart();
    const Decimal millis = ((seconds - whole) * Decimal(1000)).rounded(0);
    return addSeconds(d, whole.toDouble(), millis.toDouble());
}

DateTime qnDateTimeByAddingMinutes(DateTime d, std::int64_t minutes) {
    return addSeconds(d, static_cast<double>(std::int64_t{asInt32(minutes)} * 60), 0);
}

DateTime qnDateTimeByAddingHours(DateTime d, std::int64_t hours) {
    return addSeconds(d, static_cast<double>(std::int64_t{asInt32(hours)} * 3600), 0);
}

DateTime qnDateTimeByAddingMilliseconds(DateTime d, std::int64_t milliseconds) {
    return addSeconds(d, static_cast<double>(milliseconds / 1000),
                      static_cast<double>(milliseconds % 1000));
}

std::int64_t qnDateDifferenceWith(DateTime d, DateTime other) {
    return Calendar::qnCalendar().daysFrom(other, d);
}

double impl_qnSecondsToDate(DateTime d, DateTime other) {
    return std::floor(secondsBetween(d, other));
}

double impl_qnSecondsWithMillisecondsToDate(DateTime d, DateTime other) {
    return std::round(secondsBetween(d, other) * 1000.0) / 1000.0;
}

std::int64_t impl_qnAge(DateTime d, DateTime reference) {
    return Calendar::qnCalendar().yearsFrom(d, reference);
}

std::int64_t impl_qnAge(DateTime d) {
    return impl_qnAge(d, isQnDateTime(d) ? qnCurrentDateTimeMS() : qnCurrentDate());
}

DateTime qnDateTimeEndOfMonth(DateTime d) {
    if (isQnTimeOnlyDateTime(d) || !readable(d)) return d;
    const Calendar calendar = Calendar::qnCalendarCurrentTimeZone();
    const DateComponents c = calendar.components(d);
    const std::int64_t last =
        calendar.components(calendar.dateFromComponents(c.year, c.month + 1, 0)).day;
    return calendar.dateByAddingDays(d, last - c.day);
}

DateTime qnDateEndOfMonth(DateTime d) {
    if (isQnEmptyDate(d) || !readable(d)) return d;
    if (isQnDateTime(d)) return qnDateTimeEndOfMonth(d);
    const Calendar calendar = Calendar::qnCalendar();
    const DateComponents c = calendar.components(d);
    const std::int64_t last =
        calendar.components(calendar.dateFromComponents(c.year, c.month + 1, 0)).day;
    return qnDateNSDate(calendar.dateByAddingDays(d, last - c.day));
}

DateTime qnDateTimeWithZeroSeconds(DateTime d) {
    if (!std::isfinite(d.timeIntervalSinceReferenceDate())) return d;
    return DateTime(std::floor(d.timeIntervalSinceReferenceDate() / 60.0) * 60.0);
}

DateTime qnDateByRemovingTimePartFromDate(DateTime d) {
    return qnDateNSDate(d);
}

DateTime qnDateByRemovingDatePartFromDate(DateTime d) {
    if (isQnTimeOnlyDateTime(d) || !readable(d)) return d;
    const DateComponents c = Calendar::qnCalendarCurrentTimeZone().components(d);
    return DateTime(qnEmptyDateTime().timeIntervalSinceReferenceDate() + c.hour * 3600.0 +
                    c.minute * 60.0 + c.second);
}

// The empty date stands for no date at all, so it is not shifted either.
DateTime qnDateTimeToUTC(DateTime d) {
    if (isQnEmptyDate(d) || !readable(d)) return d;
    return gmtTimeZoneDateFromCurrent(d);
}

DateTime qnDateToUTC(DateTime d) {
    return qnDateNSDate(qnDateTimeToUTC(d));
}

bool before(DateTime d, DateTime other) {
    return impl_qnSecondsToDate(d, other) < 0;
}

bool after(DateTime d, DateTime other) {
    return impl_qnSecondsToDate(d, other) > 0;
}

std::int64_t qnSecondsToDate(DateTime d, DateTime other) {
    return saturatedInt64(impl_qnSecondsToDate(d, other));
}

Decimal qnSecondsToDateWithMilliseconds(DateTime d, DateTime other) {
    const double millis = std::round(secondsBetween(d, other) * 1000.0);
    if (!std::isfinite(millis)) return Decimal::notANumber();
    return Decimal(saturatedInt64(millis)) / Decimal(1000);
}

// --- Text ---------------------------------------------------------------------------------------

String dateFormatWithFormatNumber(std::int64_t number) {
    return String(patternOfNumber(number));
}

std::int64_t convertNumericDateFormatForDateLength(std::int64_t number, std::int64_t dateLength) {
    // Rows: format numbers 0 ... 6; columns: two-digit (8), four-digit (10).
    static constexpr std::int64_t kTable[7][2] = {{1, 0}, {1, 0}, {2, 4}, {3, 5},
                                                  {2, 4}, {3, 5}, {1, 6}};
    if (number < 0 || number > 6) return number;
    if (dateLength == 8) return kTable[number][0];
    if (dateLength == 10) return kTable[number][1];
    return number;
}

std::int64_t qnDateFormatNumberForCurrentLanguage() {
    constexpr std::int64_t kYMD = 1, kMDY = 2, kDMY = 3;
    auto language = QNResources::currentLanguage();
    if (!language) return kDMY;
    const String code = internal::asciiUppercased(language->dateFormat());
    if (code == u"ENG") return kMDY;
    if (code == u"CHS" || code == u"CHT" || code == u"JAP" || code == u"ANSI") return kYMD;
    return kDMY;
}

String qnEmptyDateToString() {
    return String(kEmptyDateText);
}

String qnEmptyDateTimeToString() {
    return QNConfig::sharedInstance().timeFormat() == 0 ? u"  /  /   12:00:00 AM"
                                                        : u"  /  /   00:00:00";
}

String qnDateToString(DateTime d) {
    if (isQnEmptyDate(d)) return qnEmptyDateToString();
    return write(kPosix, QNConfig::sharedInstance().dateFormat(), utc(), d);
}

String qnDateToStringWithFormatDelimiter(DateTime d, std::int64_t number, StringView delimiter) {
    if (isQnEmptyDate(d)) return qnEmptyDateToString();
    // Generated code formats whole columns with one format: the pattern of
    // the last call is kept.
    struct Last {
        std::int64_t number = -1;
        char16_t delimiter = 0;
        String pattern;
    };
    thread_local Last last;
    const std::int64_t n = normalizedNumber(number);
    const char16_t delim = delimiter.size() == 1 ? delimiter[0] : u'-';
    if (last.number != n || last.delimiter != delim) {
        const StringView base = patternOfNumber(n);
        last.pattern = delim == u'-' ? String(base) : replaced(base, u'-', literal(delimiter));
        last.number = n;
        last.delimiter = delim;
    }
    return write(kPosix, last.pattern, utc(), d);
}

String qnDateToStringWithPicture(DateTime d, StringView picture) {
    // By the picture's length: date code (1 two-digit, 2 four-digit year),
    // time code (1 hours and minutes, 2 seconds, 3 milliseconds).
    struct Codes {
        std::size_t length;
        int date, time;
    };
    static constexpr Codes kCodes[] = {{5, 0, 1},  {10, 2, 0}, {11, 1, 0}, {12, 0, 3},
                                       {13, 2, 0}, {14, 1, 1}, {16, 2, 1}, {17, 1, 2},
                                       {19, 2, 2}, {21, 1, 3}, {23, 2, 3}};
    Codes codes{picture.size(), 0, 0};
    if (picture.size() == 8) {
        codes = picture.find(u':') != StringView::npos ? Codes{8, 0, 2} : Codes{8, 1, 0};
    } else {
        for (const Codes& c : kCodes)
            if (c.length == picture.size()) codes = c;
    }
    return stringFromDateWithStyles(
        d, localeOfCurrentLanguage(), dateFormatterStyleFromQNDataDateFormat(codes.date),
        dateFormatterStyleFromQNDataTimeFormat(codes.time), codes.time == 3, utc());
}

String qnTimeToString(DateTime d) {
    if (isQnEmptyDate(d)) return qnEmptyDateTimeToString();
    if (isQnTimeOnlyDateTime(d)) return write(kPosix, clockPattern(), utc(), d);
    // Written where qnCharToTime reads it back.
    return write(kPosix, QNConfig::sharedInstance().dateFormat() + u' ' + clockPattern(),
                 QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded(), d);
}

String qnTimeToStringWithDateLengthTimeLengthAmPmFormatDateSeparatorTimeSeparatorDateTimeSeparator(
    DateTime d, std::int64_t dateLength, std::int64_t timeLength, bool amPm, std::int64_t format,
    StringView dateSeparator, StringView timeSeparator, StringView dateTimeSeparator) {
    if (isQnEmptyDate(d)) return qnEmptyDateTimeToString();
    const bool timeOnly = isQnTimeOnlyDateTime(d);

    String datePattern;
    if (dateLength >= 1) {
        const StringView base =
            patternOfNumber(convertNumericDateFormatForDateLength(format, dateLength));
        datePattern =
            dateSeparator == u"-" ? String(base) : replaced(base, u'-', literal(dateSeparator));
        // A time-only value has no date to show: blanks keep the layout.
        if (timeOnly) {
            for (StringView field : {u"yy", u"MM", u"dd"}) {
                for (auto at = datePattern.find(field); at != String::npos;
                     at = datePattern.find(field, at + 2))
                    datePattern.replace(at, 2, u"  ");
            }
        }
    }

    String timePattern;
    const String separator =
        timeSeparator.empty() ? String() : u"'" + replaced(timeSeparator, u'\'', u"''") + u"'";
    switch (timeLength) {
        case 2:
            timePattern = u"HH";
            break;
        case 5:
            timePattern = u"HH" + separator + u"mm";
            break;
        case 8:
            timePattern = u"HH" + separator + u"mm" + separator + u"ss";
            break;
        case 12:
            timePattern = u"HH" + separator + u"mm" + separator + u"ss'.'SSS";
            break;
        default:
            break;
    }
    // Only a time that is written carries its AM/PM marker.
    if (amPm && !timePattern.empty()) {
        timePattern[0] = timePattern[1] = u'h';
        timePattern += u" a";
    }

    String pattern = datePattern;
    if (!datePattern.empty() && !timePattern.empty()) pattern += literal(dateTimeSeparator);
    pattern += timePattern;
    if (pattern.empty()) return String();
    return write(kPosix, pattern,
                 timeOnly ? utc() : QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded(), d);
}

std::optional<DateTime> qnCharToDate(StringView text) {
    return readTyped(kPosix, QNConfig::sharedInstance().dateFormat(), utc(), text);
}

DateTime qnCharToDateFormat(StringView text, std::int64_t number) {
    const String dashed = replaced(text, u'/', u"-");
    return readTyped(localeOfCurrentLanguage(), patternOfNumber(number), utc(), dashed)
        .value_or(qnEmptyDate());
}

// The configured pattern separates with "/", and a text without "-" would be
// read as a time of day ("03/05/21 10:20:30" as 03:20:30): both go through
// "-", as the numbered formats do.
DateTime qnCharToTime(StringView text) {
    return qnCharToTimeWithDateFormat(
        replaced(text, u'/', u"-"), replaced(QNConfig::sharedInstance().dateFormat(), u'/', u"-"));
}

DateTime qnCharToTimeFormat(StringView text, std::int64_t number) {
    return qnCharToTimeWithDateFormat(replaced(text, u'/', u"-"), patternOfNumber(number));
}

DateTime qnCharToTimeWithDateFormat(StringView text, StringView datePattern) {
    if (text.empty()) return qnEmptyDate();
    if (text.find(u'-') == StringView::npos) return qnCharToTimeOnly(text);
    const TimeZone zone = QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded();
    if (text.find(u':') == StringView::npos)
        return readTyped(kPosix, datePattern, zone, text).value_or(qnEmptyDate());
    String s = upperCased(text);
    const String pattern = dateTimePattern(s, datePattern);
    return readTyped(kPosix, pattern, zone, s).value_or(qnEmptyDate());
}

String qnDateTimePatternForText(StringView text, StringView datePattern) {
    if (text.find(u'-') == StringView::npos) return String();
    String s = upperCased(text);
    return s.find(u':') == String::npos ? String(datePattern) : dateTimePattern(s, datePattern);
}

DateTime qnCharToTimeOnly(StringView text) {
    std::int64_t parts[4] = {0, 0, 0, 0};  // hour, minute, second, millisecond
    const auto firstColon = text.find(u':');
    parts[0] = qnIntValue(text.substr(0, firstColon));
    if (firstColon != StringView::npos) {
        const StringView rest = text.substr(firstColon + 1);
        const auto secondColon = rest.find(u':');
        parts[1] = qnIntValue(rest.substr(0, secondColon));
        if (secondColon != StringView::npos) {
            StringView seconds = rest.substr(secondColon + 1);
            seconds = seconds.substr(0, seconds.find(u':'));
            const auto dot = seconds.find(u'.');
            parts[2] = qnIntValue(seconds.substr(0, dot));
            if (dot != StringView::npos) {
                const StringView millis = seconds.substr(dot + 1);
                parts[3] = qnIntValue(millis.substr(0, millis.find(u'.')));
            }
        }
    }
    // The 12-hour clock writes "09:07:09 PM" and "12:30:00 AM".
    if (containsAsciiCaseless(text, u"PM")) {
        if (parts[0] >= 1 && parts[0] <= 11) parts[0] += 12;
    } else if (containsAsciiCaseless(text, u"AM") && parts[0] == 12) {
        parts[0] = 0;
    }
    return qnTimeOnlyDateTimeFromHourMinuteSecondMillisecond(parts[0], parts[1], parts[2],
                                                             parts[3]);
}

DateTime qnDateFromSOAPValue(StringView text) {
    return qnDateFromYearMonthDay(pieceValue(text, 0, 4), pieceValue(text, 5, 2),
                                  pieceValue(text, 8, 2));
}

DateTime qnDateTimeFromSOAPValue(StringView text) {
    return qnDateTimeFromYearMonthDayHourMinuteSecond(
        pieceValue(text, 0, 4), pieceValue(text, 5, 2), pieceValue(text, 8, 2),
        pieceValue(text, 11, 2), pieceValue(text, 14, 2), pieceValue(text, 17, 2));
}

// --- QNBuiltins
// -------------------------------------------------------------------------------------

DateTime QNBuiltins::serverNow() {
    return qnCurrentDateTime();
}

DateTime QNBuiltins::serverDate() {
    return qnCurrentDate();
}

String QNBuiltins::serverTime() {
    return qnTime();
}

DateTime QNBuiltins::dadd(DateTime d, std::int64_t days) {
    return qnDateByAddingDays(d, days);
}

DateTime QNBuiltins::dtadd(DateTime d, double seconds) {
    return qnDateTimeByAddingSeconds(d, seconds);
}

DateTime QNBuiltins::dtadd(DateTime d, const Decimal& seconds) {
    return qnDateTimeByAddingSeconds(d, seconds);
}

std::int64_t QNBuiltins::ddiff(DateTime a, DateTime b) {
    return qnDateDifferenceWith(a, b);
}

String QNBuiltins::qnDtoC(DateTime d) {
    return qnDateToStringWithFormatDelimiter(d, qnDateFormatNumberForCurrentLanguage(), u"/");
}

String QNBuiltins::qnTtoC(DateTime d, std::int64_t dayDigits, std::int64_t hourDigits) {
    return qnTimeToStringWithDateLengthTimeLengthAmPmFormatDateSeparatorTimeSeparatorDateTimeSeparator(
        d, dayDigits, hourDigits, QNConfig::sharedInstance().timeFormat() == 0,
        qnDateFormatNumberForCurrentLanguage(), u"/", u":", u" ");
}

DateTime QNBuiltins::qnCtoD(StringView text) {
    return qnCharToDateFormat(text, qnDateFormatNumberForCurrentLanguage());
}

DateTime QNBuiltins::qnCtoT(StringView text) {
    return qnCharToTimeFormat(text, qnDateFormatNumberForCurrentLanguage());
}

String QNBuiltins::dateToCharDB(DateTime d) {
    if (isQnEmptyDate(d)) return u"0000-00-00 00:00:00.0";
    return write(kPosix, kDBPattern, utc(), d);
}

std::optional<String> QNBuiltins::timeToCharDB(std::optional<DateTime> d) {
    if (!d) return std::nullopt;
    return dateToCharDB(*d);
}

String QNBuiltins::formatDateParm(DateTime d) {
    const DateTime u = qnDateToUTC(d);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld%02lld%02lld",
                  static_cast<long long>(qnDateYear(u)), static_cast<long long>(qnDateMonth(u)),
                  static_cast<long long>(qnDateDay(u)));
    return asciiString(buffer);
}

String QNBuiltins::formatDateTimeParm(DateTime d) {
    const DateTime u = qnDateTimeToUTC(d);
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%04lld%02lld%02lld%02lld%02lld%02lld",
                  static_cast<long long>(qnDateTimeYear(u)),
                  static_cast<long long>(qnDateTimeMonth(u)),
                  static_cast<long long>(qnDateTimeDay(u)), static_cast<long long>(qnHours(u)),
                  static_cast<long long>(qnMinutes(u)), static_cast<long long>(qnSeconds(u)));
    return asciiString(buffer);
}

std::optional<String> QNBuiltins::date::toCharREST(std::optional<DateTime> d) {
    if (!d) return std::nullopt;
    if (isQnEmptyDate(*d)) return String(u"0000-00-00");
    return write(kPosix, kRESTDatePattern, utc(), *d);
}

std::optional<String> QNBuiltins::time::toCharREST(std::optional<DateTime> d) {
    if (!d) return std::nullopt;
    if (isQnEmptyDate(*d)) return String(u"0000-00-00T00:00:00");
    return write(kPosix, kRESTTimePattern, utc(), *d);
}

DateTime QNBuiltins::char_::toDateREST(std::optional<StringView> text) {
    if (!text || *text == u"0000-00-00") return qnEmptyDate();
    return read(kPosix, kRESTDatePattern, utc(), *text).value_or(qnEmptyDate());
}

DateTime QNBuiltins::char_::toTimeREST(std::optional<StringView> text) {
    if (!text || *text == u"0000-00-00" || *text == u"0000-00-00T00:00:00" ||
        *text == u"0000-00-00T00:00:00.000")
        return qnEmptyDate();
    const StringView pattern = text->size() == 23 ? kRESTTimeMillisPattern : kRESTTimePattern;
    return read(kPosix, pattern, utc(), *text).value_or(qnEmptyDate());
}

}  // namespace qn
