// The library's Twofish beside Botan's on the same key and data (ECB over
// 1 MB, one call and one call per block; the key schedule), and Encrypt64 /
// Decrypt64 of 1 KB and of short texts, the way generated code calls them.

#include <benchmark/benchmark.h>
#include <botan/block_cipher.h>
#include <qn/crypto.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

namespace tf = qn::twofish;

constexpr std::size_t kMegabyte = std::size_t{1} << 20;
constexpr char kKeyHex[] = "0123456789abcdeffedcba9876543210";
const std::uint8_t kKeyBytes[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                    0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

std::vector<std::uint8_t> sampleData(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(i * 131 + 7);
    return data;
}

// Runs `pass` (input, output) over the same megabyte of data each iteration.
template <class Pass>
void overMegabyte(benchmark::State& state, Pass pass) {
    const auto in = sampleData(kMegabyte);
    std::vector<std::uint8_t> out(kMegabyte);
    for (auto _ : state) {
        pass(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMegabyte));
}

// The library's cipher in ECB mode for one direction.
struct QnEcb {
    keyInstance key;
    cipherInstance cipher;
    explicit QnEcb(std::uint8_t direction) {
        makeKey(&key, direction, 128, kKeyHex);
        cipherInit(&cipher, tf::MODE_ECB, nullptr);
    }
};

std::unique_ptr<Botan::BlockCipher> botanTwofish() {
    auto cipher = Botan::BlockCipher::create("Twofish");
    cipher->set_key(kKeyBytes, sizeof kKeyBytes);
    return cipher;
}

void BM_TwofishEcb1MB_Qn(benchmark::State& state) {
    QnEcb ecb(tf::DIR_ENCRYPT);
    overMegabyte(state, [&](const std::uint8_t* in, std::uint8_t* out) {
        blockEncrypt(&ecb.cipher, &ecb.key, in, static_cast<int>(kMegabyte * 8), out);
    });
}
BENCHMARK(BM_TwofishEcb1MB_Qn);

// One blockEncrypt per 16-byte block, as Encrypt64's steps describe it.
void BM_TwofishEcb1MB_QnPerBlock(benchmark::State& state) {
    QnEcb ecb(tf::DIR_ENCRYPT);
    overMegabyte(state, [&](const std::uint8_t* in, std::uint8_t* out) {
        for (std::size_t i = 0; i < kMegabyte; i += 16)
            blockEncrypt(&ecb.cipher, &ecb.key, in + i, 128, out + i);
    });
}
BENCHMARK(BM_TwofishEcb1MB_QnPerBlock);

void BM_TwofishDecryptEcb1MB_Qn(benchmark::State& state) {
    QnEcb ecb(tf::DIR_DECRYPT);
    overMegabyte(state, [&](const std::uint8_t* in, std::uint8_t* out) {
        blockDecrypt(&ecb.cipher, &ecb.key, in, static_cast<int>(kMegabyte * 8), out);
    });
}
BENCHMARK(BM_TwofishDecryptEcb1MB_Qn);

void BM_TwofishEcb1MB_Botan(benchmark::State& state) {
    auto cipher = botanTwofish();
    overMegabyte(state, [&](const std::uint8_t* in, std::uint8_t* out) {
        cipher->encrypt_n(in, out, kMegabyte / 16);
    });
}
BENCHMARK(BM_TwofishEcb1MB_Botan);

void BM_TwofishEcb1MB_BotanPerBlock(benchmark::State& state) {
    auto cipher = botanTwofish();
    overMegabyte(state, [&](const std::uint8_t* in, std::uint8_t* out) {
        for (std::size_t i = 0; i < kMegabyte; i += 16)
            cipher->encrypt_n(in + i, out + i, 1);
    });
}
BENCHMARK(BM_TwofishEcb1MB_BotanPerBlock);

void BM_TwofishDecryptEcb1MB_Botan(benchmark::State& state) {
    auto cipher = botanTwofish();
    overMegabyte(state, [&](const std::uint8_t* in, std::uint8_t* out) {
        cipher->decrypt_n(in, out, kMegabyte / 16);
    });
}
BENCHMARK(BM_TwofishDecryptEcb1MB_Botan);

void BM_TwofishKeySchedule_Qn(benchmark::State& state) {
    keyInstance key;
    for (auto _ : state) {
        makeKey(&key, tf::DIR_ENCRYPT, 128, kKeyHex);
        benchmark::DoNotOptimize(&key);
    }
}
BENCHMARK(BM_TwofishKeySchedule_Qn);

void BM_TwofishKeySchedule_Botan(benchmark::State& state) {
    auto cipher = Botan::BlockCipher::create("Twofish");
    for (auto _ : state) {
        cipher->set_key(kKeyBytes, sizeof kKeyBytes);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_TwofishKeySchedule_Botan);

const qn::String kKey = qn::asciiString(kKeyHex);

qn::String sampleText(std::size_t units) {
    qn::String text;
    for (std::size_t i = 0; text.size() < units; ++i)
        text += i % 9 == 0 ? u'\u00e9' : static_cast<char16_t>(u'a' + i % 26);
    return text;
}

void BM_Encrypt64_1KB(benchmark::State& state) {
    const qn::String text = sampleText(1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNEncryption::encrypt64Key(text, kKey));
}
BENCHMARK(BM_Encrypt64_1KB);

void BM_Decrypt64_1KB(benchmark::State& state) {
    const qn::String cipherText = qn::QNEncryption::encrypt64Key(sampleText(1024), kKey);
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNEncryption::decrypt64Key(cipherText, kKey));
}
BENCHMARK(BM_Decrypt64_1KB);

// The raw work of a 1 KB Encrypt64: the Twofish blocks alone, on Botan.
void BM_Encrypt64_1KB_BotanBlocksOnly(benchmark::State& state) {
    auto cipher = botanTwofish();
    const std::string utf8 = qn::toUtf8(sampleText(1024));
    std::vector<std::uint8_t> buffer((utf8.size() / 16 + 1) * 16, ' ');
    for (auto _ : state) {
        std::copy(utf8.begin(), utf8.end(), buffer.begin());
        cipher->encrypt_n(buffer.data(), buffer.data(), buffer.size() / 16);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_Encrypt64_1KB_BotanBlocksOnly);

// A short field in a loop with one key: the per-call overhead.
void BM_Encrypt64_Short(benchmark::State& state) {
    const qn::String text = u"4111 1111 1111 1111";
    for (auto _ : state)
        benchmark::DoNotOptimize(qn::QNEncryption::encrypt64Key(text, kKey));
}
BENCHMARK(BM_Encrypt64_Short);

}  // namespace
