#include <qn/host.h>
#include <qn/runtime.h>

#include <array>
#include <cstdio>

#include "support/test_support.h"

namespace qn {
namespace {

using test::ScopedBundle;
using test::ScopedTimeZone;
using test::TempDir;

DateTime at(std::int64_t y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return DateTime::fromCivilUTC({y, mo, d, h, mi, s, ms});
}

DateTime timeOnly(int h, int mi, int s = 0, int ms = 0) {
    return qnTimeOnlyDateTimeFromHourMinuteSecondMillisecond(h, mi, s, ms);
}

// The sample bundle's configuration (year limit 30; English MDY with the
// 12-hour clock, Spanish DMY4 with the 24-hour clock), whichever test of the
// process reads the shared configuration first; times in UTC, not converted.
// The shared configuration is read once per process: it is the sample
// bundle's before any test of this program reads it, whatever the order
// (except in a death test's fresh process, which chooses its own).
class SampleConfiguration : public ::testing::Environment {
public:
    void SetUp() override {
        if (GTEST_FLAG_GET(internal_run_death_test).empty())
            test::loadSharedConfigurationFromSampleBundle();
    }
};
[[maybe_unused]] const auto* const kSampleConfiguration =
    ::testing::AddGlobalTestEnvironment(new SampleConfiguration);

class DatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeSampleBundle(dir_);
        bundle_.emplace(dir_.path());
        zone_.emplace(u"UTC", false);
    }
    TempDir dir_;
    std::optional<ScopedBundle> bundle_;
    std::optional<ScopedTimeZone> zone_;
};

