// The stored instant and its UTC civil fields.
//
// Civil arithmetic is the days-from-civil algorithm on the proleptic
// Gregorian calendar (400-year eras), which is exact for every year,
// including year 1 and years before it, with no table and no time zone.
#include <qn/core/datetime.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace qn {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 0000-03-01 to 1970-01-01, and from 1970-01-01 to 2001-01-01.
constexpr std::int64_t kDaysTo1970 = 719468;
constexpr std::int64_t kDays1970To2001 = 11323;
// Years beyond this are meaningless for a double of seconds (its resolution is
// far coarser than a day there) and would overflow the day count; they clamp.
constexpr std::int64_t kYearLimit = 1000000000000;
constexpr double kSecondsLimit = 1e17;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days since 2001-01-01 of year/month(1..12)/1.
std::int64_t daysFromCivil(std::int64_t year, int month) noexcept {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floorDiv(year, 400);
    const std::int64_t yearOfEra = year - era * 400;                                // [0, 399]
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;  // [0, 365]
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - kDaysTo1970 - kDays1970To2001;
}

void civilFromDays(std::int64_t days, CivilDateTime& out) noexcept {
    const std::int64_t z = days + kDaysTo1970 + kDays1970To2001;
    const std::int64_t era = floorDiv(z, 146097);
    const std::int64_t dayOfEra = z - era * 146097;  // [0, 146096]
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // [0, 399]
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;  // [0, 11], March-based
    out.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    out.year = yearOfEra + era * 400 + (out.month <= 2 ? 1 : 0);
}

}  // namespace

DateTime DateTime::now() noexcept {
    const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    return fromTimeIntervalSince1970(std::chrono::duration<double>(since1970).count());
}

DateTime DateTime::fromCivilUTC(const CivilDateTime& civil) noexcept {
    // Months carry into years first; the rest is linear in seconds.
    const std::int64_t monthIndex = static_cast<std::int64_t>(civil.month) - 1;
    const std::int64_t year =
        std::clamp(civil.year, -kYearLimit, kYearLimit) + floorDiv(monthIndex, 12);
    const int month = static_cast<int>(monthIndex - floorDiv(monthIndex, 12) * 12) + 1;
    const std::int64_t days =
        daysFromCivil(year, month) + (static_cast<std::int64_t>(civil.day) - 1);
    const std::int64_t seconds = static_cast<std::int64_t>(civil.hour) * 3600 +
                                 static_cast<std::int64_t>(civil.minute) * 60 + civil.second;
    return DateTime(static_cast<double>(days) * kSecondsPerDay + static_cast<double>(seconds) +
                    civil.millisecond / 1000.0);
}

CivilDateTime DateTime::toCivilUTC() const noexcept {
    CivilDateTime out;
    if (!std::isfinite(seconds_)) return out;
    const double clamped = std::clamp(seconds_, -kSecondsLimit, kSecondsLimit);
    double whole = std::floor(clamped);
    // Truncate to milliseconds, but read a value within the double's own
    // resolution (at least a microsecond) below a millisecond as that
    // millisecond: 0.123 is stored as 0.12299999... and must read 123.
    const double ulp = std::nextafter(std::fabs(clamped), kSecondsLimit * 2) - std::fabs(clamped);
    const double tolerance = std::max(1e-3, ulp * 1000);
    auto millis = static_cast<int>(std::floor((clamped - whole) * 1000 + tolerance));
    if (millis >= 1000) {
        millis -= 1000;
        whole += 1;
    }
    const auto total = static_cast<std::int64_t>(whole);
    const std::int64_t days = floorDiv(total, kSecondsPerDay);
    const std::int64_t inDay = total - days * kSecondsPerDay;
    civilFromDays(days, out);
    out.hour = static_cast<int>(inDay / 3600);
    out.minute = static_cast<int>(inDay / 60 % 60);
    out.second = static_cast<int>(inDay % 60);
    out.millisecond = millis;
    return out;
}

String DateTime::description() const {
    const CivilDateTime c = toCivilUTC();
    char buffer[64];
    const int n =
        std::snprintf(buffer, sizeof buffer, "%s%04lld-%02d-%02d %02d:%02d:%02d +0000",
                      c.year < 0 ? "-" : "", static_cast<long long>(c.year < 0 ? -c.year : c.year),
                      c.month, c.day, c.hour, c.minute, c.second);
    return String(buffer, buffer + std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1));
}

}  // namespace qn
