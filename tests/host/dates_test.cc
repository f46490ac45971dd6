// The host date services against ICU itself: formatters must be
// indistinguishable from a strict SimpleDateFormat (the direct path for fixed
// numeric patterns included), calendars from ICU's lenient GregorianCalendar.

#include <qn/host/dates.h>
#include <unicode/gregocal.h>
#include <unicode/smpdtfmt.h>

#include "host/date_internal.h"
#include "support/test_support.h"

#include <cstdio>
#include <random>

namespace qn {
namespace {

std::string show(std::optional<DateTime> d) {
    if (!d) return "absent";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", d->timeIntervalSinceReferenceDate() + 0.0);
    return text;  // + 0.0: -0 reads as 0
}

auto fields(const DateComponents& c) {
    return std::tuple(c.year, c.month, c.day, c.hour, c.minute, c.second, c.nanosecond, c.weekday);
}

// Calls whose results do not matter, only that they return.
template <class... T>
void touch(const T&...) {}

TimeZone zoneNamed(const char16_t* id) {
    auto zone = TimeZone::named(id);
    EXPECT_TRUE(zone) << toUtf8(id);
    return zone.value_or(TimeZone::utc());
}

struct FormatCase {
    const char* locale;
    const char16_t* pattern;
    const char16_t* zone;
    std::size_t instants = 0;
};

// A strict SimpleDateFormat on a Gregorian calendar, as a caller of ICU sets it up.
class IcuFormat {
public:
    explicit IcuFormat(const FormatCase& c) {
        UErrorCode status = U_ZERO_ERROR;
        format_ = std::make_unique<icu::SimpleDateFormat>(c.pattern, icu::Locale(c.locale), status);
        format_->adoptCalendar(
            new icu::GregorianCalendar(icu::TimeZone::createTimeZone(c.zone), status));
        format_->setLenient(false);
        EXPECT_TRUE(U_SUCCESS(status));
    }
    String format(DateTime d) const {
        icu::UnicodeString out;
        format_->format(internal::toUDate(d), out);
        return String(out.getBuffer(), static_cast<std::size_t>(out.length()));
    }
    std::optional<DateTime> parse(StringView text) const {
        std::unique_ptr<icu::Calendar> calendar(format_->getCalendar()->clone());
        calendar->clear();
        icu::ParsePosition position(0);
        format_->parse(icu::UnicodeString(text.data(), static_cast<int32_t>(text.size())),
                       *calendar, position);
        UErrorCode status = U_ZERO_ERROR;
        const UDate udate = calendar->getTime(status);
        if (position.getErrorIndex() >= 0 || position.getIndex() != int(text.size()) ||
            U_FAILURE(status))
            return std::nullopt;
        return internal::fromUDate(udate);
    }

private:
    std::unique_ptr<icu::SimpleDateFormat> format_;
};

// ICU's default (lenient) Gregorian calendar in a zone.
class IcuCalendar {
public:
    explicit IcuCalendar(const char16_t* zone)
        : calendar_(icu::TimeZone::createTimeZone(zone), status_) {}
    DateTime at(std::int64_t y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
        calendar_.clear();
        calendar_.set(static_cast<int32_t>(y), mo - 1, d, h, mi, s);
        calendar_.set(UCAL_EXTENDED_YEAR, static_cast<int32_t>(y));  // set last: wins over YEAR
        calendar_.set(UCAL_MILLISECOND, ms);
        return internal::fromUDate(calendar_.getTime(status_));
    }
    DateComponents components(DateTime d) {
        calendar_.setTime(internal::toUDate(d), status_);
        auto get = [&](UCalendarDateFields f) { return calendar_.get(f, status_); };
        return {get(UCAL_EXTENDED_YEAR),         get(UCAL_MONTH) + 1,  get(UCAL_DATE),
                get(UCAL_HOUR_OF_DAY),           get(UCAL_MINUTE),     get(UCAL_SECOND),
                get(UCAL_MILLISECOND) * 1000000, get(UCAL_DAY_OF_WEEK)};
    }
    DateTime add(DateTime d, UCalendarDateFields field, int32_t amount) {
        calendar_.setTime(internal::toUDate(d), status_);
        calendar_.add(field, amount, status_);
        return internal::fromUDate(calendar_.getTime(status_));
    }
    std::int64_t difference(DateTime from, DateTime to, UCalendarDateFields field) {
        calendar_.setTime(internal::toUDate(from), status_);
        return calendar_.fieldDifference(internal::toUDate(to), field, status_);
    }

private:
    UErrorCode status_ = U_ZERO_ERROR;
    icu::GregorianCalendar calendar_;
};

// The same instant, allowing for the last places a UDate round trip may move
// (never a lost fraction of a millisecond).
testing::AssertionResult same(DateTime a, DateTime b) {
    const double x = a.timeIntervalSinceReferenceDate(), y = b.timeIntervalSinceReferenceDate();
    const double ulp = std::nextafter(std::fabs(y), 1e300) - std::fabs(y);
    if (std::fabs(x - y) <= std::max(1e-6, 4 * ulp)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << show(a) << " is not " << show(b);
}

// Instants over years 1 ... 9999: raw doubles (sub-millisecond fractions),
// whole milliseconds and seconds, the edges of days, and the dates where
// calendars go wrong.
std::vector<DateTime> sampleInstants(std::size_t count, std::uint64_t seed) {
    IcuCalendar utc(u"UTC");
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> any(
        qnEmptyDate().timeIntervalSinceReferenceDate(),
        utc.at(10000, 1, 1).timeIntervalSinceReferenceDate());
    std::vector<DateTime> out;
    for (std::size_t i = 0; i < count; ++i) {
        const double s = any(rng), midnight = std::floor(s / 86400) * 86400;
        const double choices[] = {s,
                                  std::round(s * 1000) / 1000,
                                  std::round(s),
                                  midnight,
                                  midnight - 0.001,
                                  midnight - 1e-6};
        out.emplace_back(choices[i % std::size(choices)]);
    }
    for (double s : {0.0, 1e-7, -1e-7, 0.0005, -0.0005, 0.1234567, 0.123, -0.123, -1e12})
        out.emplace_back(s);
    for (DateTime d : {qnEmptyDate(), utc.at(1582, 10, 4, 23, 59, 59, 999), utc.at(1582, 10, 15),
                       utc.at(1500, 2, 29, 12), utc.at(1900, 2, 28, 23, 59, 59, 999),
                       utc.at(2024, 2, 29, 23, 59, 59, 999), utc.at(9999, 12, 31, 23, 59, 59, 999),
                       utc.at(0, 12, 31, 23, 59, 59, 999), utc.at(-100, 6, 1)})
        out.push_back(d);
    return out;
}

// One random edit: a digit changed (February 30, month 13, hour 24), dropped
// or doubled, or a character replaced.
String mutate(String text, std::mt19937_64& rng) {
    if (text.empty()) return u"1";
    const std::size_t i = rng() % text.size();
    const auto digit = static_cast<char16_t>(u'0' + rng() % 10);
    const auto kind = rng() % 4;
    if (kind == 0) text[i] = digit;
    if (kind == 1) text.erase(i, 1);
    if (kind == 2) text.insert(i, 1, digit);
    if (kind == 3) text[i] = (text[i] >= u'0' && text[i] <= u'9') ? u'x' : digit;
    return text;
}

// Compared exactly: far from 2001 a double is coarser than a microsecond,
// and whole milliseconds must still read back as they were written.
TEST(DateFormatterTest, WritesAndParsesExactlyAsStrictIcu) {
    const FormatCase cases[] = {
        {"en_US_POSIX", u"yyyy-MM-dd HH:mm:ss.SSS", u"UTC", 20000},
        {"en_US_POSIX", u"yyyy-MM-dd", u"UTC", 20000},
        {"en_US_POSIX", u"yyyy-MM-dd'T'HH:mm:ss", u"UTC", 20000},
        {"en_US_POSIX", u"yyyy-MM-dd'T'HH:mm:ss.SSS", u"UTC", 20000},
        {"en_US_POSIX", u"HH':'mm':'ss", u"UTC", 20000},
        {"en_US_POSIX", u"dd/MM/yyyy", u"UTC", 20000},
        {"en_US_POSIX", u"MM-dd-yy hh:mmaa", u"UTC", 5000},
        {"en_US_POSIX", u"yyyy-MM-dd HH:mm:ss.SSS", u"Europe/Madrid", 5000},
        {"ar_EG", u"yyyy-MM-dd", u"UTC", 2000}  // native digits: never the direct path
    };
    // Invalid, short, long, padded and pre-Gregorian texts, "|"-separated.
    const String texts =
        u"2021-02-30|2021-13-01|2021-00-10|0000-01-01|1582-10-10|1582-10-04|1582-10-15|"
        u"1500-02-29|1900-02-29|2021-3-5|2021-03-05x| 2021-03-05|2021-03-005|02021-03-05|"
        u"-2021-03-05|10000-01-01|2021-03-05 |2021-03-05 24:00:00.000|2021-03-05 23:60:00.000|"
        u"2021-03-05 23:59:59.99|2021-03-05 23:59:59.9999|2021-03-05 10:00:00.000|"
        u"2021-03-05T10:00:00|2021-03-05t10:00:00|2021-03-05T10:00:00.123|2021-03-05T10:00:00Z|"
        u"24:00:00|23:59:59|7:05:00|29/02/1500|31/04/2021|10/10/1582|02-29-24 12:00AM|"
        u"13-01-21 01:00PM|\uff12\uff10\uff12\uff11-03-05|";
    std::mt19937_64 rng(20240601);
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + toUtf8(c.pattern) + " " + toUtf8(c.zone));
        const IcuFormat oracle(c);
        const auto formatter = DateFormatter::forThread(c.locale, c.pattern, zoneNamed(c.zone));
        for (DateTime d : sampleInstants(c.instants, rng())) {
            const String text = formatter->stringFromDate(d);
            ASSERT_EQ(toUtf8(text), toUtf8(oracle.format(d))) << show(d);
            for (const String& t : {text, mutate(text, rng)})
                ASSERT_EQ(show(formatter->dateFromString(t)), show(oracle.parse(t))) << toUtf8(t);
        }
        for (std::size_t at = 0, bar; (bar = texts.find(u'|', at)) != String::npos; at = bar + 1) {
            const String t = texts.substr(at, bar - at);
            EXPECT_EQ(show(formatter->dateFromString(t)), show(oracle.parse(t))) << toUtf8(t);
        }
    }
}

// A typed text without leading zeros (written by ICU through one-letter
// fields) reads as its full-width text does; whatever strict parsing reads,
// typed parsing reads the same.
TEST(DateFormatterTest, TypedTextsReadAsTheirFullWidthForm) {
    struct Pair {
        const char* locale;
        const char16_t* typed;
        const char16_t* full;
        const char16_t* zone;
    };
    const Pair pairs[] = {
        {"en_US_POSIX", u"d/M/yyyy", u"dd/MM/yyyy", u"UTC"},  // the direct path once padded
        {"en_US_POSIX", u"M-d-yy h:m:saa", u"MM-dd-yy hh:mm:ssaa", u"UTC"},
        {"en_US_POSIX", u"yyyy-M-d'T'H:m:s.SSS", u"yyyy-MM-dd'T'HH:mm:ss.SSS", u"Europe/Madrid"},
        {"es_ES", u"d.M.yy H'h'm", u"dd.MM.yy HH'h'mm", u"UTC"},
    };
    std::mt19937_64 rng(7);
    for (const Pair& p : pairs) {
        SCOPED_TRACE(std::string(p.locale) + " " + toUtf8(p.full) + " " + toUtf8(p.zone));
        const TimeZone zone = zoneNamed(p.zone);
        const DateFormatter typed(p.locale, p.typed, zone), full(p.locale, p.full, zone);
        for (DateTime d : sampleInstants(3000, rng())) {
            const String text = full.stringFromDate(d), typedText = typed.stringFromDate(d);
            ASSERT_EQ(show(full.dateFromTypedString(typedText)), show(full.dateFromString(text)))
                << toUtf8(typedText);
            for (const String& t : {text, mutate(text, rng), mutate(typedText, rng)}) {
                if (auto strict = full.dateFromString(t)) {
                    ASSERT_EQ(show(full.dateFromTypedString(t)), show(strict)) << toUtf8(t);
                }
            }
        }
    }
}

TEST(CalendarTest, AgreesWithIcuGregorianCalendar) {
    std::mt19937_64 rng(42);
    auto between = [&](std::int64_t lo, std::int64_t hi) {
        return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng);
    };
    IcuCalendar utc(u"UTC");
    // Each zone with its daylight saving changes, walked in ten-minute steps.
    const std::pair<const char16_t*, std::vector<DateTime>> zones[] = {
        {u"UTC", {}},
        {u"Europe/Madrid", {utc.at(2021, 3, 28, 1), utc.at(2021, 10, 31, 1)}},
        {u"America/Sao_Paulo", {utc.at(2018, 11, 4, 3), utc.at(2019, 2, 17, 2)}}};
    for (const auto& [id, transitions] : zones) {
        SCOPED_TRACE(toUtf8(id));
        IcuCalendar icu(id);
        const Calendar calendar(zoneNamed(id));
        std::vector<DateTime> instants = sampleInstants(3000, rng());
        for (DateTime t : transitions)
            for (int minutes = -36 * 60; minutes <= 36 * 60; minutes += 10)
                instants.emplace_back(t.timeIntervalSinceReferenceDate() + minutes * 60);
        for (DateTime d : instants) {
            SCOPED_TRACE(show(d));
            const DateComponents c = calendar.components(d);
            ASSERT_EQ(fields(c), fields(icu.components(d)));
            // Fields out of range carry over.
            const std::int64_t f[] = {
                c.year + between(-2, 2), between(-14, 26),   between(-40, 70),    between(-30, 50),
                between(-100, 100),      between(-100, 100), between(-2000, 2000)};
            ASSERT_EQ(show(calendar.dateFromComponents(f[0], f[1], f[2], f[3], f[4], f[5],
                                                       f[6] * 1000000)),
                      show(icu.at(f[0], int(f[1]), int(f[2]), int(f[3]), int(f[4]), int(f[5]),
                                  int(f[6]))))
                << f[0] << '-' << f[1] << '-' << f[2] << ' ' << f[3] << ':' << f[4] << ':' << f[5];
            const auto n = int32_t(between(0, 1) ? between(-1, 1) : between(-400, 400));
            ASSERT_TRUE(same(calendar.dateByAddingDays(d, n), icu.add(d, UCAL_DATE, n))) << n;
            ASSERT_TRUE(
                same(calendar.dateByAddingMonths(d, n / 10), icu.add(d, UCAL_MONTH, n / 10)));
            ASSERT_TRUE(same(calendar.dateByAddingYears(d, n / 20), icu.add(d, UCAL_YEAR, n / 20)));
            const DateTime near(d.timeIntervalSinceReferenceDate() + between(-3000, 3000) * 3600 +
                                between(-3600, 3600));
            ASSERT_EQ(calendar.daysFrom(d, near), icu.difference(d, near, UCAL_DATE)) << show(near);
            const DateTime far = instants[rng() % instants.size()];
            ASSERT_EQ(calendar.yearsFrom(d, far), icu.difference(d, far, UCAL_YEAR)) << show(far);
        }
    }
}