// Runs in a fresh process that reads a bundle without configuration.
TEST(DatesDefaultYearLimitTest, YearsUpTo40BecomeThisCentury) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto child = [] {
        bool ok = false;
        {
            TempDir empty;
            QNBundle::setMainBundlePath(empty.path());
            ok = normalizeTwoDigitsYear(40) == 2040 && normalizeTwoDigitsYear(41) == 1941 &&
                 normalizeTwoDigitsYear(0) == 2000 && normalizeTwoDigitsYear(100) == 100 &&
                 qnDateYear(qnDateFromYearMonthDay(40, 1, 1)) == 2040;
        }
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

TEST_F(DatesTest, ConstructionExpandsYearsAndRejectsWhatIsNoDate) {
    EXPECT_EQ(qnDateFromYearMonthDay(30, 3, 5), at(2030, 3, 5)) << "configured limit 30";
    EXPECT_EQ(qnDateFromYearMonthDay(31, 3, 5), at(1931, 3, 5));
    EXPECT_EQ(qnDateYear(qnDateFromYearMonthDay(100, 1, 1)), 100);
    EXPECT_EQ(normalizeTwoDigitsYear(-1), -1);
    EXPECT_EQ(qnDateFromYearMonthDay(2020, 2, 29), at(2020, 2, 29));
    for (auto [y, m, d] : {std::array<std::int64_t, 3>{2021, 2, 29},
                           {0, 0, 0},
                           {2021, 13, 1},
                           {2021, 4, 31},
                           {2021, 0, 10},
                           {2021, 1, -1}})
        EXPECT_TRUE(isQnEmptyDate(qnDateFromYearMonthDay(y, m, d))) << y << "-" << m << "-" << d;
    EXPECT_EQ(qnDateFromYearMonthDay(2021, (std::int64_t{1} << 32) + 3, 1), at(2021, 3, 1))
        << "months wrap as 32-bit integers";

    EXPECT_EQ(qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(0, 0, 0, 10, 30, 0, 0),
              timeOnly(10, 30));
    EXPECT_TRUE(isQnTimeOnlyDateTime(timeOnly(10, 30)));
    EXPECT_TRUE(
        isQnEmptyDate(qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(0, 0, 0, 0, 0, 0, 0)));
    EXPECT_TRUE(isQnEmptyDate(timeOnly(24, 0)));
    EXPECT_TRUE(isQnEmptyDate(timeOnly(-1, 0))) << "negative parts read as unsigned";
    EXPECT_TRUE(isQnEmptyDate(timeOnly(0, 0)));
    EXPECT_FALSE(isQnEmptyDate(timeOnly(0, 0, 0, 1)));
    EXPECT_EQ(qnDateTimeFromYearMonthDayHourMinute(2021, 3, 5, 25, 10), at(2021, 3, 5))
        << "an hour out of range keeps midnight";
    EXPECT_EQ(qnMilliseconds(qnDateTimeFromYearMonthDayHourMinuteSecondMillisecond(2021, 3, 5, 10,
                                                                                   20, 30, 123)),
              123);

    ScopedTimeZone madrid(u"Europe/Madrid", true);
    const DateTime local = qnDateTimeFromYearMonthDayHour(2021, 7, 1, 10);
    EXPECT_EQ(local, at(2021, 7, 1, 8)) << "parts taken on the application's wall clock";
    EXPECT_EQ(qnHours(local), 10);
    EXPECT_EQ(qnHours(timeOnly(10, 0)), 10) << "time-only values read in UTC";
    QNTimeZone::setConvertTimesFromUTC(false);
    EXPECT_EQ(qnDateTimeFromYearMonthDayHour(2021, 7, 1, 10), at(2021, 7, 1, 10));
}

TEST_F(DatesTest, EmptyAndTimeOnlyValuesReadThroughEveryForm) {
    const DateTime empty = qnEmptyDate();
    for (auto read :
         {qnDateDay, qnDateMonth, qnDateYear, qnDateTimeDay, qnDateTimeMonth, qnDateTimeYear,
          qnHours, qnMinutes, qnSeconds, qnMilliseconds, qnDateDayOfWeek, qnDateTimeDayOfWeek})
        EXPECT_EQ(read(empty), 0);
    EXPECT_TRUE(qnIsEmpty(empty));
    EXPECT_EQ(qnDateCharDayOfWeek(empty), u"");
    EXPECT_EQ(qnDateToString(empty), u"  /  /  ");
    EXPECT_EQ(qnDateToStringWithFormatDelimiter(empty, 5, u"."), u"  /  /  ");
    EXPECT_EQ(qnTimeToString(empty), u"  /  /   12:00:00 AM") << "English: 12-hour clock";
    EXPECT_EQ(QNBuiltins::qnTtoC(empty, 10, 12), u"  /  /   12:00:00 AM");
    EXPECT_EQ(QNBuiltins::dateToCharDB(empty), u"0000-00-00 00:00:00.0");
    EXPECT_EQ(QNBuiltins::date::toCharREST(empty), u"0000-00-00");
    EXPECT_EQ(QNBuiltins::time::toCharREST(empty), u"0000-00-00T00:00:00");
    EXPECT_FALSE(QNBuiltins::timeToCharDB(std::nullopt) ||
                 QNBuiltins::time::toCharREST(std::nullopt));
    EXPECT_EQ(qnDateByAddingDays(empty, 3), empty);
    EXPECT_EQ(qnDateTimeByAddingSeconds(empty, 1.5), empty);
    EXPECT_EQ(qnDateEndOfMonth(empty), empty);
    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(qnEmptyDateTimeToString(), u"  /  /   00:00:00");
    QNResources::setCurrentLanguageName(std::nullopt);

    // Time-only values keep their time of day in UTC whatever the zone.
    ScopedTimeZone madrid(u"Europe/Madrid", true);
    const DateTime t = timeOnly(9, 5, 7, 250);
    EXPECT_EQ(std::tuple(qnHours(t), qnMinutes(t), qnSeconds(t), qnMilliseconds(t)),
              std::tuple(9, 5, 7, 250));
    EXPECT_EQ(qnDateTimeYear(t) + qnDateTimeMonth(t) + qnDateTimeDay(t), 0);
    EXPECT_EQ(qnDateTimeDayOfWeek(t) + qnDateDayOfWeek(t), 0);
    EXPECT_EQ(qnTimeToString(t), u"09:05:07 AM");
    EXPECT_EQ(QNBuiltins::qnTtoC(t), u"  /  /   09:05 AM");
    EXPECT_EQ(
        qnTimeToStringWithDateLengthTimeLengthAmPmFormatDateSeparatorTimeSeparatorDateTimeSeparator(
            t, 8, 5, false, 2, u"/", u":", u" "),
        u"  /  /   09:05");
    EXPECT_EQ(qnDateTimeByAddingDays(t, 1), t);
    EXPECT_EQ(qnDateTimeByAddingSeconds(t, 86400.0), t) << "a whole day leaves a time unchanged";
    EXPECT_EQ(qnDateTimeByAddingSeconds(t, 90.5), timeOnly(9, 6, 37, 750));
    EXPECT_EQ(qnDateByRemovingDatePartFromDate(at(2021, 3, 5, 9, 5, 7)), timeOnly(10, 5, 7))
        << "read on the Madrid wall clock";
    EXPECT_EQ(qnDateByRemovingDatePartFromDate(t), t);
}

TEST_F(DatesTest, ArithmeticOnTheCalendar) {
    const DateTime d = at(2021, 3, 5, 10, 20, 30);
    EXPECT_EQ(qnDateByAddingMonths(at(2021, 1, 31), 1), at(2021, 2, 28));
    EXPECT_EQ(qnDateByAddingYears(at(2020, 2, 29), 1), at(2021, 2, 28));
    EXPECT_EQ(qnDateByAddingDays(at(2021, 3, 1), -1), at(2021, 2, 28));
    EXPECT_EQ(qnDateByAddingDays(d, 1), at(2021, 3, 6, 10, 20, 30)) << "a time part keeps its time";
    EXPECT_EQ(qnDateByAddingDays(at(2021, 3, 1), (std::int64_t{1} << 32) + 1), at(2021, 3, 2));
    EXPECT_EQ(qnDateTimeByAddingSeconds(d, 1.5), at(2021, 3, 5, 10, 20, 31, 500));
    EXPECT_EQ(qnDateTimeByAddingSeconds(d, Decimal::fromString("-1.0004")),
              at(2021, 3, 5, 10, 20, 29));
    EXPECT_EQ(qnDateTimeByAddingMinutes(d, 90), at(2021, 3, 5, 11, 50, 30));
    EXPECT_EQ(qnDateTimeByAddingHours(d, -11), at(2021, 3, 4, 23, 20, 30));

    EXPECT_EQ(qnDateDifferenceWith(at(2021, 3, 5), at(2021, 3, 1)), 4);
    const DateTime half = qnDateTimeByAddingMilliseconds(d, 500);
    EXPECT_FALSE(after(half, d)) << "after needs a whole second";
    EXPECT_TRUE(before(d, half));
    EXPECT_EQ(qnSecondsToDate(d, half), -1);
    EXPECT_EQ(qnSecondsToDateWithMilliseconds(qnDateTimeByAddingSeconds(d, 1.5), d),
              Decimal::fromString("1.5"));
    EXPECT_EQ(impl_qnAge(at(1990, 6, 15), at(2021, 6, 14)), 30);
    EXPECT_EQ(qnAge(at(1990, 6, 15), at(2021, 6, 15)), 31);

    EXPECT_EQ(qnDateEndOfMonth(at(2021, 2, 10)), at(2021, 2, 28));
    EXPECT_EQ(qnDateEndOfMonth(at(2021, 4, 10, 10)), at(2021, 4, 30, 10));
    EXPECT_EQ(qnDateTimeWithZeroSeconds(at(2021, 3, 5, 10, 20, 30, 500)), at(2021, 3, 5, 10, 20));

    // Nothing that names no instant breaks anything.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {nan, inf, -inf, 1e300}) {
        const DateTime b(bad);
        EXPECT_EQ(qnDateByAddingDays(b, 1) == b, !std::isnan(bad));
        EXPECT_EQ(qnDateTimeByAddingSeconds(b, 1.0) == b, !std::isnan(bad));
        EXPECT_EQ(qnDateYear(b) + qnHours(b) + qnMilliseconds(b) + qnDateTimeDayOfWeek(b), 0);
        EXPECT_EQ(qnSecondsToDate(b, d) == 0, std::isnan(bad));
        (void)QNBuiltins::dateToCharDB(b);
        (void)qnDateCharMonth(b);
        (void)qnTimeToString(b);
        (void)qnDateEndOfMonth(b);
        (void)qnDateDifferenceWith(b, d);
    }
    EXPECT_EQ(qnDateTimeByAddingSeconds(d, nan), d);
    (void)qnDateTimeByAddingSeconds(d, 1e300);
    (void)qnDateByAddingYears(d, std::numeric_limits<std::int32_t>::max());
    (void)qnDateTimeByAddingMilliseconds(d, std::numeric_limits<std::int64_t>::min());
}

