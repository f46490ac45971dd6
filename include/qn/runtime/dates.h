// Dates and date-times as generated code uses them.
//
// Both kinds are a DateTime. A date is the UTC midnight of its day (the date
// calendar); a date-time is any instant, read in the date-time calendar (see
// <qn/host/dates.h>). Two shared rules live here:
//
//   - The empty date (0001-01-01 00:00:00.000) stands for a date that was not
//     given. Its parts read 0, adding to it leaves it unchanged, and it has
//     fixed texts ("  /  /  ", "0000-00-00", "0000-00-00 00:00:00.0", ...).
//     A time-only value carries the empty date's day and a time of day.
//   - A year 0 ... 99 given to a constructor is expanded with the configured
//     year limit L (default 40): 0 ... L become 20yy, L+1 ... 99 become 19yy.
//
// Counts that generated code passes as 32-bit integers (months, days, hours)
// are read as such: a larger value wraps as a 32-bit integer would.
//
// Results are C++ types: the part readers answer integers under both their
// plain and their `Integer` names. Texts that do not parse give the empty
// date, except qnCharToDate, which gives no value.
//
// Thread-safety: every function is thread-safe; formatters are cached per
// thread.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/decimal.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/dates.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace qn {

// --- Formatter access -------------------------------------------------------

// The formatter for the language's locale (the configured "QNCulture", else
// the language's own locale; "en_US_POSIX" without a language).
QN_API std::shared_ptr<DateFormatter> formatterWithLanguageDateFormatTimeZone(
    std::optional<StringView> language, StringView pattern, const TimeZone& zone);
// The cached formatter for (locale or "en_US_POSIX" when absent, pattern, zone).
QN_API std::shared_ptr<DateFormatter> formatterWithLocaleIdentifierDateFormatTimeZone(
    std::optional<std::string_view> localeIdentifier, StringView pattern, const TimeZone& zone);
// The offline database's formatter: UTC, "en_US_POSIX", "yyyy-MM-dd HH:mm:ss.SSS".
QN_API std::shared_ptr<DateFormatter> qnDBManagerDateFormatter();

// --- Construction -----------------------------------------------------------

// The two-digit year rule (years outside 0 ... 99 unchanged).
QN_API std::int64_t normalizeTwoDigitsYear(std::int64_t year);
// The date of those parts; the empty date when they name no real date.
QN_API DateTime qnDateFromYearMonthDay(std::int64_t year, std::int64_t month, std::int64_t day);
// A date-time; a time-only value when the date is empty but a time is given;
// the time stays midnight when a time part is out of range.
QN_API DateTime qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(
    std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour, std::int64_t minute,
    std::int64_t second, std::int64_t millisecond);
QN_API DateTime qnDateTimeFromYearMonthDayHourMinuteSecond(std::int64_t year, std::int64_t month,
                                                           std::int64_t day, std::int64_t hour,
                                                           std::int64_t minute,
                                                           std::int64_t second);
QN_API DateTime qnDateTimeFromYearMonthDayHourMinute(std::int64_t year, std::int64_t month,
                                                     std::int64_t day, std::int64_t hour,
                                                     std::int64_t minute);
QN_API DateTime qnDateTimeFromYearMonthDayHour(std::int64_t year, std::int64_t month,
                                               std::int64_t day, std::int64_t hour);
QN_API DateTime qnDateTimeFromYearMonthDay(std::int64_t year, std::int64_t month, std::int64_t day);
// A time-only value; the empty date-time when a part is out of range or all
// are 0.
QN_API DateTime qnTimeOnlyDateTimeFromHourMinuteSecondMillisecond(std::int64_t hour,
                                                                  std::int64_t minute,
                                                                  std::int64_t second,
                                                                  std::int64_t millisecond);
QN_API DateTime qnTimeOnlyDateTimeFromHourMinuteSecond(std::int64_t hour, std::int64_t minute,
                                                       std::int64_t second);

// Today (the local wall clock's day) as a date.
QN_API DateTime qnCurrentDate();
// Now, to the whole second; the local wall clock when times are not converted
// from UTC.
QN_API DateTime qnCurrentDateTime();
// The same with milliseconds.
QN_API DateTime qnCurrentDateTimeMS();
// Now as "HH:mm:ss" in the application time zone.
QN_API String qnTime();

// --- Parts ------------------------------------------------------------------
// Date forms read the date calendar, date-time forms the date-time calendar.
// The empty date reads 0 everywhere; a time-only value reads 0 for its date
// through the date-time forms.