TEST(CalendarTest, MonthEndsCutoverDaylightSavingAndTheEmptyDate) {
    const Calendar c = Calendar::qnCalendar();
    IcuCalendar utc(u"UTC");
    EXPECT_EQ(c.dateByAddingMonths(utc.at(2021, 1, 31), 1), utc.at(2021, 2, 28));
    EXPECT_EQ(c.dateByAddingMonths(utc.at(2020, 1, 31, 10), 1), utc.at(2020, 2, 29, 10));
    EXPECT_EQ(c.dateByAddingYears(utc.at(1500, 2, 29), 100), utc.at(1600, 2, 29));
    EXPECT_EQ(c.dateByAddingYears(utc.at(1500, 2, 29), 200), utc.at(1700, 2, 28));
    EXPECT_EQ(c.dateByAddingDays(utc.at(1582, 10, 4), 1), utc.at(1582, 10, 15));
    EXPECT_EQ(c.daysFrom(utc.at(1582, 10, 4), utc.at(1582, 10, 15)), 1);
    EXPECT_EQ(c.yearsFrom(utc.at(2020, 2, 29), utc.at(2021, 2, 28)), 1);
    // A day that does not exist, and a year-1581 day count that runs past the cutover.
    EXPECT_EQ(c.dateFromComponents(1582, 10, 10), utc.at(1582, 10, 10));
    EXPECT_EQ(c.dateFromComponents(1581, 1, 650), utc.at(1581, 1, 650));

    // Madrid: 02:30 is skipped in spring (03:30 summer time) and happens twice
    // in autumn (ICU takes the later); whole days count as ICU's add() moves.
    const Calendar madrid(zoneNamed(u"Europe/Madrid"));
    IcuCalendar icuMadrid(u"Europe/Madrid");
    EXPECT_EQ(madrid.dateFromComponents(2021, 3, 28, 2, 30), icuMadrid.at(2021, 3, 28, 2, 30));
    EXPECT_EQ(madrid.dateFromComponents(2021, 3, 28, 2, 30), utc.at(2021, 3, 28, 1, 30));
    EXPECT_EQ(madrid.dateFromComponents(2021, 10, 31, 2, 30), utc.at(2021, 10, 31, 1, 30));
    const DateTime firstTwoThirty = utc.at(2021, 10, 31, 0, 30);
    EXPECT_EQ(madrid.dateByAddingDays(firstTwoThirty, 0), firstTwoThirty);
    EXPECT_EQ(madrid.dateByAddingMonths(firstTwoThirty, 0), firstTwoThirty);
    EXPECT_EQ(madrid.dateByAddingDays(utc.at(2021, 3, 27, 1, 30), 1), utc.at(2021, 3, 28, 1, 30));
    const DateTime before = utc.at(2021, 3, 27, 1, 30), after = utc.at(2021, 3, 28, 1, 15);
    EXPECT_EQ(madrid.daysFrom(before, after), icuMadrid.difference(before, after, UCAL_DATE));

    const DateTime empty = qnEmptyDate();
    const double start = empty.timeIntervalSinceReferenceDate();
    EXPECT_EQ(utc.at(1, 1, 1), empty);
    EXPECT_EQ(c.dateFromComponents(1, 1, 1), empty);
    EXPECT_EQ(fields(c.components(empty)), fields(utc.components(empty)));
    EXPECT_TRUE(isQnTimeOnlyDateTime(empty));
    EXPECT_TRUE(isQnTimeOnlyDateTime(DateTime(start + 86399.999)));
    EXPECT_FALSE(isQnTimeOnlyDateTime(DateTime(start + 86400)));
    EXPECT_FALSE(isQnTimeOnlyDateTime(DateTime(start - 0.001)));
    EXPECT_FALSE(isQnDateTime(utc.at(1500, 2, 29)));
    EXPECT_TRUE(isQnDateTime(utc.at(1500, 2, 29, 0, 0, 0, 1)));
    EXPECT_EQ(qnDateNSDate(utc.at(1500, 2, 29, 23, 59, 59, 999)), utc.at(1500, 2, 29));
    EXPECT_EQ(qnDateNSDate(utc.at(2021, 3, 5, 14, 7, 9, 123)), utc.at(2021, 3, 5));
    EXPECT_EQ(qnDateNSDate(DateTime(-0.0005)), utc.at(2000, 12, 31));
}