TEST_F(DatesTest, DaylightSavingChangesKeepTheWallClock) {
    struct Change {
        const char16_t* zone;
        int year, month, day;  // the day before the change
    };
    for (const Change& c : {Change{u"Europe/Madrid", 2021, 3, 27},
                            {u"Europe/Madrid", 2021, 10, 30},
                            {u"America/Sao_Paulo", 2018, 11, 3},
                            {u"America/Sao_Paulo", 2019, 2, 16}}) {
        for (bool convert : {true, false}) {
            ScopedTimeZone zone(c.zone, convert);
            const DateTime d = qnDateTimeFromYearMonthDayHour(c.year, c.month, c.day, 10);
            for (DateTime next :
                 {qnDateTimeByAddingDays(d, 1), qnDateTimeByAddingSeconds(d, 86400.0),
                  qnDateTimeByAddingHours(d, 24)}) {
                EXPECT_EQ(qnHours(next), 10) << toUtf8(c.zone) << " " << c.month << " " << convert;
                EXPECT_EQ(qnDateTimeDay(next), c.day + 1);
            }
            EXPECT_EQ(qnDateTimeByAddingDays(qnDateTimeByAddingDays(d, 1), -1), d);
            EXPECT_EQ(qnHours(qnDateTimeByAddingMonths(d, 6)), 10);
        }
    }
}

