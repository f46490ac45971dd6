// `qn date`: the date built-ins from the shell, and the demo's section on
// them. Dates on the command line are ISO texts read in UTC (yyyy-MM-dd, or
// yyyy-MM-ddTHH:mm:ss[.SSS] for a date-time).

#include <qn/host.h>
#include <qn/runtime.h>
#include <qn/util.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::DateTime;
using qn::QNutil;
using qn::String;
using qn::toUtf8;

namespace {

const char* const kDateUsage =
    "usage: qn date [--tz ZONE] [--utc-conversion] SUBCOMMAND ...\n"
    "  add-days DATE N | add-months DATE N | add-years DATE N | add-seconds DATE SECONDS\n"
    "  diff DATE OTHER       days and seconds from OTHER to DATE\n"
    "  eom DATE              end of month\n"
    "  dow DATE              day of week (1 Sunday ... 7 Saturday) and its name\n"
    "  rest TEXT             read a REST date-time text, write it back\n"
    "  db DATE               the database text\n"
    "  parse TEXT [PATTERN]  text to date-time (PATTERN defaults to yyyy-MM-dd)\n"
    "  format DATE NUMBER [DELIMITER]\n"
    "  now\n"
    "DATE is yyyy-MM-dd or yyyy-MM-ddTHH:mm:ss[.SSS], in UTC.\n";

bool readDate(const std::string& text, DateTime& out) {
    const String s = qn::fromUtf8(text);
    out = s.size() == 10 ? QNutil::char_::toDateREST(s) : QNutil::char_::toTimeREST(s);
    if (qn::isQnEmptyDate(out) && s.rfind(u"0000-00-00", 0) != 0) {
        std::cerr << "qn: '" << text << "' is not a date (yyyy-MM-dd[THH:mm:ss[.SSS]])\n";
        return false;
    }
    return true;
}

bool readInteger(const std::string& text, std::int64_t& out) {
    const qn::Decimal d = qn::Decimal::fromString(std::string_view(text));
    if (d.isNaN() || !d.isInteger()) {
        std::cerr << "qn: '" << text << "' is not an integer\n";
        return false;
    }
    out = d.toInt64();
    return true;
}

// The instant in UTC and, when stored times are converted, on the
// application's wall clock too.
std::string describe(DateTime d) {
    if (qn::isQnEmptyDate(d)) return "(empty date)";
    if (qn::isQnTimeOnlyDateTime(d)) {
        char time[64];
        std::snprintf(time, sizeof time, "(time only) %02lld:%02lld:%02lld.%03lld",
                      static_cast<long long>(qn::qnHours(d)),
                      static_cast<long long>(qn::qnMinutes(d)),
                      static_cast<long long>(qn::qnSeconds(d)),
                      static_cast<long long>(qn::qnMilliseconds(d)));
        return time;
    }
    std::string text = toUtf8(QNutil::dateToCharDB(d)) + " UTC";
    if (qn::QNTimeZone::convertTimesFromUTC()) {
        char local[96];
        std::snprintf(
            local, sizeof local, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
            static_cast<long long>(qn::qnDateTimeYear(d)),
            static_cast<long long>(qn::qnDateTimeMonth(d)),
            static_cast<long long>(qn::qnDateTimeDay(d)), static_cast<long long>(qn::qnHours(d)),
            static_cast<long long>(qn::qnMinutes(d)), static_cast<long long>(qn::qnSeconds(d)));
        text += std::string(" = ") + local + " " + toUtf8(qn::QNTimeZone::currentTimeZoneName());
    }
    return text;
}

int dateCommand(const std::vector<std::string>& a) {
    const std::string& sub = a[0];
    const std::size_t n = a.size();
    DateTime d, other;
    std::int64_t count = 0;
    if ((sub == "add-days" || sub == "add-months" || sub == "add-years") && n == 3) {
        if (!readDate(a[1], d) || !readInteger(a[2], count)) return 1;
        d = sub == "add-days"     ? qn::qnDateByAddingDays(d, count)
            : sub == "add-months" ? qn::qnDateByAddingMonths(d, count)
                                  : qn::qnDateByAddingYears(d, count);
        std::cout << describe(d) << "\n";
    } else if (sub == "add-seconds" && n == 3) {
        const qn::Decimal seconds = qn::Decimal::fromString(std::string_view(a[2]));
        if (!readDate(a[1], d)) return 1;
        if (seconds.isNaN()) {
            std::cerr << "qn: '" << a[2] << "' is not a number\n";
            return 1;
        }
        std::cout << describe(QNutil::dtadd(d, seconds)) << "\n";
    } else if (sub == "diff" && n == 3) {
        if (!readDate(a[1], d) || !readDate(a[2], other)) return 1;
        std::cout << QNutil::ddiff(d, other) << " days, "
                  << qn::qnSecondsToDateWithMilliseconds(d, other).toStdString() << " seconds\n";
    } else if (sub == "eom" && n == 2) {
        if (!readDate(a[1], d)) return 1;
        std::cout << describe(qn::qnDateEndOfMonth(d)) << "\n";
    } else if (sub == "dow" && n == 2) {
        if (!readDate(a[1], d)) return 1;
        std::cout << qn::qnDateTimeDayOfWeek(d) << " " << toUtf8(qn::qnDateTimeCharDayOfWeek(d))
                  << "\n";
    } else if (sub == "rest" && n == 2) {
        d = QNutil::char_::toTimeREST(qn::fromUtf8(a[1]));
        std::cout << "value:     " << describe(d) << "\n"
                  << "REST date: " << toUtf8(*QNutil::date::toCharREST(d)) << "\n"
                  << "REST time: " << toUtf8(*QNutil::time::toCharREST(d)) << "\n"
                  << "database:  " << toUtf8(QNutil::dateToCharDB(d)) << "\n";
    } else if (sub == "db" && n == 2) {
        if (!readDate(a[1], d)) return 1;
        std::cout << toUtf8(QNutil::dateToCharDB(d)) << "\n";
    } else if (sub == "parse" && (n == 2 || n == 3)) {
        const String text = qn::fromUtf8(a[1]);
        const String pattern = n == 3 ? qn::fromUtf8(a[2]) : String(u"yyyy-MM-dd");
        const String built = qn::qnDateTimePatternForText(text, pattern);
        std::cout << "pattern: " << (built.empty() ? "(time only: HH:mm:ss.SSS)" : toUtf8(built))
                  << "\nvalue:   " << describe(qn::qnCharToTimeWithDateFormat(text, pattern))
                  << "\n";
    } else if (sub == "format" && (n == 3 || n == 4)) {
        if (!readDate(a[1], d) || !readInteger(a[2], count)) return 1;
        const String delimiter = n == 4 ? qn::fromUtf8(a[3]) : String(u"-");
        std::cout << toUtf8(qn::qnDateToStringWithFormatDelimiter(d, count, delimiter)) << "\n";
    } else if (sub == "now" && n == 1) {
        std::cout << "date-time: " << describe(QNutil::serverNow()) << "\n"
                  << "date:      " << describe(QNutil::serverDate()) << "\n"
                  << "time:      " << toUtf8(QNutil::serverTime()) << "\n";
    } else {
        std::cerr << kDateUsage;
        return 2;
    }
    return 0;
}

}  // namespace