TEST(TimeZoneTest, NamesUTCAndTheApplicationZone) {
    EXPECT_FALSE(TimeZone::named(u"Mars/Olympus_Mons"));
    EXPECT_FALSE(TimeZone::named(u""));
    for (const char16_t* id : {u"UTC", u"GMT", u"Etc/UTC", u"GMT+0"})
        EXPECT_TRUE(zoneNamed(id).isUTC()) << toUtf8(id);
    for (const char16_t* id : {u"Africa/Abidjan", u"Europe/London", u"GMT+3"})
        EXPECT_FALSE(zoneNamed(id).isUTC()) << toUtf8(id);

    test::ScopedTimeZone scoped(u"Europe/Madrid", true);
    {
        test::ScopedCapturingLogger quiet;
        EXPECT_FALSE(QNTimeZone::setCurrentTimeZoneName(u"Mars/Olympus_Mons"));
    }
    EXPECT_EQ(QNTimeZone::currentTimeZoneName(), u"Europe/Madrid");
    EXPECT_EQ(QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded().name(), u"Europe/Madrid");
    QNTimeZone::setConvertTimesFromUTC(false);
    EXPECT_TRUE(QNTimeZone::currentTimeZoneWithUTCConversionIfNeeded().isUTC());
    EXPECT_TRUE(Calendar::qnCalendarCurrentTimeZone().timeZone().isUTC());

    // Winter and summer time; the first 02:30 of the autumn change reads back
    // as the second.
    IcuCalendar utc(u"UTC");
    EXPECT_EQ(localTimeZoneDateFromGMT(utc.at(2021, 1, 15, 12)), utc.at(2021, 1, 15, 13));
    EXPECT_EQ(localTimeZoneDateFromGMT(utc.at(2021, 7, 15, 12)), utc.at(2021, 7, 15, 14));
    EXPECT_EQ(localTimeZoneDateFromGMT(utc.at(2021, 10, 31, 0, 30)), utc.at(2021, 10, 31, 2, 30));
    // 02:30 on the spring change does not exist: it is 03:30 summer time.
    EXPECT_EQ(gmtTimeZoneDateFromCurrent(utc.at(2021, 3, 28, 2, 30)), utc.at(2021, 3, 28, 1, 30));
    EXPECT_EQ(gmtTimeZoneDateFromCurrent(utc.at(2021, 10, 31, 2, 30)), utc.at(2021, 10, 31, 1, 30));
}

