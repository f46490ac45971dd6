#include "core/base64.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace qn::internal {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each ASCII character in the alphabet; -1 for the rest.
constexpr auto kValues = [] {
    std::array<std::int8_t, 128> table{};
    table.fill(-1);
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}();

int valueOf(char16_t c) noexcept {
    return c < 128 ? kValues[c] : -1;
}

}  // namespace

namespace {

// The two characters of every 12 bits, so six bytes take four look-ups.
template <class Char>
constexpr auto kPairs = [] {
    std::array<Char, 8192> table{};
    for (std::size_t i = 0; i < 4096; ++i) {
        table[2 * i] = static_cast<Char>(kAlphabet[i >> 6]);
        table[2 * i + 1] = static_cast<Char>(kAlphabet[i & 63]);
    }
    return table;
}();

// Narrow and UTF-16 text share one encoder: a String is written directly,
// never through a narrow copy.
template <class Text>
void appendBase64To(Text& out, const void* data, std::size_t size) {
    using Char = typename Text::value_type;
    const auto* p = static_cast<const unsigned char*>(data);
    const std::size_t start = out.size();
    out.resize(start + 4 * ((size + 2) / 3));
    Char* o = out.data() + start;
    std::size_t i = 0;
    // Six bytes at a time from one eight-byte load, most significant first.
    for (; i + 8 <= size; i += 6, o += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, sizeof w);
        if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
        const std::size_t quarters[4] = {w >> 52, w >> 40 & 0xFFF, w >> 28 & 0xFFF,
                                         w >> 16 & 0xFFF};
        for (int k = 0; k < 4; ++k)
            std::memcpy(o + 2 * k, &kPairs<Char>[2 * quarters[k]], 2 * sizeof(Char));
    }
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t n = std::uint32_t{p[i]} << 16 | std::uint32_t{p[i + 1]} << 8 | p[i + 2];
        *o++ = kAlphabet[n >> 18 & 63];
        *o++ = kAlphabet[n >> 12 & 63];
        *o++ = kAlphabet[n >> 6 & 63];
        *o++ = kAlphabet[n & 63];
    }
    if (const std::size_t rest = size - i; rest > 0) {
        std::uint32_t n = std::uint32_t{p[i]} << 16;
        if (rest == 2) n |= std::uint32_t{p[i + 1]} << 8;
        *o++ = kAlphabet[n >> 18 & 63];
        *o++ = kAlphabet[n >> 12 & 63];
        *o++ = rest == 2 ? kAlphabet[n >> 6 & 63] : '=';
        *o++ = '=';
    }
}

}  // namespace

void appendBase64(std::string& out, const void* data, std::size_t size) {
    appendBase64To(out, data, size);
}

void appendBase64(String& out, const void* data, std::size_t size) {
    appendBase64To(out, data, size);
}

String base64String(const void* data, std::size_t size) {
    String out;
    appendBase64(out, data, size);
    return out;
}

std::optional<std::string> base64DecodeStrict(StringView text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == u'=') {
        ++padding;
        if (text.size() >= 2 && text[text.size() - 2] == u'=') ++padding;
    }
    std::string out(text.size() / 4 * 3 - padding, '\0');
    char* o = out.data();
    const std::size_t whole = padding == 0 ? text.size() : text.size() - 4;
    for (std::size_t i = 0; i < whole; i += 4) {
        const int a = valueOf(text[i]), b = valueOf(text[i + 1]);
        const int c = valueOf(text[i + 2]), d = valueOf(text[i + 3]);
        if ((a | b | c | d) < 0) return std::nullopt;
        const auto group = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
        *o++ = static_cast<char>(group >> 16);
        *o++ = static_cast<char>(group >> 8 & 0xFF);
        *o++ = static_cast<char>(group & 0xFF);
    }
    if (padding != 0) {
        const std::size_t i = whole;
        const int a = valueOf(text[i]), b = valueOf(text[i + 1]);
        const int c = padding == 1 ? valueOf(text[i + 2]) : 0;
        if ((a | b | c) < 0) return std::nullopt;
        const auto group = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6);
        *o++ = static_cast<char>(group >> 16);
        if (padding == 1) *o++ = static_cast<char>(group >> 8 & 0xFF);
    }
    return out;
}

}  // namespace qn::internal
