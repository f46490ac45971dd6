// Date formatters and calendars beside the raw ICU calls they replace: the
// fixed numeric patterns (the library's direct path) beside a cached strict
// SimpleDateFormat, other patterns through the per-thread cache beside the
// same cached SimpleDateFormat, and calendar arithmetic beside a cached
// GregorianCalendar. Every library call includes its cache lookup. The
// built-ins that read typed texts stand beside the raw parse of their pattern.

#include <benchmark/benchmark.h>
#include <qn/host/dates.h>
#include <qn/runtime/dates.h>
#include <unicode/gregocal.h>
#include <unicode/smpdtfmt.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// ICU's time (milliseconds since 1970) of a library date (seconds since 2001).
UDate toUDate(qn::DateTime date) {
    return (date.timeIntervalSinceReferenceDate() + 978307200.0) * 1000.0;
}

struct PatternCase {
    const char* locale;
    const char16_t* pattern;
};

// Arguments 0-2: the fixed patterns; 3-4: patterns ICU writes; 5-6: the
// patterns of the text-to-date built-ins below.
const PatternCase kPatterns[] = {
    {"en_US_POSIX", u"yyyy-MM-dd HH:mm:ss.SSS"},
    {"en_US_POSIX", u"yyyy-MM-dd"},
    {"en_US_POSIX", u"yyyy-MM-dd'T'HH:mm:ss"},
    {"es_ES", u"dd/MM/yyyy HH:mm"},
    {"en_US_POSIX", u"EEEE"},
    {"en_US_POSIX", u"dd-MM-yyyy"},
    {"en_US_POSIX", u"MM-dd-yy HH:mm:ss"},
};

void nameAfterPattern(benchmark::State& state) {
    const PatternCase& c = kPatterns[state.range(0)];
    state.SetLabel(std::string(c.locale) + " " + qn::toUtf8(c.pattern));
}

// Whole-millisecond instants from 1990 to 2050, as rows hold them.
std::vector<qn::DateTime> sampleInstants() {
    std::vector<qn::DateTime> out;
    for (int i = 0; i < 64; ++i)
        out.emplace_back(-347155200.0 + i * 29567891.123);
    return out;
}

std::unique_ptr<icu::SimpleDateFormat> rawFormat(const PatternCase& c) {
    UErrorCode status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(c.pattern, icu::Locale(c.locale), status);
    format->adoptCalendar(new icu::GregorianCalendar(*icu::TimeZone::getGMT(), status));
    format->setLenient(false);
    return format;
}

std::shared_ptr<qn::DateFormatter> libraryFormat(const PatternCase& c) {
    static const qn::TimeZone utc = qn::TimeZone::utc();
    return qn::DateFormatter::forThread(c.locale, c.pattern, utc);
}

void BM_DateFormat_Library(benchmark::State& state) {
    const PatternCase& c = kPatterns[state.range(0)];
    const auto instants = sampleInstants();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(libraryFormat(c)->stringFromDate(instants[i]));
        i = (i + 1) % instants.size();
    }
    nameAfterPattern(state);
}
BENCHMARK(BM_DateFormat_Library)->DenseRange(0, 6);

void BM_DateFormat_RawIcu(benchmark::State& state) {
    const auto format = rawFormat(kPatterns[state.range(0)]);
    const auto instants = sampleInstants();
    std::size_t i = 0;
    icu::UnicodeString text;
    for (auto _ : state) {
        text.remove();
        format->format(toUDate(instants[i]), text);
        benchmark::DoNotOptimize(text.getBuffer());
        i = (i + 1) % instants.size();
    }
    nameAfterPattern(state);
}
BENCHMARK(BM_DateFormat_RawIcu)->DenseRange(0, 6);

std::vector<qn::String> sampleTexts(const PatternCase& c) {
    std::vector<qn::String> out;
    for (qn::DateTime d : sampleInstants())
        out.push_back(libraryFormat(c)->stringFromDate(d));
    return out;
}

void BM_DateParse_Library(benchmark::State& state) {
    const PatternCase& c = kPatterns[state.range(0)];
    const auto texts = sampleTexts(c);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(libraryFormat(c)->dateFromString(texts[i]));
        i = (i + 1) % texts.size();
    }
    nameAfterPattern(state);
}
BENCHMARK(BM_DateParse_Library)->DenseRange(0, 6);