TEST(DateFormatterThreadCacheTest, OneFormatterPerThreadAndTriple) {
    const TimeZone utc = TimeZone::utc(), madrid = zoneNamed(u"Europe/Madrid");
    const auto a = DateFormatter::forThread("", u"yyyy-MM-dd", utc);
    EXPECT_EQ(a, DateFormatter::forThread("en_US_POSIX", u"yyyy-MM-dd", TimeZone::utc()));
    EXPECT_EQ(a, dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(u"yyyy-MM-dd"));
    EXPECT_EQ(a->localeIdentifier(), "en_US_POSIX");
    EXPECT_NE(a, DateFormatter::forThread("", u"yyyy-MM-dd", madrid));
    EXPECT_NE(a, DateFormatter::forThread("es_ES", u"yyyy-MM-dd", utc));
    std::shared_ptr<DateFormatter> other;
    std::thread([&] { other = DateFormatter::forThread("", u"yyyy-MM-dd", utc); }).join();
    EXPECT_NE(a, other);
    EXPECT_EQ(other->stringFromDate(DateTime(0)), u"2001-01-01");  // outlives its thread

    for (int i = 0; i < 300; ++i)  // past the cache bound
        DateFormatter::forThread("", u"'n" + fromUtf8(std::to_string(i)) + u"' yyyy", utc);
    EXPECT_EQ(a->stringFromDate(DateTime(86400)), u"2001-01-02");
    EXPECT_EQ(show(a->dateFromString(u"2001-01-02")), show(DateTime(86400)));
}