TEST_F(DatesTest, TextsInTheConfiguredAndNumberedFormats) {
    const DateTime d = at(2021, 3, 5);
    const DateTime evening = at(2021, 3, 5, 21, 7, 9, 123);
    EXPECT_EQ(qnDateToString(d), u"03/05/21");
    EXPECT_EQ(qnDateToStringWithFormatDelimiter(d, 1, u"/"), u"21/03/05");
    EXPECT_EQ(qnDateToStringWithFormatDelimiter(d, 9, u""), u"2021-03-05");
    EXPECT_EQ(qnDateToStringWithFormatDelimiter(d, 3, u"ab"), u"05-03-21") << "one character only";
    EXPECT_EQ(qnDateToStringWithFormatDelimiter(d, 3, u"a"), u"05a03a21") << "a letter is text";
    EXPECT_EQ(qnDateToStringWithFormat(d, 4), u"03-05-2021");

    EXPECT_EQ(qnDateFormatNumberForCurrentLanguage(), 2);
    EXPECT_EQ(QNBuiltins::qnDtoC(d), u"03/05/21");
    EXPECT_EQ(QNBuiltins::qnTtoC(evening), u"03/05/21 09:07 PM");
    EXPECT_EQ(QNBuiltins::qnTtoC(evening, 10, 8), u"03/05/2021 09:07:09 PM");
    EXPECT_EQ(qnTimeToString(evening), u"03/05/21 09:07:09 PM");
    EXPECT_EQ(QNBuiltins::qnCtoD(u"03/05/21"), d);
    EXPECT_EQ(QNBuiltins::qnCtoT(u"03/05/21 09:07 pm"), at(2021, 3, 5, 21, 7));
    EXPECT_EQ(qnCharToDate(u"03/05/21"), d);
    EXPECT_FALSE(qnCharToDate(u"13/45/21"));
    EXPECT_FALSE(qnCharToDate(u""));
    EXPECT_EQ(qnDateCharDayOfWeek(at(2021, 3, 7)), u"Sunday");
    EXPECT_EQ(qnDateCharDayOfWeekWithLanguage(at(2021, 3, 7), u"Spanish"), u"Domingo");
    EXPECT_EQ(qnDateCharMonthWithLanguage(d, u"Spanish"), u"Marzo");
    EXPECT_EQ(qnDateCharDayOfWeekWithLanguage(at(2021, 3, 8), u"por"), u"Segunda-Feira");

    QNResources::setCurrentLanguageName(u"Spanish");
    EXPECT_EQ(qnDateFormatNumberForCurrentLanguage(), 3);
    EXPECT_EQ(qnDateToString(d), u"05/03/2021");
    EXPECT_EQ(QNBuiltins::qnDtoC(d), u"05/03/21");
    EXPECT_EQ(QNBuiltins::qnTtoC(evening, 10, 12), u"05/03/2021 21:07:09.123");
    EXPECT_EQ(qnTimeToString(evening), u"05/03/2021 21:07:09");
    EXPECT_EQ(QNBuiltins::qnCtoD(u"05/03/21"), d);
    QNResources::setCurrentLanguageName(u"Nowhere");
    EXPECT_EQ(qnDateFormatNumberForCurrentLanguage(), 3) << "no language: day-month-year";

    ScopedTimeZone madrid(u"Europe/Madrid", true);
    const DateTime lateSaturday = at(2021, 3, 6, 23, 30);
    EXPECT_EQ(qnDateTimeCharDayOfWeek(lateSaturday), u"Sunday") << "00:30 in Madrid";
    EXPECT_EQ(qnDateCharDayOfWeek(lateSaturday), u"Saturday");
    EXPECT_EQ(QNBuiltins::formatDateTimeParm(at(2021, 3, 5, 10, 20, 30)), u"20210305102030");
}

