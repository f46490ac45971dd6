// Dates as the host supplies them to the date built-ins: the empty date, the
// application time zone, the two Gregorian calendars and date formatters.
//
// The calendar is ICU's Gregorian calendar, which counts days before
// 1582-10-15 in the Julian calendar; every civil reading in the library
// (formatters, calendars, DateTime::toCivilUTC) uses that same reckoning, so
// a date written by one part reads back unchanged through another.
//
// Two calendars matter. The date calendar works in UTC: dates are the UTC
// midnight of their day, and are built, read, written and parsed in UTC. The
// date-time calendar works in the application time zone when stored times are
// converted from UTC (QNTimeZone::convertTimesFromUTC), and in UTC otherwise,
// because then a stored date-time already holds the local wall clock.
//
// Thread-safety: TimeZone and Calendar are immutable values; the free
// functions are thread-safe; a DateFormatter is thread-compatible, and the
// per-thread cache hands each thread its own.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/string.h>
#include <qn/export.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qn {

// --- The empty date ------------------------------------------------------

// 0001-01-01 00:00:00.000 in the date calendar: the date that was not given.
inline constexpr DateTime qnEmptyDate() noexcept {
    return DateTime(-63114076800.0);
}
// The empty date seen as a date-time (the same instant).
inline constexpr DateTime qnEmptyDateTime() noexcept {
    return qnEmptyDate();
}
inline constexpr bool isQnEmptyDate(DateTime d) noexcept {
    return d == qnEmptyDate();
}
// The value's calendar date is 0001-01-01 in the date calendar (the empty
// date included): it carries only a time of day.
QN_API bool isQnTimeOnlyDateTime(DateTime d) noexcept;
// The value has a time of day (it is not at 00:00:00.000 in the date calendar).
QN_API bool isQnDateTime(DateTime d) noexcept;
// The value with its time of day removed in the date calendar.
QN_API DateTime qnDateNSDate(DateTime d) noexcept;

// --- Time zones ----------------------------------------------------------

// A time zone of the tz database. Immutable; copies share one zone.
class QN_API TimeZone {
public:
    // UTC.
    TimeZone();
    static TimeZone utc();
    // The zone of a tz identifier ("Europe/Madrid", "UTC", "GMT+3"); absent
    // for an identifier the database does not know.
    static std::optional<TimeZone> named(StringView identifier);

    const String& name() const noexcept;
    // No offset at any instant (UTC, GMT, Etc/UTC...).
    bool isUTC() const noexcept;
    // The offset from UTC at an instant, in seconds, daylight saving included.
    int secondsFromGMTForDate(DateTime instant) const;
    // The offset of a wall-clock time of this zone (given as if it were UTC):
    // for a time skipped by a change the offset before the change, for a time
    // that happens twice the later instant's, as ICU's calendar resolves them
    // (so building and parsing agree).
    int secondsFromGMTForWallClock(DateTime wallClock) const;

    friend bool operator==(const TimeZone& a, const TimeZone& b) noexcept {
        return a.impl_ == b.impl_ || a.name() == b.name();
    }

    struct Impl;
    const Impl& impl() const noexcept { return *impl_; }

private:
    friend class QNTimeZone;
    explicit TimeZone(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
    std::shared_ptr<const Impl> impl_;
};

// The application time zone and whether stored times are converted from UTC.
class QN_API QNTimeZone {
public:
    // The application time zone: the one set, else the system's (read once;
    // "UTC" when the system names none).
    static TimeZone currentTimeZone();
    // currentTimeZone() when times are converted from UTC, else UTC.
    static TimeZone currentTimeZoneWithUTCConversionIfNeeded();
    static String currentTimeZoneName() { return currentTimeZone().name(); }
    // Sets the application time zone; empty restores the system's. False,
    // with nothing changed, for an identifier the tz database does not know.
    static bool setCurrentTimeZoneName(StringView identifier);

    static bool convertTimesFromUTC() noexcept;
    static void setConvertTimesFromUTC(bool convert) noexcept;
};

// The instant shifted by the application time zone's offset: a UTC reading of
// the result gives the local wall clock of `d`.
QN_API DateTime localTimeZoneDateFromGMT(DateTime d);
// The inverse: `d` holds a local wall clock read as UTC; the result is the
// instant it names.
QN_API DateTime gmtTimeZoneDateFromCurrent(DateTime d);

// --- Calendars -----------------------------------------------------------

// The fields of an instant in a calendar.
struct DateComponents {
    std::int64_t year = 1;  // extended year: 0 is 1 BC
    int month = 1;          // 1 ... 12
    int day = 1;            // 1 ... 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int nanosecond = 0;  // whole milliseconds x 10^6
    int weekday = 1;     // 1 Sunday ... 7 Saturday
};

// The Gregorian calendar (Julian before 1582-10-15) in a time zone. Immutable.
class QN_API Calendar {
public:
    explicit Calendar(TimeZone zone) : zone_(std::move(zone)) {}
    // The date calendar (UTC).
    static Calendar qnCalendar();
    // The date-time calendar: Gregorian in currentTimeZoneWithUTCConversionIfNeeded().
    static Calendar qnCalendarCurrentTimeZone();

