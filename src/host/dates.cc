// The empty date, time zones, the application time zone and the calendars.
//
// Calendars do their civil arithmetic themselves (src/runtime/civil.h, the
// same reckoning as ICU's Gregorian calendar) and ask ICU only for zone
// offsets: a calendar object per call would cost a microsecond and a lock-free
// const zone costs a few nanoseconds.
#include <qn/host/dates.h>
#include <qn/host/log.h>

#include <unicode/unistr.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "core/civil.h"
#include "host/date_internal.h"

namespace qn {
namespace {

using internal::civilFromDays;
using internal::daysFromCivil;
using internal::floorDiv;
using internal::kMillisPerDay;

constexpr std::int64_t kMillisPerSecond = 1000;

String fromUnicode(const icu::UnicodeString& s) {
    return String(s.getBuffer(), static_cast<std::size_t>(s.length()));
}

icu::UnicodeString aliasOf(StringView s) {
    return icu::UnicodeString(false, s.data(), static_cast<int32_t>(s.size()));
}

// Canonical zones with no offset at any instant.
bool isUTCZone(const icu::TimeZone& zone, const icu::UnicodeString& id) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString canonical;
    UBool isSystem = false;
    icu::TimeZone::getCanonicalID(id, canonical, isSystem, status);
    if (U_FAILURE(status)) return false;
    if (!isSystem) return zone.getRawOffset() == 0 && !zone.useDaylightTime();
    return canonical == u"Etc/UTC" || canonical == u"Etc/GMT" || canonical == u"Etc/UCT";
}

std::shared_ptr<const TimeZone::Impl> makeZone(std::unique_ptr<icu::TimeZone> zone) {
    auto impl = std::make_shared<TimeZone::Impl>();
    icu::UnicodeString id;
    zone->getID(id);
    impl->name = fromUnicode(id);
    impl->utf8Name = toUtf8(impl->name);
    impl->utc = isUTCZone(*zone, id);
    impl->zone = std::move(zone);
    return impl;
}

const std::shared_ptr<const TimeZone::Impl>& utcImpl() {
    static const std::shared_ptr<const TimeZone::Impl> impl =
        makeZone(std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(u"UTC")));
    return impl;
}

// --- The application time zone ----------------------------------------------

struct ZoneState {
    std::mutex mutex;
    std::shared_ptr<const TimeZone::Impl> chosen;  // null: the system's
};

ZoneState& zoneState() {
    static ZoneState state;
    return state;
}

// Bumped on every change, so each thread can keep the zone it last read.
std::atomic<std::uint64_t>& zoneGeneration() {
    static std::atomic<std::uint64_t> generation{1};
    return generation;
}

std::atomic<bool>& convertFromUTCFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

// The system's zone, read once: the process's TZ, else /etc/localtime.
const std::shared_ptr<const TimeZone::Impl>& systemImpl() {
    static const std::shared_ptr<const TimeZone::Impl> impl = [] {
        std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
        if (!zone || *zone == icu::TimeZone::getUnknown()) return utcImpl();
        return makeZone(std::move(zone));
    }();
    return impl;
}

}  // namespace

// --- Empty date ---------------------------------------------------------------

bool isQnTimeOnlyDateTime(DateTime d) noexcept {
    const double s = d.timeIntervalSinceReferenceDate();
    const double start = qnEmptyDate().timeIntervalSinceReferenceDate();
    return s >= start && s < start + internal::kSecondsPerDay;
}

bool isQnDateTime(DateTime d) noexcept {
    auto millis = internal::millisSince2001(d);
    return millis && internal::floorMod(*millis, kMillisPerDay) != 0;
}

DateTime qnDateNSDate(DateTime d) noexcept {
    auto millis = internal::millisSince2001(d);
    if (!millis) return d;
    return internal::fromMillisSince2001(floorDiv(*millis, kMillisPerDay) * kMillisPerDay);
}

// --- TimeZone -----------------------------------------------------------------

TimeZone::TimeZone() : impl_(utcImpl()) {}

TimeZone TimeZone::utc() {
    return TimeZone();
}

std::optional<TimeZone> TimeZone::named(StringView identifier) {
    if (identifier.empty()) return std::nullopt;
    const icu::UnicodeString id = aliasOf(identifier);
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
    if (!zone || (*zone == icu::TimeZone::getUnknown() && id != u"Etc/Unknown"))
        return std::nullopt;
    return TimeZone(makeZone(std::move(zone)));
}

const String& TimeZone::name() const noexcept {
    return impl_->name;
}

bool TimeZone::isUTC() const noexcept {
    return impl_->utc;
}

int TimeZone::secondsFromGMTForDate(DateTime instant) const {
    if (impl_->utc) return 0;
    const double udate = internal::toUDate(instant);
    if (!std::isfinite(udate)) return 0;
    std::int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    impl_->zone->getOffset(udate, false, raw, dst, status);
    return U_FAILURE(status) ? 0 : (raw + dst) / 1000;
}

