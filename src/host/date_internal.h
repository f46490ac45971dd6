// Shared pieces of the date services: the one conversion between DateTime and
// ICU's UDate, the ICU zone behind a TimeZone, and the per-thread formatter
// lookup that hot paths use without taking a reference count.
#pragma once

#include <qn/host/dates.h>

#include <unicode/basictz.h>
#include <unicode/timezone.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qn {

struct TimeZone::Impl {
    String name;
    std::string utf8Name;
    std::unique_ptr<icu::TimeZone> zone;
    bool utc = false;
};

namespace internal {

constexpr std::int64_t kMillis1970To2001 = 978307200000;
// Beyond this many seconds from 2001 a double no longer holds microseconds;
// such instants are outside every calendar the library writes.
constexpr double kMaxSeconds = 1e14;

// Milliseconds since 2001 of an instant, read to the nearest microsecond and
// then truncated toward the past (0.123 s stored as 0.12299999... is 123 ms);
// absent for an instant that is not finite or out of range.
inline std::optional<std::int64_t> millisSince2001(DateTime d) noexcept {
    const double s = d.timeIntervalSinceReferenceDate();
    if (!(std::fabs(s) < kMaxSeconds)) return std::nullopt;
    const auto micros = static_cast<std::int64_t>(std::llround(s * 1e6));
    const std::int64_t q = micros / 1000;
    return (micros % 1000 < 0) ? q - 1 : q;
}

// ICU's UDate of an instant, to the microsecond.
inline double toUDate(DateTime d) noexcept {
    const double s = d.timeIntervalSinceReferenceDate();
    if (!(std::fabs(s) < kMaxSeconds)) return s * 1000.0 + static_cast<double>(kMillis1970To2001);
    return static_cast<double>(std::llround(s * 1e6)) / 1000.0 +
           static_cast<double>(kMillis1970To2001);
}

inline DateTime fromMillisSince2001(std::int64_t millis) noexcept {
    return DateTime(static_cast<double>(millis) / 1000.0);
}

inline DateTime fromUDate(double udate) noexcept {
    return DateTime((udate - static_cast<double>(kMillis1970To2001)) / 1000.0);
}

const icu::TimeZone& icuZone(const TimeZone& zone) noexcept;

// This thread's cached formatter; valid until this thread caches another.
DateFormatter& threadFormatter(std::string_view localeIdentifier, StringView pattern,
                               const TimeZone& zone);

}  // namespace internal
}  // namespace qn
