// Like-matching: the library's matcher beside a precompiled ICU regular
// expression doing the same match, and beside the matcher it replaced (the
// translated expression run by ICU's backtracking engine under a work
// budget), on an ordinary pattern and on one with many "%".
#include <benchmark/benchmark.h>
#include <qn/runtime.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "icu_matcher.h"

#include "../tests/runtime/like_reference.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using qn::bench::IcuMatcher;

// --- An ordinary pattern over rows ----------------------------------------------
// Addresses as a filter would see them; two in five match, the others fail
// once the street is read.

std::vector<qn::String> addressRows() {
    std::vector<qn::String> rows;
    for (int i = 0; i < 1000; ++i) {
        const char* city = i % 5 == 0 ? "Riverside" : i % 5 == 1 ? "Rivera" : "Oakland";
        rows.push_back(qn::asciiString(std::to_string(100 + i) + " Main Street, " + city + ", CA " +
                                       std::to_string(92500 + i % 100)));
    }
    return rows;
}

const qn::String kOrdinaryPattern = u"%Street, River%CA 9_5%";
// The regular expression kOrdinaryPattern stands for.
const qn::String kOrdinaryRegex = u"Street, River.*CA 9.5.*";

template <class Match>
void overRows(benchmark::State& state, Match&& match) {
    const auto rows = addressRows();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(match(rows[i]));
        i = (i + 1) % rows.size();
    }
}

void BM_LikeOrdinary_Qn(benchmark::State& state) {
    overRows(state, [](const qn::String& row) {
        return qn::qnIsLikeStringUseEscapeCharacter(row, kOrdinaryPattern, true);
    });
}
BENCHMARK(BM_LikeOrdinary_Qn);

void BM_LikeOrdinary_RawIcuMatcher(benchmark::State& state) {
    IcuMatcher matcher(kOrdinaryRegex);
    overRows(state, [&matcher](const qn::String& row) { return matcher.find(row); });
}
BENCHMARK(BM_LikeOrdinary_RawIcuMatcher);

void BM_LikeOrdinary_OldBacktracking(benchmark::State& state) {
    qn::like_reference::Matcher matcher(kOrdinaryPattern, true);
    overRows(state, [&matcher](const qn::String& row) { return matcher.matches(row); });
}
BENCHMARK(BM_LikeOrdinary_OldBacktracking);

// --- Many "%" on a subject that almost matches -------------------------------------
// A first line of n 'a's, on which every start almost matches, then a line
// that does. Backtracking tries polynomially many splits of the first line;
// the argument is n.

qn::String almostMatching(std::int64_t n) {
    return qn::String(static_cast<std::size_t>(n), u'a') + u"\naaaab";
}

const qn::String kManyPercentPattern = u"%a%a%a%b";
const qn::String kManyPercentRegex = u"a.*a.*a.*b";

void BM_LikeManyPercent_Qn(benchmark::State& state) {
    const qn::String subject = almostMatching(state.range(0));
    bool found = false;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            found = qn::qnIsLikeStringUseEscapeCharacter(subject, kManyPercentPattern, true));
    state.counters["found"] = found;
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LikeManyPercent_Qn)->RangeMultiplier(4)->Range(64, 4096)->Complexity();

void BM_LikeManyPercent_RawIcuMatcher(benchmark::State& state) {
    const qn::String subject = almostMatching(state.range(0));
    IcuMatcher matcher(kManyPercentRegex);
    bool found = false;
    for (auto _ : state)
        benchmark::DoNotOptimize(found = matcher.find(subject));
    state.counters["found"] = found;
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LikeManyPercent_RawIcuMatcher)->RangeMultiplier(2)->Range(32, 128)->Complexity();

// Past a few hundred 'a's the old matcher spends its budget and answers
// "not like" (found = 0).
void BM_LikeManyPercent_OldBacktracking(benchmark::State& state) {
    const qn::String subject = almostMatching(state.range(0));
    qn::like_reference::Matcher matcher(kManyPercentPattern, true);
    bool found = false;
    for (auto _ : state)
        benchmark::DoNotOptimize(found = matcher.matches(subject));
    state.counters["found"] = found;
}
BENCHMARK(BM_LikeManyPercent_OldBacktracking)
    ->Arg(64)
    ->Arg(256)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond);

}  // namespace
