// Arbitrary bytes through every Decimal reader. Beyond "no crash", the
// invariants that callers rely on are checked and trap when broken:
// the text of a parsed number reads back as an equal number with an equal
// hash, the text fits kMaxTextLength, scan never reads past its input and
// agrees with fromString on what it consumed, and the UTF-16 reader agrees
// with the byte reader on ASCII.
#include <qn/core/decimal.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using qn::Decimal;

void require(bool condition) {
    if (!condition) __builtin_trap();
}

bool same(const Decimal& a, const Decimal& b) {
    return a.isNaN() == b.isNaN() && a.compare(b) == 0;
}

void checkValue(const Decimal& d) {
    char text[Decimal::kMaxTextLength];
    const std::size_t n = d.toChars(text);
    require(n < Decimal::kMaxTextLength && text[n] == '\0' && std::strlen(text) == n);
    require(d.toStdString() == std::string_view(text, n));
    if (d.isNaN()) return;
    qn::uint128 limit = 1;
    for (int i = 0; i < Decimal::kMaxDigits; ++i)
        limit *= 10;
    require(d.coefficient() < limit);
    require(d.exponent() >= Decimal::kMinExponent && d.exponent() <= Decimal::kMaxExponent);
    const Decimal again = Decimal::fromString(std::string_view(text, n));
    require(!again.isNaN() && again.compare(d) == 0 && again.hash() == d.hash());
    require(again.toStdString() == std::string_view(text, n));
    require(!std::isnan(d.toDouble()));
    require(d.compare(d) == 0 && (d.sign() < 0) == d.isNegative());
}

template <class View>
void checkScan(View text) {
    std::size_t consumed = 12345;
    const Decimal s = Decimal::scan(text, consumed);
    require(consumed <= text.size());
    if (consumed == 0) {
        require(s.isNaN());
        return;
    }
    // What scan consumed is a whole number by itself.
    require(same(Decimal::fromString(text.substr(0, consumed)), s));
    checkValue(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Decimal d = Decimal::fromString(bytes);
    checkValue(d);
    checkScan(bytes);

    // The same bytes as UTF-16 units.
    std::u16string wide(size / 2, u'\0');
    if (!wide.empty()) std::memcpy(wide.data(), data, wide.size() * 2);
    const Decimal w = Decimal::fromString(qn::StringView(wide));
    checkValue(w);
    checkScan(qn::StringView(wide));
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        const std::u16string widened(bytes.begin(), bytes.end());
        require(same(Decimal::fromString(qn::StringView(widened)), d));
    }

    // Raw parts: 16 bytes of coefficient and a 16-bit exponent.
    if (size >= 18) {
        qn::uint128 coefficient;
        std::int16_t exponent;
        std::memcpy(&coefficient, data, sizeof coefficient);
        std::memcpy(&exponent, data + 16, sizeof exponent);
        const Decimal p = Decimal::fromParts(data[size - 1] & 1, coefficient, exponent);
        checkValue(p);
    }
    // A double: inside the range where its shortest text fits, it round-trips.
    if (size >= 8) {
        double x;
        std::memcpy(&x, data, sizeof x);
        const Decimal f = Decimal::fromDouble(x);
        checkValue(f);
        const double magnitude = std::fabs(x);
        if (std::isfinite(x) && magnitude >= 1e-100 && magnitude <= 1e160)
            require(!f.isNaN() && f.toDouble() == x);
    }
    return 0;
}