    const TimeZone& timeZone() const noexcept { return zone_; }

    // The wall-clock fields of an instant (milliseconds truncated).
    DateComponents components(DateTime d) const;
    // The instant of wall-clock fields; fields out of range carry over
    // (month 13 is January of the next year, day 0 the last of the month
    // before), as a lenient calendar does.
    DateTime dateFromComponents(std::int64_t year, std::int64_t month, std::int64_t day,
                                std::int64_t hour = 0, std::int64_t minute = 0,
                                std::int64_t second = 0, std::int64_t nanosecond = 0) const;
    // Calendar addition on the wall clock, as ICU's calendar adds: months and
    // years keep the day, pinned to the end of a shorter month (January 31 +
    // 1 month is the last of February), and the time of day to the
    // millisecond; days keep the time of day (a skipped hour moves on, a
    // repeated one keeps the occurrence reached) and any fraction of a
    // millisecond. Adding zero returns `d` unchanged.
    DateTime dateByAddingYears(DateTime d, std::int64_t years) const;
    DateTime dateByAddingMonths(DateTime d, std::int64_t months) const;
    DateTime dateByAddingDays(DateTime d, std::int64_t days) const;
    // Whole days and whole years from `from` to `to`: the most that, added to
    // `from`, do not pass `to` (negative when `to` is earlier).
    std::int64_t daysFrom(DateTime from, DateTime to) const;
    std::int64_t yearsFrom(DateTime from, DateTime to) const;

private:
    TimeZone zone_;
};

// --- Date formatters -----------------------------------------------------

// Writes and parses dates with a TR35 pattern ("yyyy-MM-dd HH:mm:ss.SSS") in
// a locale and a time zone, on ICU. Parsing is strict: the whole text must
// match the pattern and name a real date. The fixed numeric patterns of the
// library (database, REST, SOAP) are written and read without ICU when the
// text is canonical, with ICU's results.
//
// Thread-compatible: use one from one thread at a time. The per-thread cache
// gives each thread its own.
class QN_API DateFormatter {
public:
    // An empty locale identifier means "en_US_POSIX".
    DateFormatter(std::string_view localeIdentifier, StringView pattern, TimeZone zone);
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    // The text of an instant; "" when it cannot be written (not finite, or
    // beyond the calendar's range).
    String stringFromDate(DateTime d) const;
    // The instant the whole text names; absent when it does not parse.
    std::optional<DateTime> dateFromString(StringView text) const;
    // The same for a text a person typed: a two-letter month, day, hour,
    // minute or second field may hold one digit ("5/3/2021" for
    // "dd/MM/yyyy"). Everything else is as strict as dateFromString.
    std::optional<DateTime> dateFromTypedString(StringView text) const;

    const std::string& localeIdentifier() const noexcept;
    const String& dateFormat() const noexcept;
    const TimeZone& timeZone() const noexcept;

    // This thread's formatter for (locale, pattern, zone), made on first
    // use; it stays cached while the thread lives.
    static std::shared_ptr<DateFormatter> forThread(std::string_view localeIdentifier,
                                                    StringView pattern, const TimeZone& zone);

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

// The cached UTC, "en_US_POSIX" formatter of a pattern.
QN_API std::shared_ptr<DateFormatter>
dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(StringView pattern);

// Styles of the style-based formatter. The host renders them as numeric
// texts in the locale's field order: a short date has a two-digit year, a
// medium one a four-digit year; a short time has hours and minutes, a medium
// one seconds too (and milliseconds when asked). The locale chooses the
// 12- or 24-hour clock.
enum class DateFormatterStyle { kNone, kShort, kMedium, kLong, kFull };

// Date picture codes: 0 none, 1 two-digit year (short), 2 four-digit year
// (medium).
QN_API DateFormatterStyle dateFormatterStyleFromQNDataDateFormat(int code) noexcept;
// Time picture codes: 0 none, 1 hours and minutes (short), 2 with seconds
// and 3 with milliseconds (medium).
QN_API DateFormatterStyle dateFormatterStyleFromQNDataTimeFormat(int code) noexcept;
// The pattern the style-based formatter uses in a locale.
QN_API String datePatternForStyles(std::string_view localeIdentifier, DateFormatterStyle dateStyle,
                                   DateFormatterStyle timeStyle, bool milliseconds);
// The instant written by the style-based formatter ("" for no style at all).
QN_API String stringFromDateWithStyles(DateTime d, std::string_view localeIdentifier,
                                       DateFormatterStyle dateStyle, DateFormatterStyle timeStyle,
                                       bool milliseconds, const TimeZone& zone);

}  // namespace qn
