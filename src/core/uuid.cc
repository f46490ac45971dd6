// Random identifiers and their canonical text.
#include <qn/core/uuid.h>

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

#include "core/ascii.h"

namespace qn {
namespace {

// Fills `out` from the kernel's random source; false if it is unavailable.
bool systemRandom(std::uint8_t* out, std::size_t n) noexcept {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = getrandom(out + done, n - done, 0);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            break;
        }
    }
    if (done == n) return true;
    // Kernels without getrandom(2), or a seccomp filter that forbids it.
    std::FILE* f = std::fopen("/dev/urandom", "rb");
    if (f == nullptr) return false;
    const bool ok = std::fread(out, 1, n, f) == n;
    std::fclose(f);
    return ok;
}

template <class Char>
std::optional<QNUUID> parse(const Char* p, std::size_t n) noexcept {
    if (n != 36) return std::nullopt;
    QNUUID::Bytes16 bytes{};
    std::size_t b = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (p[i] != Char('-')) return std::nullopt;
            ++i;
            continue;
        }
        const int high = internal::hexValue(p[i]), low = internal::hexValue(p[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[b++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    return QNUUID(bytes);
}

// The 36 characters of the canonical form, upper case.
template <class Char>
void format(const QNUUID::Bytes16& bytes, Char* out) noexcept {
    constexpr const char* kHex = internal::kUpperHexDigits;
    std::size_t o = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out[o++] = Char('-');
        out[o++] = static_cast<Char>(kHex[bytes[i] >> 4]);
        out[o++] = static_cast<Char>(kHex[bytes[i] & 0xF]);
    }
}

}  // namespace

QNUUID QNUUID::createUUID() {
    Bytes16 bytes{};
    if (!systemRandom(bytes.data(), bytes.size())) {
        // No kernel source at all: the best the process has, still unique in
        // practice for identifiers (not for secrets).
        std::random_device device;
        std::seed_seq seed{
            device(), device(),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        std::mt19937_64 engine(seed);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(engine());
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return QNUUID(bytes);
}

std::optional<QNUUID> QNUUID::fromString(StringView text) noexcept {
    return parse(text.data(), text.size());
}

std::optional<QNUUID> QNUUID::fromString(std::string_view text) noexcept {
    return parse(text.data(), text.size());
}

String QNUUID::uuidString() const {
    String out(36, u'\0');
    format(bytes_, out.data());
    return out;
}

std::string QNUUID::uuidStdString() const {
    std::string out(36, '\0');
    format(bytes_, out.data());
    return out;
}

std::size_t QNUUID::hash() const noexcept {
    // Random identifiers are already uniform: fold the two halves.
    std::uint64_t a = 0, b = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        a = a << 8 | bytes_[i];
        b = b << 8 | bytes_[i + 8];
    }
    return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ULL));
}

}  // namespace qn
