#include "util/base64.h"

#include <cstdint>

namespace qn::internal {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char16_t c) noexcept {
    if (c >= u'A' && c <= u'Z') return c - u'A';
    if (c >= u'a' && c <= u'z') return c - u'a' + 26;
    if (c >= u'0' && c <= u'9') return c - u'0' + 52;
    if (c == u'+') return 62;
    if (c == u'/') return 63;
    return -1;
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
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const std::size_t significant = i + 4 == text.size() ? 4 - padding : 4;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int v = 0;
            if (k < significant) {
                v = valueOf(text[i + k]);
                if (v < 0) return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(v);
        }
        out.push_back(static_cast<char>(group >> 16));
        if (significant > 2) out.push_back(static_cast<char>(group >> 8 & 0xFF));
        if (significant > 3) out.push_back(static_cast<char>(group & 0xFF));
    }
    return out;
}

}  // namespace qn::internal