TEST_F(DatesTest, FixedTextsAndTheirParsing) {
    const DateTime d = at(2021, 3, 5, 10, 20, 30, 123);
    EXPECT_EQ(QNBuiltins::date::toCharREST(d), u"2021-03-05");
    EXPECT_EQ(QNBuiltins::time::toCharREST(d), u"2021-03-05T10:20:30");
    EXPECT_EQ(qnDBManagerDateFormatter()->dateFromString(u"2021-03-05 10:20:30.123"), d);
    EXPECT_EQ(QNBuiltins::formatDateParm(d), u"20210305");

    EXPECT_EQ(QNBuiltins::char_::toTimeREST(u"2021-03-05T10:20:30.123"), d);
    EXPECT_EQ(QNBuiltins::char_::toDateREST(u"2021-03-05"), at(2021, 3, 5));
    for (const char16_t* bad :
         {u"0000-00-00", u"0000-00-00T00:00:00", u"0000-00-00T00:00:00.000", u"2021-02-30",
          u"2021-03-05T10:20:30.12", u"2021-03-05T25:00:00", u"", u"garbage"}) {
        EXPECT_TRUE(isQnEmptyDate(QNBuiltins::char_::toTimeREST(StringView(bad)))) << toUtf8(bad);
        EXPECT_TRUE(isQnEmptyDate(QNBuiltins::char_::toDateREST(StringView(bad)))) << toUtf8(bad);
    }
    EXPECT_TRUE(isQnEmptyDate(QNBuiltins::char_::toTimeREST(std::nullopt)));

    EXPECT_EQ(qnDateFromSOAPValue(u"2021-03-05"), at(2021, 3, 5));
    EXPECT_EQ(qnDateTimeFromSOAPValue(u"2021-03-05T10:20:30"), at(2021, 3, 5, 10, 20, 30));
    EXPECT_TRUE(isQnEmptyDate(qnDateFromSOAPValue(u"0000-00-00")));
    EXPECT_TRUE(isQnEmptyDate(qnDateTimeFromSOAPValue(u"")));
    EXPECT_EQ(qnDateToStringWithPicture(d, u"99"), u"");
    EXPECT_NE(qnDateToStringWithPicture(d, u"99/99/9999").find(u"2021"), String::npos);
}

