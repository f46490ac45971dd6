// String built-ins beside the raw operations they wrap: like-matching beside
// a precompiled ICU matcher on the same translated pattern, substring and
// search beside std::u16string.

#include <benchmark/benchmark.h>
#include <qn/runtime.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Rows as a filter would see them: names with a common prefix, some hits.
std::vector<qn::String> likeSubjects() {
    std::vector<qn::String> rows;
    for (int i = 0; i < 1000; ++i) {
        rows.push_back(qn::asciiString((i % 7 == 0 ? "River" : "Rover") + std::to_string(i) +
                                       " street, number " + std::to_string(i * 31)));
    }
    return rows;
}

const qn::String kLikePattern = u"River%street%";
// The regular expression the library translates kLikePattern into.
const qn::String kLikeRegex = u"^River.*street.*";

void BM_Like_OnePatternManyRows_Qn(benchmark::State& state) {
    const auto rows = likeSubjects();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn::qnIsLikeString(rows[i], kLikePattern));
        i = (i + 1) % rows.size();
    }
}
BENCHMARK(BM_Like_OnePatternManyRows_Qn);

void BM_Like_OnePatternManyRows_RawIcuMatcher(benchmark::State& state) {
    const auto rows = likeSubjects();
    const qn::String& regex = kLikeRegex;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::unique_ptr<icu::RegexPattern> pattern(icu::RegexPattern::compile(
        icu::UnicodeString(regex.data(), static_cast<int32_t>(regex.size())), 0, parseError,
        status));
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(status));
    std::size_t i = 0;
    for (auto _ : state) {
        const icu::UnicodeString subject(false, rows[i].data(),
                                         static_cast<int32_t>(rows[i].size()));
        matcher->reset(subject);
        benchmark::DoNotOptimize(matcher->find(status));
        i = (i + 1) % rows.size();
    }
}
BENCHMARK(BM_Like_OnePatternManyRows_RawIcuMatcher);

// The cost of a pattern that changes every call (cache misses): a bound,
// not a target.
void BM_Like_DistinctPatterns_Qn(benchmark::State& state) {
    std::vector<qn::String> patterns;
    for (int i = 0; i < 128; ++i)
        patterns.push_back(qn::asciiString("R%" + std::to_string(i) + "%"));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn::qnIsLikeString(u"Riverside 42", patterns[i]));
        i = (i + 1) % patterns.size();
    }
}
BENCHMARK(BM_Like_DistinctPatterns_Qn);

const qn::String& searchText() {
    static const qn::String text = [] {
        qn::String t;
        for (int i = 0; i < 40; ++i)
            t += u"lorem ipsum dolor sit amet ";
        return t + u"needle";
    }();
    return text;
}

void BM_SubstringFromLength_Qn(benchmark::State& state) {
    const qn::String& text = searchText();
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::qnSubstringFromLength(text, 100, 20));
}
BENCHMARK(BM_SubstringFromLength_Qn);

void BM_SubstringFromLength_RawSubstr(benchmark::State& state) {
    const qn::String& text = searchText();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.substr(99, 20));
}
BENCHMARK(BM_SubstringFromLength_RawSubstr);

void BM_SearchForStart_Qn(benchmark::State& state) {
    const qn::String& text = searchText();
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::qnSearchForStart(text, u"needle", 10));
}
BENCHMARK(BM_SearchForStart_Qn);

void BM_SearchForStart_RawFind(benchmark::State& state) {
    const qn::String& text = searchText();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find(u"needle", 9));
}
BENCHMARK(BM_SearchForStart_RawFind);

}  // namespace