int TimeZone::secondsFromGMTForWallClock(DateTime wallClock) const {
    if (impl_->utc) return 0;
    const double udate = internal::toUDate(wallClock);
    if (!std::isfinite(udate)) return 0;
    std::int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    // What ICU's lenient calendar does by default: a skipped time takes the
    // offset before the change, a repeated one the later instant.
    if (auto* basic = dynamic_cast<const icu::BasicTimeZone*>(impl_->zone.get())) {
        basic->getOffsetFromLocal(udate, UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_LATTER, raw, dst,
                                  status);
    } else {
        impl_->zone->getOffset(udate, true, raw, dst, status);
    }
    return U_FAILURE(status) ? 0 : (raw + dst) / 1000;
}

const icu::TimeZone& internal::icuZone(const TimeZone& zone) noexcept {
    return *zone.impl().zone;
}

// --- QNTimeZone ---------------------------------------------------------------

TimeZone QNTimeZone::currentTimeZone() {
    thread_local std::uint64_t seen = 0;
    thread_local std::shared_ptr<const TimeZone::Impl> cached;
    const std::uint64_t generation = zoneGeneration().load(std::memory_order_acquire);
    if (seen != generation || !cached) {
        auto& state = zoneState();
        std::lock_guard lock(state.mutex);
        cached = state.chosen ? state.chosen : systemImpl();
        seen = zoneGeneration().load(std::memory_order_relaxed);
    }
    return TimeZone(cached);
}

TimeZone QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded() {
    return convertTimesFromUTC() ? currentTimeZone() : TimeZone::utc();
}

bool QNTimeZone::setCurrentTimeZoneName(StringView identifier) {
    std::shared_ptr<const TimeZone::Impl> chosen;
    if (!identifier.empty()) {
        auto zone = TimeZone::named(identifier);
        if (!zone) {
            QNLog::loggerService()->logMessage(u"Unknown time zone \"" + String(identifier) +
                                                   u"\"; the application time zone is unchanged.",
                                               QNLogTypeFiles, QNLogLevelError);
            return false;
        }
        chosen = zone->impl_;
    }
    auto& state = zoneState();
    std::lock_guard lock(state.mutex);
    state.chosen = std::move(chosen);
    zoneGeneration().fetch_add(1, std::memory_order_release);
    return true;
}

bool QNTimeZone::convertTimesFromUTC() noexcept {
    return convertFromUTCFlag().load();
}

void QNTimeZone::setConvertTimesFromUTC(bool convert) noexcept {
    convertFromUTCFlag().store(convert);
}

DateTime localTimeZoneDateFromGMT(DateTime d) {
    const int offset = QNTimeZone::currentTimeZone().secondsFromGMTForDate(d);
    return DateTime(d.timeIntervalSinceReferenceDate() + offset);
}

DateTime gmtTimeZoneDateFromCurrent(DateTime d) {
    const int offset = QNTimeZone::currentTimeZone().secondsFromGMTForWallClock(d);
    return DateTime(d.timeIntervalSinceReferenceDate() - offset);
}

// --- Calendar -----------------------------------------------------------------

Calendar Calendar::qnCalendar() {
    return Calendar(TimeZone::utc());
}

Calendar Calendar::qnCalendarCurrentTimeZone() {
    return Calendar(QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded());
}

namespace {

// Milliseconds since 2001 on the zone's wall clock, read as ICU's calendar
// reads them.
std::optional<std::int64_t> wallMillis(const TimeZone& zone, DateTime d) {
    return internal::millisSince2001(d, zone.secondsFromGMTForDate(d) * 1000);
}

DateTime instantOfWallMillis(const TimeZone& zone, std::int64_t wall) {
    const DateTime asUTC = internal::fromMillisSince2001(wall);
    return internal::fromMillisSince2001(
        wall -
        static_cast<std::int64_t>(zone.secondsFromGMTForWallClock(asUTC)) * kMillisPerSecond);
}

// Limits for fields and counts. Each alone reaches far beyond any calendar's
// range (about three million years either way), so clamping changes no date
// that can be written; together they keep the millisecond sums inside 64 bits.
constexpr std::int64_t kYearLimit = std::int64_t{1} << 25;
constexpr std::int64_t kMonthLimit = std::int64_t{1} << 29;
constexpr std::int64_t kDayLimit = std::int64_t{1} << 34;
constexpr std::int64_t kHourLimit = std::int64_t{1} << 38;
constexpr std::int64_t kMinuteLimit = std::int64_t{1} << 44;
constexpr std::int64_t kSecondLimit = std::int64_t{1} << 50;

std::int64_t clamp(std::int64_t v, std::int64_t limit) {
    return std::clamp(v, -limit, limit);
}

}  // namespace

DateComponents Calendar::components(DateTime d) const {
    DateComponents out;
    auto wall = wallMillis(zone_, d);
    if (!wall) return out;
    const auto civil = internal::civilTimeFromMillis(*wall);
    out.year = civil.date.year;
    out.month = civil.date.month;
    out.day = civil.date.day;
    out.hour = civil.hour;
    out.minute = civil.minute;
    out.second = civil.second;
    out.nanosecond = civil.millisecond * 1000000;
    out.weekday = internal::weekdayFromDays(civil.days);
    return out;
}