TEST_F(DatesTest, TextToDateTimeBuildsItsPatternFromTheText) {
    struct Shape {
        const char16_t* text;
        const char16_t* datePattern;
        const char16_t* pattern;
    };
    for (const Shape& s :
         {Shape{u"03-05-21 10:20 PM", u"MM-dd-yy", u"MM-dd-yy hh:mmaa"},
          {u"03-05-21 10:20", u"MM-dd-yy", u"MM-dd-yy HH:mm"},
          {u"03-05-21 10:20:30", u"MM-dd-yy", u"MM-dd-yy HH:mm:ss"},
          {u"03-05-21 10:20:30.123", u"MM-dd-yy", u"MM-dd-yy HH:mm:ss.SSS"},
          {u"03-05-21 10:20:30 am", u"MM-dd-yy", u"MM-dd-yy hh:mm:ssaa"},
          {u"2021-03-05T10:20:30", u"yyyy-MM-dd", u"yyyy-MM-dd'T'HH:mm:ss"},
          {u"2021-03-05t10:20:30.123", u"yyyy-MM-dd", u"yyyy-MM-dd'T'HH:mm:ss.SSS"},
          {u"T03-05-21 10:20", u"MM-dd-yy", u"MM-dd-yyHH:mm"},
          {u"03-05-21", u"MM-dd-yy", u"MM-dd-yy"},
          {u"10:20", u"MM-dd-yy", u""}})
        EXPECT_EQ(qnDateTimePatternForText(s.text, s.datePattern), s.pattern) << toUtf8(s.text);

    EXPECT_EQ(qnCharToTimeWithDateFormat(u"03-05-21 10:20 PM", u"MM-dd-yy"),
              at(2021, 3, 5, 22, 20));
    EXPECT_EQ(qnCharToTimeWithDateFormat(u"2021-03-05T10:20:30.123", u"yyyy-MM-dd"),
              at(2021, 3, 5, 10, 20, 30, 123));
    EXPECT_EQ(qnCharToTimeWithDateFormat(u"03-05-21", u"MM-dd-yy"), at(2021, 3, 5));
    EXPECT_EQ(qnCharToTime(u"10:20"), timeOnly(10, 20));
    EXPECT_EQ(qnCharToTimeOnly(u"10:20:30.5"), timeOnly(10, 20, 30, 5));
    for (const char16_t* bad : {u"", u"25:00", u"no-date", u"03-05-21 99:99", u"02-30-21 10:00"})
        EXPECT_TRUE(isQnEmptyDate(qnCharToTimeWithDateFormat(bad, u"MM-dd-yy"))) << toUtf8(bad);

    ScopedTimeZone madrid(u"Europe/Madrid", true);
    EXPECT_EQ(QNBuiltins::qnCtoT(u"03/05/21 10:20 PM"), at(2021, 3, 5, 21, 20)) << "read in Madrid";
}

// What qnTimeToString writes, qnCharToTime reads back, in each language's
// format and clock, whether stored times are converted from UTC or not.
TEST_F(DatesTest, TimeTextsReadBackInTheConfiguredFormat) {
    const DateTime values[] = {at(2021, 3, 5, 10, 20, 30),
                               at(2021, 3, 5, 21, 7, 9),
                               at(2030, 12, 31, 12, 0, 59),
                               at(1999, 1, 1),
                               timeOnly(9, 5, 7),
                               timeOnly(21, 7, 9),
                               timeOnly(12, 30),
                               timeOnly(0, 30, 1),
                               qnEmptyDate()};
    for (const char16_t* language : {u"English", u"Spanish"}) {
        QNResources::setCurrentLanguageName(String(language));
        for (bool convert : {true, false}) {
            ScopedTimeZone madrid(u"Europe/Madrid", convert);
            for (DateTime d : values) {
                const String text = qnTimeToString(d);
                EXPECT_EQ(qnCharToTime(text), d)
                    << toUtf8(language) << (convert ? " converted " : " ") << toUtf8(text);
            }
        }
        EXPECT_EQ(qnCharToTime(u"10:20:30"), timeOnly(10, 20, 30)) << "a time of day alone";
        EXPECT_EQ(qnCharToTime(u"10:20 pm"), timeOnly(22, 20));
    }
}