QN_API std::int64_t qnDateDay(DateTime d);
QN_API std::int64_t qnDateMonth(DateTime d);
QN_API std::int64_t qnDateYear(DateTime d);
QN_API std::int64_t qnDateTimeDay(DateTime d);
QN_API std::int64_t qnDateTimeMonth(DateTime d);
QN_API std::int64_t qnDateTimeYear(DateTime d);
QN_API std::int64_t qnHours(DateTime d);
QN_API std::int64_t qnMinutes(DateTime d);
QN_API std::int64_t qnSeconds(DateTime d);
QN_API std::int64_t qnMilliseconds(DateTime d);
// 1 Sunday ... 7 Saturday; 0 for a time-only value.
QN_API std::int64_t qnDateDayOfWeek(DateTime d);
QN_API std::int64_t qnDateTimeDayOfWeek(DateTime d);

inline std::int64_t qnDateDayInteger(DateTime d) {
    return qnDateDay(d);
}
inline std::int64_t qnDateMonthInteger(DateTime d) {
    return qnDateMonth(d);
}
inline std::int64_t qnDateYearInteger(DateTime d) {
    return qnDateYear(d);
}
inline std::int64_t qnDateTimeDayInteger(DateTime d) {
    return qnDateTimeDay(d);
}
inline std::int64_t qnDateTimeMonthInteger(DateTime d) {
    return qnDateTimeMonth(d);
}
inline std::int64_t qnDateTimeYearInteger(DateTime d) {
    return qnDateTimeYear(d);
}
inline std::int64_t qnHoursInteger(DateTime d) {
    return qnHours(d);
}
inline std::int64_t qnMinutesInteger(DateTime d) {
    return qnMinutes(d);
}
inline std::int64_t qnSecondsInteger(DateTime d) {
    return qnSeconds(d);
}
inline std::int64_t qnMillisecondsInteger(DateTime d) {
    return qnMilliseconds(d);
}
inline std::int64_t qnDateDayOfWeekInteger(DateTime d) {
    return qnDateDayOfWeek(d);
}
inline std::int64_t qnDateTimeDayOfWeekInteger(DateTime d) {
    return qnDateTimeDayOfWeek(d);
}

// Full weekday and month names in the language's locale ("en_US_POSIX", that
// is English, without one), each word capitalised; "" for a time-only value.
QN_API String qnDateCharDayOfWeekWithLanguage(DateTime d, std::optional<StringView> language);
QN_API String qnDateTimeCharDayOfWeekWithLanguage(DateTime d, std::optional<StringView> language);
QN_API String qnDateCharMonthWithLanguage(DateTime d, std::optional<StringView> language);
QN_API String qnDateTimeCharMonthWithLanguage(DateTime d, std::optional<StringView> language);
inline String qnDateCharDayOfWeek(DateTime d) {
    return qnDateCharDayOfWeekWithLanguage(d, std::nullopt);
}
inline String qnDateTimeCharDayOfWeek(DateTime d) {
    return qnDateTimeCharDayOfWeekWithLanguage(d, std::nullopt);
}
inline String qnDateCharMonth(DateTime d) {
    return qnDateCharMonthWithLanguage(d, std::nullopt);
}
inline String qnDateTimeCharMonth(DateTime d) {
    return qnDateTimeCharMonthWithLanguage(d, std::nullopt);
}
inline bool qnIsEmpty(DateTime d) {
    return isQnEmptyDate(d);
}

// --- Arithmetic -------------------------------------------------------------

QN_API DateTime qnDateByAddingDays(DateTime d, std::int64_t days);
QN_API DateTime qnDateByAddingMonths(DateTime d, std::int64_t months);
QN_API DateTime qnDateByAddingYears(DateTime d, std::int64_t years);
// Keep the wall-clock time across a daylight-saving change.
QN_API DateTime qnDateTimeByAddingDays(DateTime d, std::int64_t days);
QN_API DateTime qnDateTimeByAddingMonths(DateTime d, std::int64_t months);
QN_API DateTime qnDateTimeByAddingYears(DateTime d, std::int64_t years);
// Whole seconds plus the fraction rounded to milliseconds.
QN_API DateTime qnDateTimeByAddingSeconds(DateTime d, double seconds);
QN_API DateTime qnDateTimeByAddingSeconds(DateTime d, const Decimal& seconds);
QN_API DateTime qnDateTimeByAddingMinutes(DateTime d, std::int64_t minutes);
QN_API DateTime qnDateTimeByAddingHours(DateTime d, std::int64_t hours);
QN_API DateTime qnDateTimeByAddingMilliseconds(DateTime d, std::int64_t milliseconds);

// Whole days from `other` to `d` in the date calendar (positive when `d` is
// later).
QN_API std::int64_t qnDateDifferenceWith(DateTime d, DateTime other);
inline std::int64_t qnDateTimeDifferenceWith(DateTime d, DateTime other) {
    return qnDateDifferenceWith(d, other);
}
// d - other in seconds, rounded down / rounded to milliseconds.
QN_API double impl_qnSecondsToDate(DateTime d, DateTime other);
QN_API double impl_qnSecondsWithMillisecondsToDate(DateTime d, DateTime other);
// Whole years from `d` to `reference` in the date calendar.
QN_API std::int64_t impl_qnAge(DateTime d, DateTime reference);
// The same up to now (with milliseconds for a date-time, today for a date).
QN_API std::int64_t impl_qnAge(DateTime d);

