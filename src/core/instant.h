// The one conversion between a DateTime (seconds since 2001 as a double) and
// the milliseconds every calendar reading uses, shared by the civil fields of
// DateTime, the calendars and the formatters so they agree on the millisecond.
#pragma once

#include <qn/core/datetime.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

namespace qn::internal {

constexpr std::int64_t kMillis1970To2001 = 978307200000;
// Beyond this many seconds from 2001 an instant is outside every calendar the
// library writes (ICU's own range ends near 1.8e14).
constexpr double kMaxSeconds = 1e14;

// ICU's UDate of an instant. A double of seconds holds a millisecond only
// approximately (0.123 is 0.12299999...), and far from 2001 it is coarser than
// a microsecond, so an instant within two units in its last place of a whole
// millisecond is that millisecond (a date written, read and written again
// stays the same in every year); any other is read to the microsecond.
inline double toUDate(DateTime d) noexcept {
    const double s = d.timeIntervalSinceReferenceDate();
    constexpr auto kOffset = static_cast<double>(kMillis1970To2001);
    if (!(std::fabs(s) < kMaxSeconds)) return s * 1000.0 + kOffset;
    const double whole = std::floor(s);
    const double fraction = (s - whole) * 1000.0;  // milliseconds, exact enough
    const double nearest = std::nearbyint(fraction);
    // The next double up, by its bits (a libm call would cost more than the rest).
    const double ulp =
        std::bit_cast<double>(std::bit_cast<std::uint64_t>(std::fabs(s)) + 1) - std::fabs(s);
    const double tolerance = std::max(2000.0 * ulp, 1e-6);
    const double part = std::fabs(fraction - nearest) <= tolerance
                            ? nearest
                            : std::nearbyint(fraction * 1000.0) / 1000.0;
    return (whole * 1000.0 + kOffset) + part;
}

// Milliseconds since 2001 of an instant, on a wall clock `offsetMillis` ahead
// of UTC, exactly as ICU's calendar reads the UDate (the day by a floating
// division, the time of day truncated), so direct code and ICU always agree
// on the millisecond. Absent for an instant that is not finite or out of range.
inline std::optional<std::int64_t> millisSince2001(DateTime d,
                                                   std::int32_t offsetMillis = 0) noexcept {
    if (!(std::fabs(d.timeIntervalSinceReferenceDate()) < kMaxSeconds)) return std::nullopt;
    constexpr double kDay = 86400000.0;
    const double local = toUDate(d) + offsetMillis;
    const double days = std::floor(local / kDay);
    return static_cast<std::int64_t>(days) * static_cast<std::int64_t>(kDay) +
           static_cast<std::int64_t>(local - days * kDay) - kMillis1970To2001;
}

inline DateTime fromMillisSince2001(std::int64_t millis) noexcept {
    return DateTime(static_cast<double>(millis) / 1000.0);
}

inline DateTime fromUDate(double udate) noexcept {
    return DateTime((udate - static_cast<double>(kMillis1970To2001)) / 1000.0);
}

}  // namespace qn::internal
