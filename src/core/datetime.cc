// The stored instant and its UTC civil fields, on the same reckoning as the
// date calendars (src/runtime/civil.h): Gregorian from 1582-10-15, Julian
// before, so the empty date (0001-01-01) prints as what it is.
#include <qn/core/datetime.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "core/civil.h"
#include "core/instant.h"

namespace qn {
namespace {

using internal::floorDiv;
using internal::kSecondsPerDay;

// Years beyond this are meaningless for a double of seconds (its resolution is
// far coarser than a day there) and would overflow the day count; they clamp.
constexpr std::int64_t kYearLimit = 1000000000000;
// The calendars' range (internal::kMaxSeconds).
constexpr double kSecondsLimit = internal::kMaxSeconds;

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
    const std::int64_t days = internal::daysFromCivil(year, month, civil.day);
    const std::int64_t seconds = static_cast<std::int64_t>(civil.hour) * 3600 +
                                 static_cast<std::int64_t>(civil.minute) * 60 + civil.second;
    return DateTime(static_cast<double>(days) * kSecondsPerDay + static_cast<double>(seconds) +
                    civil.millisecond / 1000.0);
}

CivilDateTime DateTime::toCivilUTC() const noexcept {
    CivilDateTime out;
    if (!std::isfinite(seconds_)) return out;
    // Read as the calendars read it; instants beyond their range clamp.
    const auto read = internal::millisSince2001(
        DateTime(std::clamp(seconds_, -kSecondsLimit * 0.999, kSecondsLimit * 0.999)));
    if (!read) return out;
    const auto civil = internal::civilTimeFromMillis(*read);
    out.year = civil.date.year;
    out.month = civil.date.month;
    out.day = civil.date.day;
    out.hour = civil.hour;
    out.minute = civil.minute;
    out.second = civil.second;
    out.millisecond = civil.millisecond;
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