QN_API DateTime qnDateEndOfMonth(DateTime d);
QN_API DateTime qnDateTimeEndOfMonth(DateTime d);
// Rounded down to the whole minute.
QN_API DateTime qnDateTimeWithZeroSeconds(DateTime d);
QN_API DateTime qnDateByRemovingTimePartFromDate(DateTime d);
QN_API DateTime qnDateByRemovingDatePartFromDate(DateTime d);
// From the local wall clock to UTC (the date form then drops the time).
QN_API DateTime qnDateToUTC(DateTime d);
QN_API DateTime qnDateTimeToUTC(DateTime d);

// The value-type comparisons: by the difference in seconds rounded down, so
// `after` needs at least one whole second.
QN_API bool before(DateTime d, DateTime other);
QN_API bool after(DateTime d, DateTime other);
QN_API std::int64_t qnSecondsToDate(DateTime d, DateTime other);
QN_API Decimal qnSecondsToDateWithMilliseconds(DateTime d, DateTime other);
inline std::int64_t qnAge(DateTime d) {
    return impl_qnAge(d);
}
inline std::int64_t qnAge(DateTime d, DateTime reference) {
    return impl_qnAge(d, reference);
}

// --- Text -------------------------------------------------------------------

// Date format numbers: 1 "yy-MM-dd", 2 "MM-dd-yy", 3 "dd-MM-yy",
// 4 "MM-dd-yyyy", 5 "dd-MM-yyyy", any other "yyyy-MM-dd".
QN_API String dateFormatWithFormatNumber(std::int64_t number);
// The format number adjusted to the year width of a date length (8 two
// digits, 10 four digits).
QN_API std::int64_t convertNumericDateFormatForDateLength(std::int64_t number,
                                                          std::int64_t dateLength);
// The current language's date format number: its date convention ("ENG"
// MDY 2; "SPA", "ITA", "POR" DMY 3; "CHS", "CHT", "JAP", "ANSI" YMD 1; any
// other, and no language, DMY 3).
QN_API std::int64_t qnDateFormatNumberForCurrentLanguage();

// "  /  /  ".
QN_API String qnEmptyDateToString();
// "  /  /   00:00:00", or "  /  /   12:00:00 AM" under the 12-hour clock.
QN_API String qnEmptyDateTimeToString();

// The configured date format, in UTC.
QN_API String qnDateToString(DateTime d);
QN_API String qnDateToStringWithFormatDelimiter(DateTime d, std::int64_t number,
                                                StringView delimiter);
inline String qnDateToStringWithFormat(DateTime d, std::int64_t number) {
    return qnDateToStringWithFormatDelimiter(d, number, u"-");
}
// A picture's length chooses the date and time parts, written by the host's
// style-based formatter in the current language's locale, UTC.
QN_API String qnDateToStringWithPicture(DateTime d, StringView picture);
// The configured date format and the time (24- or 12-hour clock).
QN_API String qnTimeToString(DateTime d);
QN_API String
qnTimeToStringWithDateLengthTimeLengthAmPmFormatDateSeparatorTimeSeparatorDateTimeSeparator(
    DateTime d, std::int64_t dateLength, std::int64_t timeLength, bool amPm, std::int64_t format,
    StringView dateSeparator, StringView timeSeparator, StringView dateTimeSeparator);

// The readers of typed texts below take a day, month, hour, minute or second
// with or without its leading zero ("5/3/2021").
// The configured date format in UTC; absent when the text does not parse.
QN_API std::optional<DateTime> qnCharToDate(StringView text);
QN_API DateTime qnCharToDateFormat(StringView text, std::int64_t number);
// The configured date format with "/" read as "-", as qnCharToTimeFormat does.
QN_API DateTime qnCharToTime(StringView text);
QN_API DateTime qnCharToTimeFormat(StringView text, std::int64_t number);
QN_API DateTime qnCharToTimeWithDateFormat(StringView text, StringView datePattern);
// "HH[:mm[:ss[.SSS]]]" as a time-only value; an "AM" or "PM" marker reads the
// hour on the 12-hour clock.
QN_API DateTime qnCharToTimeOnly(StringView text);
// The pattern qnCharToTimeWithDateFormat parses a text containing "-" with
// (exposed for tools and tests).
QN_API String qnDateTimePatternForText(StringView text, StringView datePattern);

// "yyyy-mm-dd[Thh:mm:ss]" by character positions.
QN_API DateTime qnDateFromSOAPValue(StringView text);
QN_API DateTime qnDateTimeFromSOAPValue(StringView text);

}  // namespace qn