int runDate(const std::vector<std::string>& args) {
    std::vector<std::string> rest;
    bool convert = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--utc-conversion") {
            convert = true;
        } else if (args[i] == "--tz" && i + 1 < args.size()) {
            if (!qn::QNTimeZone::setCurrentTimeZoneName(qn::fromUtf8(args[++i]))) {
                std::cerr << "qn: unknown time zone '" << args[i] << "'\n";
                return 1;
            }
        } else {
            rest.push_back(args[i]);
        }
    }
    qn::QNTimeZone::setConvertTimesFromUTC(convert);
    if (rest.empty()) {
        std::cerr << kDateUsage;
        return 2;
    }
    return dateCommand(rest);
}

void showDates(std::ostream& out) {
    auto row = [&out](const char* call, const String& result) {
        out << "   " << call << std::string(44 - qn::fromUtf8(call).size(), ' ') << "\""
            << toUtf8(result) << "\"\n";
    };
    const DateTime march5 = qn::qnDateFromYearMonthDay(2021, 3, 5);
    const DateTime evening = qn::qnDateTimeFromYearMonthDayHourMinute(2021, 3, 5, 21, 7);
    const DateTime nineOFive = qn::qnTimeOnlyDateTimeFromHourMinuteSecond(9, 5, 0);
    row("2021-01-31 + 1 month",
        qn::qnDateToStringWithFormat(
            qn::qnDateByAddingMonths(qn::qnDateFromYearMonthDay(2021, 1, 31), 1), 0));
    row("years 30 and 31 (two-digit year rule)",
        qn::qnDateToStringWithFormat(qn::qnDateFromYearMonthDay(30, 3, 5), 0) + u" / " +
            qn::qnDateToStringWithFormat(qn::qnDateFromYearMonthDay(31, 3, 5), 0));
    row("2021-02-29 (no such date)", qn::qnDateToString(qn::qnDateFromYearMonthDay(2021, 2, 29)));
    row("2021-03-05 as format 5 with \".\"",
        qn::qnDateToStringWithFormatDelimiter(march5, 5, u"."));
    row("qnDtoC(2021-03-05) / qnTtoC(21:07)",
        QNutil::qnDtoC(march5) + u" / " + QNutil::qnTtoC(evening));
    row("qnTtoC(time-only 09:05)", QNutil::qnTtoC(nineOFive));
    row("day of week of 2021-03-07, in Spanish",
        qn::qnDateCharDayOfWeek(qn::qnDateFromYearMonthDay(2021, 3, 7)) + u", " +
            qn::qnDateCharDayOfWeekWithLanguage(qn::qnDateFromYearMonthDay(2021, 3, 7),
                                                u"Spanish"));
    const DateTime rest = QNutil::char_::toTimeREST(u"2021-03-05T10:20:30.123");
    row("REST 2021-03-05T10:20:30.123 -> database", QNutil::dateToCharDB(rest));
    row("... -> REST date-time", *QNutil::time::toCharREST(rest));
    row("pattern for '03-05-21 10:20 PM' (MM-dd-yy)",
        qn::qnDateTimePatternForText(u"03-05-21 10:20 PM", u"MM-dd-yy"));
    row("empty date: qnDtoC / REST / database",
        QNutil::qnDtoC(qn::qnEmptyDate()) + u" / " + *QNutil::date::toCharREST(qn::qnEmptyDate()) +
            u" / " + QNutil::dateToCharDB(qn::qnEmptyDate()));

    // Adding a day across a daylight-saving change keeps the wall clock.
    const String zone = qn::QNTimeZone::currentTimeZoneName();
    const bool convert = qn::QNTimeZone::convertTimesFromUTC();
    qn::QNTimeZone::setCurrentTimeZoneName(u"Europe/Madrid");
    qn::QNTimeZone::setConvertTimesFromUTC(true);
    const DateTime before = qn::qnDateTimeFromYearMonthDayHour(2021, 3, 27, 10);
    const DateTime after = qn::qnDateTimeByAddingDays(before, 1);
    out << "   Madrid 2021-03-27 10:00 + 1 day (clocks go forward that night):\n"
        << "     " << describe(before) << "\n     " << describe(after) << "\n";
    qn::QNTimeZone::setCurrentTimeZoneName(zone);
    qn::QNTimeZone::setConvertTimesFromUTC(convert);
}

}  // namespace qntool
