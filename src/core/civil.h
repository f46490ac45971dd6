// Civil dates on ICU's Gregorian calendar: the Gregorian reckoning from
// 1582-10-15, the Julian one before (the day before 1582-10-15 is
// 1582-10-04). Days are counted from 2001-01-01; every function is exact for
// the whole int64 range the callers clamp to, with no tables.
#pragma once

#include <cstdint>

namespace qn::internal {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMillisPerDay = 86400000;

constexpr std::int64_t floorDiv(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

constexpr std::int64_t floorMod(std::int64_t a, std::int64_t b) noexcept {
    return a - floorDiv(a, b) * b;
}

// Day numbers from the March-based year 0 of each reckoning; the offsets put
// both on days since 2001-01-01.
constexpr std::int64_t gregorianDayNumber(std::int64_t year, int month, int day) noexcept {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floorDiv(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
}

constexpr std::int64_t julianDayNumber(std::int64_t year, int month, int day) noexcept {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floorDiv(year, 4);
    const std::int64_t yearOfEra = year - era * 4;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    return era * 1461 + yearOfEra * 365 + dayOfYear;
}

constexpr std::int64_t kGregorianTo2001 = gregorianDayNumber(2001, 1, 1);
// Julian 1582-10-05 is Gregorian 1582-10-15.
constexpr std::int64_t kJulianTo2001 =
    julianDayNumber(1582, 10, 5) - gregorianDayNumber(1582, 10, 15) + kGregorianTo2001;
// The first Gregorian day, in days since 2001-01-01.
constexpr std::int64_t kGregorianCutoverDay = gregorianDayNumber(1582, 10, 15) - kGregorianTo2001;

struct CivilDate {
    std::int64_t year;
    int month;
    int day;
    friend constexpr bool operator==(const CivilDate&, const CivilDate&) = default;
};

// Days since 2001-01-01 of a date with month 1 ... 12 (days may run past the
// month: they count on). As ICU resolves it: the year picks its reckoning
// (Gregorian from 1582), and the other one is used only when the day lands on
// the other side of the cutover: 1582-10-10 is read as Julian (the day written
// 1582-10-20), a day count from 1581 that runs past the cutover as Gregorian.
constexpr std::int64_t daysFromCivil(std::int64_t year, int month, std::int64_t day) noexcept {
    const std::int64_t gregorian = gregorianDayNumber(year, month, 1) - kGregorianTo2001 + day - 1;
    const std::int64_t julian = julianDayNumber(year, month, 1) - kJulianTo2001 + day - 1;
    if (year >= 1582) return gregorian >= kGregorianCutoverDay ? gregorian : julian;
    return julian < kGregorianCutoverDay ? julian : gregorian;
}

constexpr CivilDate civilFromDays(std::int64_t days) noexcept {
    CivilDate out{};
    std::int64_t yearOfEra = 0, era = 0, dayOfYear = 0;
    if (days >= kGregorianCutoverDay) {
        const std::int64_t z = days + kGregorianTo2001;
        era = floorDiv(z, 146097);
        const std::int64_t dayOfEra = z - era * 146097;
        yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        era *= 400;
    } else {
        const std::int64_t z = days + kJulianTo2001;
        era = floorDiv(z, 1461);
        const std::int64_t dayOfEra = z - era * 1461;
        yearOfEra = (dayOfEra - dayOfEra / 1460) / 365;
        dayOfYear = dayOfEra - 365 * yearOfEra;
        era *= 4;
    }
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    out.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    out.year = yearOfEra + era + (out.month <= 2 ? 1 : 0);
    return out;
}

// The civil date and time of day of a count of milliseconds since
// 2001-01-01 00:00:00 (on whatever wall clock the count is on).
struct CivilTime {
    std::int64_t days;  // since 2001-01-01
    CivilDate date;
    int hour, minute, second, millisecond;
};

constexpr CivilTime civilTimeFromMillis(std::int64_t millis) noexcept {
    const std::int64_t days = floorDiv(millis, kMillisPerDay);
    const std::int64_t inDay = millis - days * kMillisPerDay;
    return {days,
            civilFromDays(days),
            static_cast<int>(inDay / 3600000),
            static_cast<int>(inDay / 60000 % 60),
            static_cast<int>(inDay / 1000 % 60),
            static_cast<int>(inDay % 1000)};
}

// 1 Sunday ... 7 Saturday (2001-01-01 was a Monday).
constexpr int weekdayFromDays(std::int64_t days) noexcept {
    return static_cast<int>(floorMod(days + 1, 7)) + 1;
}

constexpr bool isLeapYear(std::int64_t year) noexcept {
    if (year < 1582) return floorMod(year, 4) == 0;
    return floorMod(year, 4) == 0 && (floorMod(year, 100) != 0 || floorMod(year, 400) == 0);
}

constexpr int daysInMonth(std::int64_t year, int month) noexcept {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

static_assert(civilFromDays(0) == CivilDate{2001, 1, 1});
static_assert(civilFromDays(kGregorianCutoverDay) == CivilDate{1582, 10, 15});
static_assert(civilFromDays(kGregorianCutoverDay - 1) == CivilDate{1582, 10, 4});
static_assert(daysFromCivil(1, 1, 1) * kSecondsPerDay == -63114076800);
static_assert(civilFromDays(daysFromCivil(1, 1, 1)) == CivilDate{1, 1, 1});
static_assert(civilFromDays(daysFromCivil(1500, 2, 29)) == CivilDate{1500, 2, 29});
static_assert(weekdayFromDays(0) == 2);
static_assert(daysFromCivil(1582, 10, 10) == daysFromCivil(1582, 10, 20));
static_assert(daysFromCivil(1581, 1, 650) == daysFromCivil(1582, 10, 2));

}  // namespace qn::internal