// People type dates without leading zeros; what is no date stays none, and
// years are read as before.
TEST_F(DatesTest, TypedTextsMayDropLeadingZeros) {
    EXPECT_EQ(qnCharToDateFormat(u"5/3/2021", 5), at(2021, 3, 5));
    EXPECT_EQ(qnCharToDateFormat(u"5/3/21", 3), at(2021, 3, 5));
    EXPECT_EQ(qnCharToDateFormat(u"2021-3-5", 0), at(2021, 3, 5));
    EXPECT_EQ(qnCharToDate(u"3/5/21"), at(2021, 3, 5)) << "English: MM/dd/yy";
    EXPECT_EQ(qnCharToTime(u"3/5/21 9:7"), at(2021, 3, 5, 9, 7));
    EXPECT_EQ(qnCharToTimeFormat(u"5/3/2021 9:7:3", 5), at(2021, 3, 5, 9, 7, 3));
    EXPECT_EQ(qnCharToTimeFormat(u"5/3/2021 9:07 pm", 5), at(2021, 3, 5, 21, 7));
    EXPECT_EQ(qnCharToTimeFormat(u"5/3/2021 9:7:3.123", 5), at(2021, 3, 5, 9, 7, 3, 123));
    QNResources::setCurrentLanguageName(String(u"Spanish"));
    EXPECT_EQ(qnCharToDate(u"5/3/2021"), at(2021, 3, 5)) << "Spanish: dd/MM/yyyy";
    EXPECT_EQ(QNBuiltins::qnCtoD(u"5/3/21"), at(2021, 3, 5));
    EXPECT_EQ(QNBuiltins::qnCtoT(u"5/3/21 9:05"), at(2021, 3, 5, 9, 5));

    // A four-digit pattern keeps a two-digit year as that year; a two-digit
    // pattern takes a four-digit year as written.
    EXPECT_EQ(qnDateYear(qnCharToDateFormat(u"5/3/21", 5)), 21);
    EXPECT_EQ(qnCharToDateFormat(u"5/3/2021", 3), at(2021, 3, 5));

    for (const char16_t* bad :
         {u"31/2/2021", u"31/02/2021", u"32/1/2021", u"5/13/2021", u"0/3/2021", u"5/3/2021x",
          u"5/3/20x1", u"5//2021", u"5/3", u"/3/2021", u"5 /3/2021", u"5/3/2021 9:7"})
        EXPECT_TRUE(isQnEmptyDate(qnCharToDateFormat(bad, 5))) << toUtf8(bad);
    for (const char16_t* bad : {u"30/2/2021", u"5/3/2021x", u"5-3-2021"})
        EXPECT_FALSE(qnCharToDate(bad)) << toUtf8(bad);
    for (const char16_t* bad : {u"5/3/2021 24:00", u"5/3/2021 9:60", u"5/3/2021 9:7:3x",
                                u"5/3/2021 9:7:", u"31/2/2021 9:07", u"5/3/2021 13:07 pm"})
        EXPECT_TRUE(isQnEmptyDate(qnCharToTimeFormat(bad, 5))) << toUtf8(bad);
}

TEST_F(DatesTest, ConcurrentFormattingAndParsingGiveEachThreadItsText) {
    static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    constexpr int kThreads = 8;
    std::vector<int> failures(kThreads, 0);
    test::onThreads(kThreads, [&failures](int t) {
        for (int i = 0; i < 300; ++i) {
            const int y = 2000 + t, mo = 1 + i % 12, day = 1 + i % 28, h = i % 24, s = i % 60;
            const DateTime d = at(y, mo, day, h, t, s, i);
            char db[64], rest[64], shown[32];
            std::snprintf(db, sizeof db, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, day, h, t, s,
                          i);
            std::snprintf(rest, sizeof rest, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, day, h, t, s);
            const char delimiter = t % 2 ? '.' : '/';
            std::snprintf(shown, sizeof shown, "%02d%c%02d%c%04d", day, delimiter, mo, delimiter,
                          y);
            const bool ok =
                toUtf8(QNBuiltins::dateToCharDB(d)) == db &&
                qnDBManagerDateFormatter()->dateFromString(fromUtf8(db)) == d &&
                toUtf8(QNBuiltins::time::toCharREST(d).value_or(u"")) == rest &&
                QNBuiltins::char_::toTimeREST(fromUtf8(rest)) == at(y, mo, day, h, t, s) &&
                toUtf8(qnDateToStringWithFormatDelimiter(d, 5, String(1, delimiter))) == shown &&
                toUtf8(qnDateCharMonth(d)) == kMonths[mo - 1];
            failures[t] += !ok;
        }
    });
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace qn
