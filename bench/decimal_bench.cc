// qn::Decimal arithmetic on business values beside GCC's decimal128 (IEEE 754
// decimal floating point, software in libgcc) and beside plain unsigned
// 128-bit integers holding the same amounts in cents, the floor any decimal
// type pays on top of. Suffixes _Qn, _Dec128 and _U128 pair up by name.
#include <qn/core/decimal.h>

#include <benchmark/benchmark.h>
#include <decimal/decimal>

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>

namespace {

using std::decimal::decimal128;
using u128 = qn::uint128;

constexpr std::size_t kCount = 1024;  // a power of two: the index wraps with a mask

// Prices 0.01 .. 9999.99 in cents, quantities 0.001 .. 99.999 in thousandths
// (weights, hours) and whole amounts to split.
struct Sample {
    std::array<std::int64_t, kCount> cents{};
    std::array<std::int64_t, kCount> thousandths{};

    Sample() {
        std::mt19937_64 random(42);
        for (std::size_t i = 0; i < kCount; ++i) {
            cents[i] = 1 + static_cast<std::int64_t>(random() % 999999);
            thousandths[i] = 1 + static_cast<std::int64_t>(random() % 99999);
        }
    }
};

const Sample& sample() {
    static const Sample s;
    return s;
}

template <class T, class Make>
std::array<T, kCount> convert(const std::array<std::int64_t, kCount>& in, Make make) {
    std::array<T, kCount> out{};
    for (std::size_t i = 0; i < kCount; ++i)
        out[i] = make(in[i]);
    return out;
}

std::array<qn::Decimal, kCount> qnPrices() {
    return convert<qn::Decimal>(
        sample().cents, [](std::int64_t c) { return qn::Decimal::fromParts(false, c, -2); });
}

std::array<qn::Decimal, kCount> qnQuantities() {
    return convert<qn::Decimal>(
        sample().thousandths, [](std::int64_t t) { return qn::Decimal::fromParts(false, t, -3); });
}

std::array<decimal128, kCount> decPrices() {
    return convert<decimal128>(sample().cents, [](std::int64_t c) {
        return std::decimal::make_decimal128(static_cast<long long>(c), -2);
    });
}

std::array<decimal128, kCount> decQuantities() {
    return convert<decimal128>(sample().thousandths, [](std::int64_t t) {
        return std::decimal::make_decimal128(static_cast<long long>(t), -3);
    });
}

// --- A running total of amounts ------------------------------------------------

void BM_DecimalAdd_Qn(benchmark::State& state) {
    const auto prices = qnPrices();
    qn::Decimal total;
    std::size_t i = 0;
    for (auto _ : state) {
        total += prices[i];
        i = (i + 1) & (kCount - 1);
        benchmark::DoNotOptimize(total);
    }
}

void BM_DecimalAdd_Dec128(benchmark::State& state) {
    const auto prices = decPrices();
    decimal128 total(0);
    std::size_t i = 0;
    for (auto _ : state) {
        total += prices[i];
        i = (i + 1) & (kCount - 1);
        benchmark::DoNotOptimize(total);
    }
}

void BM_DecimalAdd_U128(benchmark::State& state) {
    const auto prices = convert<u128>(sample().cents, [](std::int64_t c) { return u128(c); });
    u128 total = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        total += prices[i];
        i = (i + 1) & (kCount - 1);
        benchmark::DoNotOptimize(total);
    }
}

// --- Price times quantity ------------------------------------------------------------

void BM_DecimalMultiply_Qn(benchmark::State& state) {
    const auto prices = qnPrices(), quantities = qnQuantities();
    std::size_t i = 0;
    for (auto _ : state) {
        qn::Decimal line = prices[i] * quantities[i];
        benchmark::DoNotOptimize(line);
        i = (i + 1) & (kCount - 1);
    }
}

void BM_DecimalMultiply_Dec128(benchmark::State& state) {
    const auto prices = decPrices(), quantities = decQuantities();
    std::size_t i = 0;
    for (auto _ : state) {
        decimal128 line = prices[i] * quantities[i];
        benchmark::DoNotOptimize(line);
        i = (i + 1) & (kCount - 1);
    }
}

void BM_DecimalMultiply_U128(benchmark::State& state) {
    const auto prices = convert<u128>(sample().cents, [](std::int64_t c) { return u128(c); });
    const auto quantities =
        convert<u128>(sample().thousandths, [](std::int64_t t) { return u128(t); });
    std::size_t i = 0;
    for (auto _ : state) {
        u128 line = prices[i] * quantities[i];
        benchmark::DoNotOptimize(line);
        i = (i + 1) & (kCount - 1);
    }
}

// --- An amount split three ways (a repeating quotient, rounded to 38 digits) --

void BM_DecimalDivide_Qn(benchmark::State& state) {
    const auto prices = qnPrices();
    const qn::Decimal three(3);
    std::size_t i = 0;
    for (auto _ : state) {
        qn::Decimal share = prices[i] / three;
        benchmark::DoNotOptimize(share);
        i = (i + 1) & (kCount - 1);
    }
}

void BM_DecimalDivide_Dec128(benchmark::State& state) {
    const auto prices = decPrices();
    const decimal128 three(3);
    std::size_t i = 0;
    for (auto _ : state) {
        decimal128 share = prices[i] / three;
        benchmark::DoNotOptimize(share);
        i = (i + 1) & (kCount - 1);
    }
}

// The integer floor: cents scaled to 34 fraction digits, divided by 3.
void BM_DecimalDivide_U128(benchmark::State& state) {
    u128 scale = 1;
    for (int k = 0; k < 34; ++k)
        scale *= 10;
    const auto prices =
        convert<u128>(sample().cents, [&](std::int64_t c) { return u128(c) * scale; });
    u128 three = 3;
    benchmark::DoNotOptimize(three);
    std::size_t i = 0;
    for (auto _ : state) {
        u128 share = prices[i] / three;
        benchmark::DoNotOptimize(share);
        i = (i + 1) & (kCount - 1);
    }
}

// --- Line total rounded to cents: price x quantity x (1 + tax), two places ----

void BM_DecimalLineTotal_Qn(benchmark::State& state) {
    const auto prices = qnPrices(), quantities = qnQuantities();
    const qn::Decimal taxed = qn::Decimal::fromParts(false, 121, -2);
    std::size_t i = 0;
    for (auto _ : state) {
        qn::Decimal line = (prices[i] * quantities[i] * taxed).rounded(2);
        benchmark::DoNotOptimize(line);
        i = (i + 1) & (kCount - 1);
    }
}

BENCHMARK(BM_DecimalAdd_Qn);
BENCHMARK(BM_DecimalAdd_Dec128);
BENCHMARK(BM_DecimalAdd_U128);
BENCHMARK(BM_DecimalMultiply_Qn);
BENCHMARK(BM_DecimalMultiply_Dec128);
BENCHMARK(BM_DecimalMultiply_U128);
BENCHMARK(BM_DecimalDivide_Qn);
BENCHMARK(BM_DecimalDivide_Dec128);
BENCHMARK(BM_DecimalDivide_U128);
BENCHMARK(BM_DecimalLineTotal_Qn);

}  // namespace