TEST(DateFormatterThreadCacheTest, ConcurrentFormattingParsingAndZoneChanges) {
    const FormatCase jobs[] = {{"en_US_POSIX", u"yyyy-MM-dd HH:mm:ss.SSS", u"UTC"},
                               {"en_US_POSIX", u"yyyy-MM-dd HH:mm:ss.SSS", u"Europe/Madrid"},
                               {"en_US_POSIX", u"yyyy-MM-dd", u"UTC"},
                               {"es_ES", u"dd/MM/yyyy HH:mm", u"America/Sao_Paulo"}};
    const std::vector<DateTime> instants = sampleInstants(200, 99);
    std::vector<std::vector<std::pair<String, std::string>>> expected;
    for (const FormatCase& j : jobs) {
        const IcuFormat oracle(j);
        auto& e = expected.emplace_back();
        for (DateTime d : instants)
            e.emplace_back(oracle.format(d), show(oracle.parse(oracle.format(d))));
    }
    test::ScopedTimeZone scoped(u"Europe/Madrid", false);
    std::atomic<int> wrong{0};
    test::onThreads(8, [&](int t) {
        for (int round = 0; round < 20; ++round) {
            const std::size_t k = (t + round) % std::size(jobs);
            const auto f =
                DateFormatter::forThread(jobs[k].locale, jobs[k].pattern, zoneNamed(jobs[k].zone));
            for (std::size_t i = 0; i < instants.size(); ++i) {
                const String text = f->stringFromDate(instants[i]);
                wrong += text != expected[k][i].first ||
                         show(f->dateFromString(text)) != expected[k][i].second;
            }
            if (t == 0) QNTimeZone::setCurrentTimeZoneName(round % 2 ? u"UTC" : u"Europe/Madrid");
            const String zone = QNTimeZone::currentTimeZoneName();
            wrong += zone != u"UTC" && zone != u"Europe/Madrid";
            wrong += stringFromDateWithStyles(instants[round], "es_ES", DateFormatterStyle::kMedium,
                                              DateFormatterStyle::kMedium, true, TimeZone::utc())
                         .empty();
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

// The locale decides the order of the fields and the clock; the styles decide
// which fields are written, milliseconds only with a time.
TEST(DateFormatterStylesTest, NumericPatternsInTheLocaleOrderAndClock) {
    using S = DateFormatterStyle;
    constexpr auto npos = std::string::npos;
    for (const std::string locale : {"en_US", "es_ES"}) {
        const std::string p = toUtf8(datePatternForStyles(locale, S::kShort, S::kShort, false));
        SCOPED_TRACE(locale + ": " + p);
        EXPECT_EQ(p.find("dd") < p.find("MM"), locale == "es_ES");
        EXPECT_EQ(p.find("hh") != npos && p.find('a') != npos, locale == "en_US");
        EXPECT_EQ(p.find("HH") != npos, locale == "es_ES");
    }
    const DateTime d = IcuCalendar(u"UTC").at(2021, 3, 5, 14, 7, 9, 123);
    const auto text = [&](S date, S time) {
        return toUtf8(
            stringFromDateWithStyles(d, "en_US_POSIX", date, time, true, TimeZone::utc()));
    };
    EXPECT_NE(text(S::kMedium, S::kNone).find("2021"), npos);
    EXPECT_EQ(text(S::kMedium, S::kNone).find("123"), npos);
    EXPECT_EQ(text(S::kShort, S::kShort).find("2021"), npos);
    EXPECT_NE(text(S::kShort, S::kMedium).find("09.123"), npos);
    EXPECT_EQ(text(S::kShort, S::kShort).find(":09"), npos);
    EXPECT_EQ(stringFromDateWithStyles(d, "es_ES", S::kNone, S::kShort, false,
                                       zoneNamed(u"Europe/Madrid")),
              u"15:07");
}

TEST(DatesBadInputTest, NeverCrashes) {
    const double big = std::numeric_limits<double>::max();
    const double inf = std::numeric_limits<double>::infinity();
    const Calendar calendars[] = {Calendar::qnCalendar(), Calendar(zoneNamed(u"Europe/Madrid"))};
    const auto fast = dateFormatterWithTimeZone_UTC_Locale_en_US_POSIX_forDateFormat(u"yyyy-MM-dd");
    const DateFormatter madrid("es_ES", u"dd/MM/yyyy HH:mm", zoneNamed(u"Europe/Madrid"));
    for (double s : {std::nan(""), inf, -inf, 1e300, -1e300, big, -big, 1e15, -1e15}) {
        const DateTime d(s);
        EXPECT_EQ(fast->stringFromDate(d), u"") << s;
        EXPECT_EQ(madrid.stringFromDate(d), u"") << s;
        stringFromDateWithStyles(d, "en_US", DateFormatterStyle::kFull, DateFormatterStyle::kFull,
                                 true, zoneNamed(u"America/Sao_Paulo"));
        touch(isQnTimeOnlyDateTime(d), isQnDateTime(d), qnDateNSDate(d),
              localTimeZoneDateFromGMT(d), gmtTimeZoneDateFromCurrent(d));
        for (const Calendar& c : calendars)
            touch(c.components(d), c.dateByAddingDays(d, 1), c.dateByAddingMonths(d, 1),
                  c.yearsFrom(d, DateTime(0)), c.daysFrom(DateTime(0), d));
    }
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    for (const Calendar& c : calendars) {
        for (std::int64_t v : {kMax, kMin, std::int64_t{1} << 40, -(std::int64_t{1} << 33)}) {
            touch(c.dateFromComponents(v, v, v, v, v, v, v),
                  c.dateFromComponents(2021, 1, 1, 0, 0, 0, v),
                  c.dateFromComponents(v, 1, ~v, 0, 0, 0, 0),  // ~v: -v without overflow
                  c.dateByAddingDays(DateTime(0), v), c.dateByAddingMonths(DateTime(0), v),
                  c.dateByAddingYears(DateTime(0), v));
        }
    }
    // Two thousand seconds of nanoseconds carry into the minutes.
    EXPECT_EQ(Calendar::qnCalendar().dateFromComponents(2021, 1, 1, 0, 0, 0, 2000000000000),
              IcuCalendar(u"UTC").at(2021, 1, 1, 0, 33, 20));

    const DateFormatter bad("en_US_POSIX", u"yyyy-MM-dd j", TimeZone::utc());  // no 'j' in ICU
    EXPECT_EQ(bad.stringFromDate(DateTime(0)), u"");
    EXPECT_FALSE(bad.dateFromString(u"2001-01-01 j"));
    const String huge(1 << 20, u'7');
    EXPECT_FALSE(fast->dateFromString(huge));
    EXPECT_FALSE(madrid.dateFromString(u"05/03/2021 10:00" + huge));
    // ICU divides by zero on a fractional-second field of 35 digits or more.
    const DateFormatter fraction("en_US_POSIX", u"US-" + String(40, u'1'), TimeZone::utc());
    EXPECT_FALSE(fraction.dateFromString(fraction.stringFromDate(DateTime(0))));
    EXPECT_FALSE(fraction.dateFromString(u"10-" + String(40, u'\u0663')));  // Arabic-Indic 3
}

}  // namespace
}  // namespace qn
