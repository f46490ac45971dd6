// Regular expressions: the library's operations beside ICU's matcher doing
// the same work by hand. A match test over many short texts shows what a
// call costs around the search (the pattern looked up, the text attached);
// split and match-all over one large text show the cost of the results
// (collections of Values and match objects against plain strings).
#include <benchmark/benchmark.h>
#include <qn/util.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "icu_matcher.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using qn::bench::alias;
using qn::bench::IcuMatcher;

// --- One pattern over 1,000 short texts ------------------------------------------
// Addresses as a form would check them; about half are well formed.

std::vector<qn::String> addresses() {
    std::vector<qn::String> rows;
    for (int i = 0; i < 1000; ++i) {
        const std::string n = std::to_string(i);
        rows.push_back(qn::asciiString(i % 2 == 0   ? "user." + n + "@example" + n + ".com"
                                       : i % 3 == 0 ? "user " + n + " at example.org"
                                                    : "user" + n + "@host" + n));
    }
    return rows;
}

const qn::String kAddressPattern = u"^[\\w.+-]+@[\\w-]+(\\.[\\w-]+)*\\.[a-z]{2,}$";

void BM_RegexIsMatch1000_Qn(benchmark::State& state) {
    const auto rows = addresses();
    std::int64_t found = 0;
    for (auto _ : state) {
        for (const qn::String& row : rows)
            found += qn::QNRegEx::isMatchInTextRegExp(row, kAddressPattern);
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows.size()));
}
BENCHMARK(BM_RegexIsMatch1000_Qn);

void BM_RegexIsMatch1000_RawIcu(benchmark::State& state) {
    const auto rows = addresses();
    IcuMatcher matcher(kAddressPattern);
    std::int64_t found = 0;
    for (auto _ : state) {
        for (const qn::String& row : rows) {
            UErrorCode status = U_ZERO_ERROR;
            const icu::UnicodeString text = alias(row);
            found += matcher.on(text).find(status);
        }
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rows.size()));
}
BENCHMARK(BM_RegexIsMatch1000_RawIcu);

// --- Split and match-all over 1 MB ------------------------------------------------
// Settings text: "key=value" pairs between semicolons, a million code units.

const qn::String& settingsText() {
    static const qn::String text = [] {
        qn::String out;
        for (int i = 0; out.size() < (1u << 20); ++i)
            out += qn::asciiString("setting" + std::to_string(i % 997) + "=" + std::to_string(i) +
                                   (i % 5 == 0 ? " ;  " : ";"));
        return out;
    }();
    return text;
}

const qn::String kSeparatorPattern = u"\\s*;\\s*";
const qn::String kPairPattern = u"(\\w+)=(\\d+)";

void BM_RegexSplit1MB_Qn(benchmark::State& state) {
    const qn::String& text = settingsText();
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNRegEx::splitTextRegExp(text, kSeparatorPattern));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_RegexSplit1MB_Qn)->Unit(benchmark::kMillisecond);

void BM_RegexSplit1MB_RawIcu(benchmark::State& state) {
    const qn::String& text = settingsText();
    const icu::UnicodeString input = alias(text);
    IcuMatcher matcher(kSeparatorPattern);
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        icu::RegexMatcher& m = matcher.on(input);
        std::vector<qn::String> pieces;
        std::int64_t cursor = 0;
        while (m.find(status)) {
            const std::int64_t start = m.start64(status);
            if (start > cursor) pieces.emplace_back(text, cursor, start - cursor);
            cursor = m.end64(status);
        }
        if (static_cast<std::size_t>(cursor) < text.size()) pieces.emplace_back(text, cursor);
        benchmark::DoNotOptimize(pieces);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_RegexSplit1MB_RawIcu)->Unit(benchmark::kMillisecond);

void BM_RegexMatchAll1MB_Qn(benchmark::State& state) {
    const qn::String& text = settingsText();
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNRegEx::matchInTextRegExp(text, kPairPattern));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_RegexMatchAll1MB_Qn)->Unit(benchmark::kMillisecond);

// The same, with every match's groups collection asked for (each is made on
// first use).
void BM_RegexMatchAll1MB_QnReadingGroups(benchmark::State& state) {
    const qn::String& text = settingsText();
    for (auto _ : state) {
        const auto matches = qn::QNRegEx::matchInTextRegExp(text, kPairPattern);
        for (const qn::Value& item : matches->items())
            benchmark::DoNotOptimize(
                static_cast<const qn::QNRegExMatch&>(*item.asObject()).groups());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_RegexMatchAll1MB_QnReadingGroups)->Unit(benchmark::kMillisecond);

// The same results as plain strings: each match's text and its groups' texts.
void BM_RegexMatchAll1MB_RawIcu(benchmark::State& state) {
    struct Match {
        qn::String value;
        std::vector<qn::String> groups;
    };
    const qn::String& text = settingsText();
    const icu::UnicodeString input = alias(text);
    IcuMatcher matcher(kPairPattern);
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        icu::RegexMatcher& m = matcher.on(input);
        const std::int32_t groupCount = m.groupCount();
        std::vector<Match> matches;
        while (m.find(status)) {
            Match match;
            match.value.assign(text, m.start64(status), m.end64(status) - m.start64(status));
            for (std::int32_t g = 1; g <= groupCount; ++g)
                match.groups.emplace_back(text, m.start64(g, status),
                                          m.end64(g, status) - m.start64(g, status));
            matches.push_back(std::move(match));
        }
        benchmark::DoNotOptimize(matches);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_RegexMatchAll1MB_RawIcu)->Unit(benchmark::kMillisecond);

}  // namespace
