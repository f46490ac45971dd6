// A point in time as generated code keeps it: seconds since the reference
// date 2001-01-01 00:00:00 UTC, as a double (fractions are milliseconds and
// below). The empty date, calendars and time zones belong to the date
// built-ins; this type is only the stored instant.
//
// Immutable value type: thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <compare>
#include <cstdint>

namespace qn {

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
inline constexpr double kTimeIntervalBetween1970AndReferenceDate = 978307200.0;

// A civil date and time of day in UTC: Gregorian from 1582-10-15, Julian
// before, as the date calendars reckon.
struct CivilDateTime {
    std::int64_t year = 2001;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
    int millisecond = 0;
};

class QN_API DateTime {
public:
    constexpr DateTime() noexcept = default;
    constexpr explicit DateTime(double secondsSinceReferenceDate) noexcept
        : seconds_(secondsSinceReferenceDate) {}

    static DateTime now() noexcept;
    static constexpr DateTime fromTimeIntervalSince1970(double seconds) noexcept {
        return DateTime(seconds - kTimeIntervalBetween1970AndReferenceDate);
    }
    // The instant of a UTC civil date and time; fields out of their range
    // carry over (month 13 is January of the next year).
    static DateTime fromCivilUTC(const CivilDateTime& civil) noexcept;

    constexpr double timeIntervalSinceReferenceDate() const noexcept { return seconds_; }
    constexpr double timeIntervalSince1970() const noexcept {
        return seconds_ + kTimeIntervalBetween1970AndReferenceDate;
    }
    // The UTC civil fields (milliseconds truncated toward the past).
    CivilDateTime toCivilUTC() const noexcept;

    // "yyyy-MM-dd HH:mm:ss +0000", in UTC.
    String description() const;

    friend constexpr bool operator==(DateTime a, DateTime b) noexcept {
        return a.seconds_ == b.seconds_;
    }
    friend constexpr std::partial_ordering operator<=>(DateTime a, DateTime b) noexcept {
        return a.seconds_ <=> b.seconds_;
    }

private:
    double seconds_ = 0.0;
};

}  // namespace qn
