// QNBuiltins: the static built-in functions of generated code.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <compare>
#include <cstdint>
#include <optional>

namespace qn {

class QN_API QNBuiltins {
public:
    // --- Language settings -------------------------------------------------

    // The current language's name; "" when there is none.
    static String getLanguage();
    // The string value of `name` in the current language's configuration
    // entry ("time_fmt" and "date_fmt" stand for "QNTimeFormat" and
    // "QNDateFormat"); "" when missing or not a string.
    static String getLanguageProperty(StringView name);
    // Date order code of the current "QNDateFormat": YMD 1, MDY 2, DMY 3,
    // MDY4 4, DMY4 5, Y4MD 6, other 0; a missing code counts as MDY.
    static std::int64_t dateFormatForCurrentLanguage();
    // YMD and Y4MD 1, MDY and MDY4 2, DMY and DMY4 3, other 0; a missing code
    // counts as MDY.
    static std::int64_t timeFormatForCurrentLanguage();
    static std::int64_t dateTimeFormatForCurrentLanguage() {
        return timeFormatForCurrentLanguage();
    }

    // --- Strings (src/runtime/strings.cc) ----------------------------------
    // Counts and positions are UTF-16 code units; blanks are those of
    // <qn/runtime/strings.h>.

    // The first n code units; the whole text when n is negative or past the end.
    static String left(StringView s, std::int64_t n);
    // The last n code units; the whole text when n is negative or past the
    // end, "" for 0.
    static String right(StringView s, std::int64_t n);
    static String ltrim(StringView s);
    static String rtrim(StringView s);
    // -1, 0 or 1: case-sensitive, canonically equivalent texts are equal
    // (their decomposed forms are compared code unit by code unit).
    static std::int64_t strcmp(StringView a, StringView b);
    static bool strcmp2(StringView a, StringView b) { return strcmp(a, b) == 0; }
    // Bytes of `s` in the named charset. UTF-8 (also for an unknown name)
    // and UTF-16 count UTF-8 bytes; for another charset, when `s` cannot be
    // converted (or is empty), the count of user-perceived characters.
    static std::int64_t byteCount(StringView s, StringView charset);
    // The URL text when `s` reads as a URL (escaped where needed), else `s`
    // percent-encoded like urlParameterEncode.
    static String urlEncode(StringView s);
    // Every character but A-Z a-z 0-9 - . _ ~ percent-encoded as UTF-8.
    static String urlParameterEncode(StringView s);
    // `a op b` for op "<" "<=" ">" ">=" "=" "<>": numbers by value across
    // kinds, strings by strcmp, dates by time. Values that have no common
    // ordering are only equal or not ("=" by Value equality, "<>" its
    // negation, the rest false); NaN is unordered. "like" is qnIsLikeString
    // for two strings, else false; any other op is false.
    static bool compare(const Value& a, StringView op, const Value& b);
    // The ordering compare uses: numbers by value across kinds, strings by
    // strcmp, dates by time; absent when the values have no common ordering.
    // NaN answers unordered.
    static std::optional<std::partial_ordering> compareOrder(const Value& a, const Value& b);
    // qnStringWithFormatValues with the nine parameters, all passed in order.
    static String format(StringView text, const Value& parm1 = Value(),
                         const Value& parm2 = Value(), const Value& parm3 = Value(),
                         const Value& parm4 = Value(), const Value& parm5 = Value(),
                         const Value& parm6 = Value(), const Value& parm7 = Value(),
                         const Value& parm8 = Value(), const Value& parm9 = Value());

    // --- Numbers (src/runtime/numbers.cc) ----------------------------------
    // One pseudo-random sequence per process: the 48-bit generator of
    // drand48, seeded by rseed or, on first use without one, with the current
    // time in seconds. Calls from several threads share it safely.

    // The next value in [0, 1).
    static Decimal random();
    static Decimal rand();
    // random() x 32767, truncated: 0 ... 32766.
    static std::int64_t aleat();
    // Seeds the sequence with the integer part of `seed` (as srand48 does
    // with a long); returns 0.
    static std::int64_t rseed(const Decimal& seed);
    // `value` truncated toward zero (not-a-number 0; beyond the 64-bit range
    // reported through the fatal-error hook, then saturated).
    static std::int64_t qnInt(const Decimal& value);
    // True when the text holds any character other than "0" to "9" ("" is
    // numeric).
    static bool notNumeric(StringView text) noexcept;
    // qnStringFromNumber and qnStringFromNumberTotalLengthDecimals of
    // <qn/runtime/numbers.h>; an integer, double or Decimal converts to its
    // Value as the number's toNSNumber does.
    static String str(const Value& number);
    static String str(const Value& number, std::int64_t length, std::int64_t decimals);

    // --- Dates (src/runtime/dates.cc) ----------------------------------------
    // The built-ins of <qn/runtime/dates.h> under the names generated code
    // calls; "the current language's format" is qnDateFormatNumberForCurrentLanguage.

    static DateTime serverNow();
    static DateTime serverDate();
    static String serverTime();
    static DateTime dadd(DateTime d, std::int64_t days);
    static DateTime dtadd(DateTime d, double seconds);
    static DateTime dtadd(DateTime d, const Decimal& seconds);
    static std::int64_t ddiff(DateTime a, DateTime b);
    // The current language's format with "/".
    static String qnDtoC(DateTime d);
    // Date length `dayDigits` (8), time length `hourDigits` (5), the
    // configured clock, the current language's format, "/", ":" and " ".
    static String qnTtoC(DateTime d, std::int64_t dayDigits = 8, std::int64_t hourDigits = 5);
    static DateTime qnCtoD(StringView text);
    static DateTime qnCtoT(StringView text);
    // "yyyy-MM-dd HH:mm:ss.SSS" in UTC; "0000-00-00 00:00:00.0" for the empty date.
    static String dateToCharDB(DateTime d);
    static std::optional<String> timeToCharDB(std::optional<DateTime> d);
    // YYYYMMDD of the date in UTC / YYYYMMDDhhmmss of the date-time in UTC.
    static String formatDateParm(DateTime d);
    static String formatDateTimeParm(DateTime d);

    // The REST texts: "yyyy-MM-dd" for dates, "yyyy-MM-dd'T'HH:mm:ss" for
    // date-times, in UTC; the empty date as zeros; no value for no value.
    struct date {
        static std::optional<String> toCharREST(std::optional<DateTime> d);
    };
    struct time {
        static std::optional<String> toCharREST(std::optional<DateTime> d);
    };
    // Texts to dates: zeros and no text give the empty date, and so does a
    // text that does not parse. A date-time text of 23 characters carries
    // milliseconds.
    struct char_ {
        static DateTime toDateREST(std::optional<StringView> text);
        static DateTime toTimeREST(std::optional<StringView> text);
    };
};

}  // namespace qn