void BM_DateParse_RawIcu(benchmark::State& state) {
    const PatternCase& c = kPatterns[state.range(0)];
    const auto format = rawFormat(c);
    std::vector<icu::UnicodeString> texts;
    for (const auto& t : sampleTexts(c))
        texts.emplace_back(t.data(), static_cast<int32_t>(t.size()));
    std::size_t i = 0;
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        benchmark::DoNotOptimize(format->parse(texts[i], status));
        i = (i + 1) % texts.size();
    }
    nameAfterPattern(state);
}
BENCHMARK(BM_DateParse_RawIcu)->DenseRange(0, 6);

// --- Typed texts ---------------------------------------------------------------

// Texts as users type them, in UTC "en_US_POSIX": argument 0 at full width,
// 1 without leading zeros (written through the one-letter pattern).
std::vector<qn::String> typedTexts(const char16_t* fullPattern, const char16_t* shortPattern,
                                   std::int64_t withoutZeros) {
    return sampleTexts({"en_US_POSIX", withoutZeros ? shortPattern : fullPattern});
}

// Beside BM_DateParse_RawIcu/5.
void BM_CharToDateFormat(benchmark::State& state) {
    const auto texts = typedTexts(u"dd/MM/yyyy", u"d/M/yyyy", state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn::qnCharToDateFormat(texts[i], 5));
        i = (i + 1) % texts.size();
    }
}
BENCHMARK(BM_CharToDateFormat)->DenseRange(0, 1);

// Beside BM_DateParse_RawIcu/6.
void BM_CharToTimeFormat(benchmark::State& state) {
    const auto texts = typedTexts(u"MM/dd/yy HH:mm:ss", u"M/d/yy H:m:s", state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn::qnCharToTimeFormat(texts[i], 2));
        i = (i + 1) % texts.size();
    }
}
BENCHMARK(BM_CharToTimeFormat)->DenseRange(0, 1);

// The configured format (no bundle here: "MM/dd/yy"). Beside BM_DateParse_RawIcu/6.
void BM_CharToTime(benchmark::State& state) {
    const auto texts = typedTexts(u"MM/dd/yy HH:mm:ss", u"M/d/yy H:m:s", state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn::qnCharToTime(texts[i]));
        i = (i + 1) % texts.size();
    }
}
BENCHMARK(BM_CharToTime)->DenseRange(0, 1);

// --- Calendars ---------------------------------------------------------------

void BM_DateFromComponents_Library(benchmark::State& state) {
    int day = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            qn::Calendar::qnCalendar().dateFromComponents(2021, 3, 1 + day, 14, 7, 9, 123000000));
        day = (day + 1) % 28;
    }
}
BENCHMARK(BM_DateFromComponents_Library);

void BM_DateFromComponents_RawIcu(benchmark::State& state) {
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(*icu::TimeZone::getGMT(), status);
    int day = 0;
    for (auto _ : state) {
        calendar.clear();
        calendar.set(2021, UCAL_MARCH, 1 + day, 14, 7, 9);
        calendar.set(UCAL_MILLISECOND, 123);
        benchmark::DoNotOptimize(calendar.getTime(status));
        day = (day + 1) % 28;
    }
}
BENCHMARK(BM_DateFromComponents_RawIcu);

void BM_DateByAddingDays_Library(benchmark::State& state) {
    const auto instants = sampleInstants();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn::Calendar::qnCalendar().dateByAddingDays(instants[i], 1));
        i = (i + 1) % instants.size();
    }
}
BENCHMARK(BM_DateByAddingDays_Library);

void BM_DateByAddingDays_RawIcu(benchmark::State& state) {
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(*icu::TimeZone::getGMT(), status);
    const auto instants = sampleInstants();
    std::size_t i = 0;
    for (auto _ : state) {
        calendar.setTime(toUDate(instants[i]), status);
        calendar.add(UCAL_DATE, 1, status);
        benchmark::DoNotOptimize(calendar.getTime(status));
        i = (i + 1) % instants.size();
    }
}
BENCHMARK(BM_DateByAddingDays_RawIcu);

}  // namespace
