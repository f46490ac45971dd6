// qn::Value: the tagged union, its readings, its text form and its equality.
//
// Numbers of different kinds are equal when they stand for the same number.
// What a double stands for is its shortest round-trip decimal text (as its
// decimalValue reads), so Double 0.1 equals Decimal 0.1. Every number maps to
// one canonical Decimal where it can, which makes equality transitive and
// lets the hash follow it; doubles that no Decimal holds (NaN, infinities,
// magnitudes beyond the Decimal range) are equal only to equal doubles.
#include <qn/value.h>

#include <unicode/uchar.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "core/ascii.h"
#include "core/hash.h"

namespace qn {
namespace {

using internal::mixHash;

// Distinct seeds per kind family so that, say, the empty string and the
// empty data do not collide systematically.
constexpr std::uint64_t kSeedNull = 0x6E756C6CULL;
constexpr std::uint64_t kSeedString = 0x73747269ULL;
constexpr std::uint64_t kSeedDate = 0x64617465ULL;
constexpr std::uint64_t kSeedData = 0x64617461ULL;
constexpr std::uint64_t kSeedUuid = 0x75756964ULL;
constexpr std::uint64_t kSeedDoubleOnly = 0x64626C65ULL;

constexpr double kTwo53 = 9007199254740992.0;
constexpr double kTwo63 = 9223372036854775808.0;

void appendAscii(String& out, std::string_view ascii) {
    out.append(ascii.begin(), ascii.end());
}

bool isIntegral(ValueKind k) noexcept {
    return k == ValueKind::kBool || k == ValueKind::kInt;
}

// The Decimal a double stands for, when one holds it exactly.
bool canonicalDouble(double d, Decimal& out) noexcept {
    if (!std::isfinite(d)) return false;
    out = Decimal::fromDouble(d);
    return !out.isNaN() && out.toDouble() == d;
}

std::size_t hashDecimal(const Decimal& d) noexcept {
    // Integers that fit 64 bits hash as Int does.
    if (d.isInteger()) {
        const std::int64_t i = d.toInt64();
        if (Decimal(i) == d) return mixHash(static_cast<std::uint64_t>(i));
    }
    return d.hash();
}

template <class Char>
bool isWhite(Char c) noexcept {
    return u_isUWhiteSpace(static_cast<UChar32>(c));
}

std::size_t skipWhite(StringView s) noexcept {
    std::size_t i = 0;
    while (i < s.size() && isWhite(s[i]))
        ++i;
    return i;
}

// Rule (1).
bool stringBool(StringView s) noexcept {
    std::size_t i = skipWhite(s);
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
    while (i < s.size() && s[i] == u'0')
        ++i;
    if (i == s.size()) return false;
    const char16_t c = s[i];
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

// Rule (2).
std::int64_t stringInteger(StringView s) noexcept {
    std::size_t i = skipWhite(s);
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    // Accumulate the magnitude up to 2^63, the largest any result needs.
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        const unsigned digit = static_cast<unsigned>(s[i] - u'0');
        if (magnitude > (kLimit - digit) / 10) {
            magnitude = kLimit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude >= kLimit ? std::numeric_limits<std::int64_t>::min()
                                   : -static_cast<std::int64_t>(magnitude);
    return magnitude >= kLimit ? std::numeric_limits<std::int64_t>::max()
                               : static_cast<std::int64_t>(magnitude);
}

// Rule (3): the number at the start after white space; `extent` receives the
// code units of that number (empty when there is none).
Decimal stringDecimal(StringView s, StringView& extent) noexcept {
    const StringView rest = s.substr(skipWhite(s));
    std::size_t consumed = 0;
    const Decimal d = Decimal::scan(rest, consumed);
    extent = rest.substr(0, consumed);
    return consumed == 0 ? Decimal() : d;
}

double stringDouble(StringView s) noexcept {
    StringView extent;
    const Decimal d = stringDecimal(s, extent);
    if (extent.empty()) return 0.0;
    // The scanned text is ASCII; read it as a double directly so that the
    // whole double range (and its rounding) applies, not the Decimal's.
    std::string ascii;
    const bool negative = extent.front() == u'-';
    if (extent.front() == u'+' || extent.front() == u'-') extent.remove_prefix(1);
    try {
        ascii.assign(extent.begin(), extent.end());
    } catch (...) {
        return d.toDouble();
    }
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Beyond the double range: too large is also beyond the Decimal's
        // (NaN), too small rounded the Decimal to zero.
        value = d.isNaN() ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::int64_t saturatedInt(double d) noexcept {
    if (std::isnan(d)) return 0;
    if (d >= kTwo63) return std::numeric_limits<std::int64_t>::max();
    if (d < -kTwo63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

const String& emptyString() noexcept {
    static const String empty;
    return empty;
}

void appendDouble(String& out, double d) {
    if (std::isnan(d)) {
        appendAscii(out, "nan");
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
    appendAscii(out, std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

void appendData(String& out, const Bytes& data) {
    constexpr const char* kHex = internal::kLowerHexDigits;
    out.reserve(out.size() + 2 + data.size() * 2 + data.size() / 4);
    out.push_back(u'<');
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i != 0 && i % 4 == 0) out.push_back(u' ');
        out.push_back(static_cast<char16_t>(kHex[data[i] >> 4]));
        out.push_back(static_cast<char16_t>(kHex[data[i] & 0xF]));
    }
    out.push_back(u'>');
}

}  // namespace

Value::Value(qn::String s) : kind_(ValueKind::kString) {
    new (&u_.str)
        std::shared_ptr<const qn::String>(std::make_shared<const qn::String>(std::move(s)));
}

Value::Value(qn::Bytes data) : kind_(ValueKind::kData) {
    new (&u_.data)
        std::shared_ptr<const qn::Bytes>(std::make_shared<const qn::Bytes>(std::move(data)));
}

// Copy and move do their work in the constructors themselves: exported
// members of a shared library call each other through the PLT, and a Value
// copy should cost little more than the reference count it bumps.
bool Value::boolValue() const noexcept {
    switch (kind_) {
        case ValueKind::kBool:
            return u_.b;
        case ValueKind::kInt:
            return u_.i != 0;
        case ValueKind::kDouble:
            return u_.d != 0.0;
        case ValueKind::kDecimal:
            return !u_.dec.isZero();
        case ValueKind::kString:
            return stringBool(*u_.str);
        default:
            return false;
    }
}

std::int64_t Value::integerValue() const noexcept {
    switch (kind_) {
        case ValueKind::kBool:
            return u_.b ? 1 : 0;
        case ValueKind::kInt:
            return u_.i;
        case ValueKind::kDouble:
            return saturatedInt(u_.d);
        case ValueKind::kDecimal:
            return u_.dec.toInt64();
        case ValueKind::kString:
            return stringInteger(*u_.str);
        default:
            return 0;
    }
}

double Value::doubleValue() const noexcept {
    switch (kind_) {
        case ValueKind::kBool:
            return u_.b ? 1.0 : 0.0;
        case ValueKind::kInt:
            return static_cast<double>(u_.i);
        case ValueKind::kDouble:
            return u_.d;
        case ValueKind::kDecimal:
            return u_.dec.toDouble();
        case ValueKind::kString:
            return stringDouble(*u_.str);
        default:
            return 0.0;
    }
}

qn::Decimal Value::decimalValue() const noexcept {
    switch (kind_) {
        case ValueKind::kBool:
            return qn::Decimal(u_.b ? 1 : 0);
        case ValueKind::kInt:
            return qn::Decimal(u_.i);
        case ValueKind::kDouble:
            return qn::Decimal::fromDouble(u_.d);
        case ValueKind::kDecimal:
            return u_.dec;
        case ValueKind::kString: {
            StringView extent;
            return stringDecimal(*u_.str, extent);
        }
        default:
            return qn::Decimal();
    }
}

const qn::String& Value::asString() const noexcept {
    return isString() ? *u_.str : emptyString();
}

const qn::Bytes& Value::asData() const noexcept {
    static const qn::Bytes empty;
    return isData() ? *u_.data : empty;
}

const Ref<qn::Object>& Value::asObject() const noexcept {
    static const Ref<qn::Object> none;
    return isObject() ? u_.obj : none;
}

const Array* Value::asArray() const noexcept {
    return isObject() ? dynamic_cast<const Array*>(u_.obj.get()) : nullptr;
}

const Dictionary* Value::asDictionary() const noexcept {
    return isObject() ? dynamic_cast<const Dictionary*>(u_.obj.get()) : nullptr;
}

qn::String Value::description() const {
    qn::String out;
    switch (kind_) {
        case ValueKind::kAbsent:
            appendAscii(out, "(null)");
            break;
        case ValueKind::kNull:
            appendAscii(out, "<null>");
            break;
        case ValueKind::kBool:
            out.push_back(u_.b ? u'1' : u'0');
            break;
        case ValueKind::kInt: {
            char buffer[24];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, u_.i);
            appendAscii(out,
                        std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
            break;
        }
        case ValueKind::kDouble:
            appendDouble(out, u_.d);
            break;
        case ValueKind::kDecimal:
            out = u_.dec.toString();
            break;
        case ValueKind::kString:
            out = *u_.str;
            break;
        case ValueKind::kDate:
            out = u_.date.description();
            break;
        case ValueKind::kData:
            appendData(out, *u_.data);
            break;
        case ValueKind::kUuid:
            out = u_.uuid.uuidString();
            break;
        case ValueKind::kObject:
            out = u_.obj->description();
            break;
    }
    return out;
}

std::partial_ordering Value::compareNumbers(const Value& a, const Value& b) noexcept {
    const auto integral = [](const Value& v) { return v.isInt() || v.isBool(); };
    if (integral(a) && integral(b)) return a.integerValue() <=> b.integerValue();
    if (a.isDouble() && b.isDouble()) return a.doubleValue() <=> b.doubleValue();
    const Decimal x = a.decimalValue();
    const Decimal y = b.decimalValue();
    if (!x.isNaN() && !y.isNaN()) return x.compare(y) <=> 0;
    return a.doubleValue() <=> b.doubleValue();
}

bool Value::isEqual(const Value& other) const noexcept {
    if (isNumber() && other.isNumber()) {
        const ValueKind a = kind_, b = other.kind_;
        if (isIntegral(a) && isIntegral(b)) return integerValue() == other.integerValue();
        if (a == ValueKind::kDouble && b == ValueKind::kDouble)
            return u_.d == other.u_.d || (std::isnan(u_.d) && std::isnan(other.u_.d));
        if ((isIntegral(a) && b == ValueKind::kDouble) ||
            (a == ValueKind::kDouble && isIntegral(b))) {
            const double d = a == ValueKind::kDouble ? u_.d : other.u_.d;
            const std::int64_t i = a == ValueKind::kDouble ? other.integerValue() : integerValue();
            // Below 2^53 an integral double's shortest text is the integer
            // itself, and a fractional double's is never an integer.
            if (std::fabs(d) <= kTwo53)
                return std::trunc(d) == d && static_cast<std::int64_t>(d) == i;
        }
        // The general case: compare the canonical Decimals.
        const auto canonical = [](const Value& v, qn::Decimal& out) noexcept {
            if (v.kind_ == ValueKind::kDouble) return canonicalDouble(v.u_.d, out);
            out = v.decimalValue();
            return true;
        };
        qn::Decimal x, y;
        if (!canonical(*this, x) || !canonical(other, y)) return false;
        return x == y;
    }
    if (kind_ != other.kind_) return false;
    switch (kind_) {
        case ValueKind::kAbsent:
        case ValueKind::kNull:
            return true;
        case ValueKind::kString:
            return u_.str == other.u_.str || *u_.str == *other.u_.str;
        case ValueKind::kDate:
            return u_.date == other.u_.date;
        case ValueKind::kData:
            return u_.data == other.u_.data || *u_.data == *other.u_.data;
        case ValueKind::kUuid:
            return u_.uuid == other.u_.uuid;
        case ValueKind::kObject:
            if (u_.obj == other.u_.obj) return true;
            try {
                return u_.obj->isEqual(other);
            } catch (...) {
                return false;
            }
        default:
            return false;  // numbers are handled above
    }
}

std::size_t Value::hash() const noexcept {
    switch (kind_) {
        case ValueKind::kAbsent:
            return mixHash(0);
        case ValueKind::kNull:
            return mixHash(kSeedNull);
        case ValueKind::kBool:
            return mixHash(u_.b ? 1 : 0);
        case ValueKind::kInt:
            return mixHash(static_cast<std::uint64_t>(u_.i));
        case ValueKind::kDouble: {
            const double d = u_.d;
            if (std::fabs(d) <= kTwo53 && std::trunc(d) == d)
                return mixHash(static_cast<std::uint64_t>(static_cast<std::int64_t>(d)));
            qn::Decimal canonical;
            if (canonicalDouble(d, canonical)) return hashDecimal(canonical);
            if (std::isnan(d)) return mixHash(kSeedDoubleOnly);
            std::uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            return mixHash(bits ^ kSeedDoubleOnly);
        }
        case ValueKind::kDecimal:
            return hashDecimal(u_.dec);
        case ValueKind::kString:
            return std::hash<StringView>{}(*u_.str) ^ mixHash(kSeedString);
        case ValueKind::kDate: {
            // 0.0 and -0.0 are equal dates.
            const double s = u_.date.timeIntervalSinceReferenceDate() + 0.0;
            std::uint64_t bits;
            std::memcpy(&bits, &s, sizeof bits);
            return mixHash(bits ^ kSeedDate);
        }
        case ValueKind::kData: {
            const auto& bytes = *u_.data;
            const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return std::hash<std::string_view>{}(view) ^ mixHash(kSeedData);
        }
        case ValueKind::kUuid:
            return u_.uuid.hash() ^ mixHash(kSeedUuid);
        case ValueKind::kObject:
            try {
                return u_.obj->hash();
            } catch (...) {
                return 0;
            }
    }
    return 0;
}

}  // namespace qn
