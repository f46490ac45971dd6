#include "core/base64.h"

#include <array>
#include <cstdint>

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

void appendBase64(std::string& out, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    const std::size_t start = out.size();
    out.resize(start + 4 * ((size + 2) / 3));
    char* o = out.data() + start;
    std::size_t i = 0;
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

String base64String(const void* data, std::size_t size) {
    std::string ascii;
    appendBase64(ascii, data, size);
    return String(ascii.begin(), ascii.end());
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
