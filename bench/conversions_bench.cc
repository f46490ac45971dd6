// QNutil's text conversions beside the plain loop doing the same work: what
// wrapping and value lists cost over a single pass building the text.
#include <benchmark/benchmark.h>
#include <qn/util.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// --- Wrapping ------------------------------------------------------------------
// Words of 1 to 12 letters with a line feed now and then, wrapped at 40.

qn::String prose(std::size_t units) {
    qn::String text;
    text.reserve(units);
    std::uint32_t seed = 12345;
    while (text.size() < units) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t word = 1 + (seed >> 16) % 12;
        text.append(word, u'a' + static_cast<char16_t>((seed >> 8) % 26));
        text.push_back((seed >> 4) % 50 == 0 ? u'\n' : u' ');
    }
    text.resize(units);
    return text;
}

constexpr std::int64_t kWidth = 40;

void wrapWithLibrary(benchmark::State& state, std::size_t units) {
    const qn::String text = prose(units);
    std::int64_t lines = 0;
    for (auto _ : state)
        lines = qn::QNutil::qnMLines(text, kWidth);
    state.counters["lines"] = static_cast<double>(lines);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(units * 2));
}

void BM_Wrap1MB_Qn(benchmark::State& state) {
    wrapWithLibrary(state, 512 * 1024);  // 512 Ki UTF-16 units: 1 MB
}
BENCHMARK(BM_Wrap1MB_Qn);

// Four times the text: a linear wrapper takes about four times as long.
void BM_Wrap4MB_Qn(benchmark::State& state) {
    wrapWithLibrary(state, 2048 * 1024);
}
BENCHMARK(BM_Wrap4MB_Qn);

// One forward pass counting the same lines: remember the last blank of the
// current line, break after it (or at the width) when the line overflows.
void BM_Wrap1MB_RawPass(benchmark::State& state) {
    const qn::String text = prose(512 * 1024);
    std::int64_t lines = 0;
    for (auto _ : state) {
        std::int64_t count = 0;
        std::size_t start = 0;
        std::size_t lastBlank = std::string::npos;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char16_t c = text[i];
            if (c == u'\n') {
                if (i > start) ++count;
                start = i + 1;
                lastBlank = std::string::npos;
                continue;
            }
            if (c == u' ' || c == u'\t') lastBlank = i;
            if (i - start + 1 > kWidth + 1 || (i - start + 1 == kWidth + 1 && c != u' ')) {
                ++count;
                start = lastBlank != std::string::npos && lastBlank >= start ? lastBlank + 1
                                                                             : start + kWidth;
                lastBlank = std::string::npos;
            }
        }
        if (start < text.size()) ++count;
        lines = count;
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_Wrap1MB_RawPass);

// --- Value lists -----------------------------------------------------------------
// 100,000 names, one in fifty with a quote in it.

std::vector<qn::Value> names() {
    std::vector<qn::Value> items;
    for (int i = 0; i < 100'000; ++i) {
        items.emplace_back(qn::asciiString((i % 50 == 0 ? "O'Name" : "Name") + std::to_string(i)));
    }
    return items;
}

void BM_ToValueList100k_Qn(benchmark::State& state) {
    const auto collection = qn::QNObjectCollection::initWithArray(names());
    std::size_t length = 0;
    for (auto _ : state)
        length += qn::QNutil::toValueList(u"", *collection, u"(", u")").size();
    benchmark::DoNotOptimize(length);
    state.SetItemsProcessed(state.iterations() * 100'000);
}
BENCHMARK(BM_ToValueList100k_Qn);

// The same text by plain appends (no quote doubling) into a reserved string.
void BM_ToValueList100k_RawAppends(benchmark::State& state) {
    const auto items = names();
    std::size_t length = 0;
    for (auto _ : state) {
        qn::String out;
        out.reserve(items.size() * 8);
        out.push_back(u'(');
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) out.append(u", ");
            out.push_back(u'\'');
            out.append(items[i].asString());
            out.push_back(u'\'');
        }
        out.push_back(u')');
        length += out.size();
    }
    benchmark::DoNotOptimize(length);
    state.SetItemsProcessed(state.iterations() * 100'000);
}
BENCHMARK(BM_ToValueList100k_RawAppends);

}  // namespace