DateTime Calendar::dateFromComponents(std::int64_t year, std::int64_t month, std::int64_t day,
                                      std::int64_t hour, std::int64_t minute, std::int64_t second,
                                      std::int64_t nanosecond) const {
    const std::int64_t monthIndex = clamp(month, kMonthLimit) - 1;
    const std::int64_t y = clamp(year, kYearLimit) + floorDiv(monthIndex, 12);
    const int m = static_cast<int>(internal::floorMod(monthIndex, 12)) + 1;
    const std::int64_t days = daysFromCivil(y, m, clamp(day, kDayLimit));
    const std::int64_t wall = days * kMillisPerDay + clamp(hour, kHourLimit) * 3600000 +
                              clamp(minute, kMinuteLimit) * 60000 +
                              clamp(second, kSecondLimit) * kMillisPerSecond +
                              floorDiv(nanosecond, 1000000);
    return instantOfWallMillis(zone_, wall);
}

namespace {

DateTime addMonthsPinned(const Calendar& calendar, DateTime d, std::int64_t months) {
    auto wall = wallMillis(calendar.timeZone(), d);
    if (!wall || months == 0) return d;
    const std::int64_t days = floorDiv(*wall, kMillisPerDay);
    const std::int64_t inDay = *wall - days * kMillisPerDay;
    const auto civil = civilFromDays(days);
    const std::int64_t monthIndex = civil.month - 1 + clamp(months, kMonthLimit);
    const std::int64_t year = civil.year + floorDiv(monthIndex, 12);
    const int month = static_cast<int>(internal::floorMod(monthIndex, 12)) + 1;
    const int day = std::min(civil.day, internal::daysInMonth(year, month));
    return instantOfWallMillis(calendar.timeZone(),
                               daysFromCivil(year, month, day) * kMillisPerDay + inDay);
}

std::int64_t offsetMillisAt(const TimeZone& zone, std::int64_t millis) {
    return static_cast<std::int64_t>(
               zone.secondsFromGMTForDate(internal::fromMillisSince2001(millis))) *
           kMillisPerSecond;
}

// As a calendar counts whole units: the most that, added to `from`, do not
// pass `to` (counting toward the past when `to` is earlier). `guess` comes
// from the wall clocks and is off by at most one.
template <class Add>
std::int64_t wholeUnits(DateTime from, DateTime to, std::int64_t guess, const Add& add) {
    const std::int64_t step = to >= from ? 1 : -1;
    auto passes = [&](std::int64_t n) { return step > 0 ? add(n) > to : add(n) < to; };
    std::int64_t n = guess;
    for (int i = 0; i < 4 && n != 0 && passes(n); ++i)
        n -= step;
    for (int i = 0; i < 4 && !passes(n + step); ++i)
        n += step;
    return n;
}

}  // namespace

DateTime Calendar::dateByAddingYears(DateTime d, std::int64_t years) const {
    return addMonthsPinned(*this, d, clamp(years, kYearLimit) * 12);
}

DateTime Calendar::dateByAddingMonths(DateTime d, std::int64_t months) const {
    return addMonthsPinned(*this, d, months);
}

DateTime Calendar::dateByAddingDays(DateTime d, std::int64_t days) const {
    auto start = internal::millisSince2001(d);
    if (!start || days == 0) return d;
    // ICU's add(): move by whole days, then by the change of offset so the
    // wall clock stays; when that lands in a skipped hour the first move
    // stands. A repeated hour keeps the occurrence the move reached, and the
    // fraction of a millisecond rides along.
    const auto wallInDay = [&](std::int64_t t, std::int64_t offset) {
        return internal::floorMod(t + offset, kMillisPerDay);
    };
    const std::int64_t before = offsetMillisAt(zone_, *start);
    const std::int64_t wall = wallInDay(*start, before);
    const std::int64_t moved = *start + clamp(days, kDayLimit) * kMillisPerDay;
    std::int64_t result = moved;
    const std::int64_t after = offsetMillisAt(zone_, moved);
    if (after != before && wallInDay(moved, after) != wall) {
        const std::int64_t adjust = (before - after) % kMillisPerDay;
        if (adjust != 0) result = moved + adjust;
        if (wallInDay(result, offsetMillisAt(zone_, result)) != wall && adjust < 0) result = moved;
    }
    return internal::fromUDate(internal::toUDate(d) + static_cast<double>(result - *start));
}

std::int64_t Calendar::daysFrom(DateTime from, DateTime to) const {
    auto a = wallMillis(zone_, from);
    auto b = wallMillis(zone_, to);
    if (!a || !b) return 0;
    return wholeUnits(from, to, (*b - *a) / kMillisPerDay,
                      [&](std::int64_t n) { return dateByAddingDays(from, n); });
}

std::int64_t Calendar::yearsFrom(DateTime from, DateTime to) const {
    auto a = wallMillis(zone_, from);
    auto b = wallMillis(zone_, to);
    if (!a || !b) return 0;
    return wholeUnits(from, to, components(to).year - components(from).year,
                      [&](std::int64_t n) { return dateByAddingYears(from, n); });
}

}  // namespace qn
