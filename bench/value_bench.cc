// The shared value types beside the raw calls they wrap or replace. Each pair
// has the same name up to the suffix (_Qn, _RawIcu, _StdDouble, _SharedPtr),
// so the wrapper's cost reads as a ratio.
#include <qn/value.h>

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <charconv>
#include <memory>
#include <string>
#include <vector>

namespace {

// Mostly ASCII with some two-, three- and four-byte characters, like
// generated application text; range(0) repetitions of a 36-unit unit.
qn::String sampleText(std::int64_t repeats) {
    qn::String out;
    for (std::int64_t i = 0; i < repeats; ++i)
        out += u"Customer caf\u00e9 \u20ac12.50 \U0001F600 ok, ";
    return out;
}

void BM_ToUtf8_Qn(benchmark::State& state) {
    const qn::String text = sampleText(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::toUtf8(text));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}

// The raw calls return a string of their own each time, as the library's
// conversions do: a caller of ICU that keeps the text needs one, and
// converting into one buffer reused for every text would leave the
// allocation out of the raw side alone.
void BM_ToUtf8_RawIcu(benchmark::State& state) {
    const qn::String text = sampleText(state.range(0));
    for (auto _ : state) {
        std::string out(text.size() * 3, '\0');
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                           static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
        out.resize(static_cast<std::size_t>(length));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}

void BM_FromUtf8_Qn(benchmark::State& state) {
    const std::string text = qn::toUtf8(sampleText(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::fromUtf8(text));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_FromUtf8_RawIcu(benchmark::State& state) {
    const std::string text = qn::toUtf8(sampleText(state.range(0)));
    for (auto _ : state) {
        qn::String out(text.size(), u'\0');
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                             static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
        out.resize(static_cast<std::size_t>(length));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

BENCHMARK(BM_ToUtf8_Qn)->Arg(1)->Arg(100);
BENCHMARK(BM_ToUtf8_RawIcu)->Arg(1)->Arg(100);
BENCHMARK(BM_FromUtf8_Qn)->Arg(1)->Arg(100);
BENCHMARK(BM_FromUtf8_RawIcu)->Arg(1)->Arg(100);

// The same numbers as decimal text and as doubles.
const char* const kNumbers[] = {"12345.678901", "-0.000123", "98765432109876543210.5", "42"};

void BM_DecimalFromString_Qn(benchmark::State& state) {
    const std::string_view text = kNumbers[state.range(0)];
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::Decimal::fromString(text));
}

void BM_DecimalFromString_StdDouble(benchmark::State& state) {
    const std::string_view text = kNumbers[state.range(0)];
    for (auto _ : state) {
        double d;
        std::from_chars(text.data(), text.data() + text.size(), d);
        benchmark::DoNotOptimize(d);
    }
}

void BM_DecimalToChars_Qn(benchmark::State& state) {
    const qn::Decimal d = qn::Decimal::fromString(std::string_view(kNumbers[state.range(0)]));
    char buffer[qn::Decimal::kMaxTextLength];
    for (auto _ : state) {
        benchmark::DoNotOptimize(d.toChars(buffer));
        benchmark::ClobberMemory();
    }
}

void BM_DecimalToChars_StdDouble(benchmark::State& state) {
    const std::string_view text = kNumbers[state.range(0)];
    double d = 0;
    std::from_chars(text.data(), text.data() + text.size(), d);
    char buffer[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::to_chars(buffer, buffer + sizeof buffer, d).ptr);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_DecimalFromString_Qn)->DenseRange(0, 3);
BENCHMARK(BM_DecimalFromString_StdDouble)->DenseRange(0, 3);
BENCHMARK(BM_DecimalToChars_Qn)->DenseRange(0, 3);
BENCHMARK(BM_DecimalToChars_StdDouble)->DenseRange(0, 3);

// Copying a string-holding Value is one reference-count increment, as a
// shared_ptr copy is.
void BM_ValueCopyString_Qn(benchmark::State& state) {
    const qn::Value v(sampleText(10));
    for (auto _ : state) {
        qn::Value copy = v;
        benchmark::DoNotOptimize(copy);
    }
}

void BM_ValueCopyString_SharedPtr(benchmark::State& state) {
    const auto p = std::make_shared<const qn::String>(sampleText(10));
    for (auto _ : state) {
        std::shared_ptr<const qn::String> copy = p;
        benchmark::DoNotOptimize(copy);
    }
}

BENCHMARK(BM_ValueCopyString_Qn);
BENCHMARK(BM_ValueCopyString_SharedPtr);

}  // namespace
