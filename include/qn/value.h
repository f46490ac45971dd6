// qn::Value: what an untyped object reference was in generated code.
//
// A Value is small (32 bytes), cheap to copy and holds exactly one of a fixed
// set of kinds. Strings and data are shared and immutable inside a Value, so
// copying one never copies text; objects are shared references.
//
//   kind      holds                        description() ("%@")
//   Absent    nothing (nil)                "(null)"
//   Null      the null marker              "<null>"
//   Bool      bool                         "1" / "0"
//   Int       std::int64_t                 decimal digits
//   Double    double                       shortest round-trip text
//   Decimal   qn::Decimal                  plain decimal text
//   String    qn::String                   the text itself
//   Date      qn::DateTime                 "yyyy-MM-dd HH:mm:ss +0000"
//   Data      qn::Bytes                    "<0a1b2c3d 4e>" (hex, 4-byte groups)
//   Uuid      qn::QNUUID                   upper-case canonical text
//   Object    qn::Ref<qn::Object>          the object's description()
//
// Number readings (a number object reads as any numeric type):
//
//   kind      boolValue      integerValue              doubleValue   decimalValue
//   Bool      itself         0 / 1                     0 / 1         0 / 1
//   Int       != 0           itself                    converted     exact
//   Double    != 0           toward zero, saturated,   itself        shortest text
//                            NaN -> 0
//   Decimal   != 0           toward zero, saturated    nearest       itself
//   String    text rule (1)  text rule (2)             text rule (3) text rule (3)
//   other     false          0                         0             0
//
//   (1) after white space, sign and leading zeros: true when the next
//       character is Y, y, T, t or a digit 1-9.
//   (2) optional white space and sign, then digits up to the first other
//       character; 0 without digits; saturated at the 64-bit limits.
//   (3) the number at the start of the text after white space, 0 when none.
//
// Strict in the style of a JSON value: no implicit conversion out, and no
// construction from raw pointers (so "text" never silently becomes a bool;
// write u"text" for a string).
//
// Thread-safety: a Value is immutable; copies may be used from any thread.
// An Object it holds has the thread-safety of its own class.
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/decimal.h>
#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/core/uuid.h>
#include <qn/export.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

namespace qn {

using Bytes = std::vector<std::uint8_t>;

class Array;
class Dictionary;

enum class ValueKind : std::uint8_t {
    kAbsent,
    kNull,
    kBool,
    kInt,
    kDouble,
    kDecimal,
    kString,
    kDate,
    kData,
    kUuid,
    kObject,
};

class QN_API Value {
public:
    // Absent.
    Value() noexcept : kind_(ValueKind::kAbsent) {}
    static Value null() noexcept {
        Value v;
        v.kind_ = ValueKind::kNull;
        return v;
    }

    Value(bool b) noexcept : kind_(ValueKind::kBool) { u_.b = b; }
    template <class T,
              std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                   !std::is_same_v<T, char> && !std::is_same_v<T, char16_t>,
                               int> = 0>
    Value(T n) noexcept {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(std::int64_t)) {
            if (n > static_cast<T>(INT64_MAX)) {
                kind_ = ValueKind::kDecimal;
                new (&u_.dec) qn::Decimal(qn::Decimal::fromParts(false, n, 0));
                return;
            }
        }
        kind_ = ValueKind::kInt;
        u_.i = static_cast<std::int64_t>(n);
    }
    Value(double d) noexcept : kind_(ValueKind::kDouble) { u_.d = d; }
    Value(const qn::Decimal& d) noexcept : kind_(ValueKind::kDecimal) {
        new (&u_.dec) qn::Decimal(d);
    }
    Value(qn::String s);
    Value(const char16_t* s) : Value(qn::String(s)) {}
    Value(StringView s) : Value(qn::String(s)) {}
    Value(DateTime date) noexcept : kind_(ValueKind::kDate) { u_.date = date; }
    Value(qn::Bytes data);
    Value(const QNUUID& uuid) noexcept : kind_(ValueKind::kUuid) { new (&u_.uuid) QNUUID(uuid); }
    template <class T, std::enable_if_t<std::is_base_of_v<qn::Object, T>, int> = 0>
    Value(Ref<T> object) noexcept {
        if (object) {
            kind_ = ValueKind::kObject;
            new (&u_.obj) Ref<qn::Object>(std::move(object));
        } else {
            kind_ = ValueKind::kAbsent;
        }
    }
    // A raw pointer is never a value: write u"text" for strings.
    Value(const char*) = delete;
    Value(const void*) = delete;
    Value(std::nullptr_t) = delete;

    // Copies, moves and destruction are inline: Values are copied in tight
    // loops, and only the three shared kinds need more than a byte copy.
    Value(const Value& other) noexcept : kind_(other.kind_) {
        if (holdsShared()) {
            copySharedFrom(other);
        } else {
            std::memcpy(static_cast<void*>(&u_), static_cast<const void*>(&other.u_), sizeof u_);
        }
    }
    // The moved-from Value is Absent.
    Value(Value&& other) noexcept : kind_(other.kind_) { takeFrom(other); }
    Value& operator=(const Value& other) noexcept {
        if (this != &other) {
            Value copy(other);  // first: `other` may be owned by what this releases
            destroy();
            kind_ = copy.kind_;
            takeFrom(copy);
        }
        return *this;
    }
    Value& operator=(Value&& other) noexcept {
        if (this != &other) {
            Value taken(std::move(other));  // `other` may be owned by what this releases
            destroy();
            kind_ = taken.kind_;
            takeFrom(taken);
        }
        return *this;
    }
    ~Value() { destroy(); }

    ValueKind kind() const noexcept { return kind_; }
    bool isAbsent() const noexcept { return kind_ == ValueKind::kAbsent; }
    bool isNull() const noexcept { return kind_ == ValueKind::kNull; }
    // Absent or the null marker.
    bool isAbsentOrNull() const noexcept { return kind_ <= ValueKind::kNull; }
    bool isBool() const noexcept { return kind_ == ValueKind::kBool; }
    bool isInt() const noexcept { return kind_ == ValueKind::kInt; }
    bool isDouble() const noexcept { return kind_ == ValueKind::kDouble; }
    bool isDecimal() const noexcept { return kind_ == ValueKind::kDecimal; }
    // Bool, Int, Double or Decimal: a number object.
    bool isNumber() const noexcept {
        return kind_ >= ValueKind::kBool && kind_ <= ValueKind::kDecimal;
    }
    bool isString() const noexcept { return kind_ == ValueKind::kString; }
    bool isDate() const noexcept { return kind_ == ValueKind::kDate; }
    bool isData() const noexcept { return kind_ == ValueKind::kData; }
    bool isUuid() const noexcept { return kind_ == ValueKind::kUuid; }
    bool isObject() const noexcept { return kind_ == ValueKind::kObject; }
    bool isArray() const noexcept { return asArray() != nullptr; }
    bool isDictionary() const noexcept { return asDictionary() != nullptr; }

    // Number readings: see the table above.
    bool boolValue() const noexcept;
    std::int64_t integerValue() const noexcept;
    double doubleValue() const noexcept;
    qn::Decimal decimalValue() const noexcept;

    // The held payload; an empty one for any other kind.
    const qn::String& asString() const noexcept;
    DateTime asDate() const noexcept { return isDate() ? u_.date : DateTime(); }
    const qn::Bytes& asData() const noexcept;
    QNUUID asUuid() const noexcept { return isUuid() ? u_.uuid : QNUUID(); }
    const Ref<qn::Object>& asObject() const noexcept;
    // Inline readings for tight loops: the held integer (0 for any other
    // kind) and the held object without touching its reference count.
    std::int64_t asInt() const noexcept { return isInt() ? u_.i : 0; }
    qn::Object* objectPointer() const noexcept { return isObject() ? u_.obj.get() : nullptr; }
    // The held object as T, or null when it is not one.
    template <class T>
    Ref<T> as() const noexcept {
        return isObject() ? std::dynamic_pointer_cast<T>(u_.obj) : nullptr;
    }
    const Array* asArray() const noexcept;
    const Dictionary* asDictionary() const noexcept;

    // The text form "%@" gives (see the table above).
    qn::String description() const;

    // Same kind and equal payload; numbers compare by value across kinds
    // (Int 1 equals Double 1.0 equals Decimal 1), as boxed numbers did.
    // Objects compare with their isEqual.
    bool isEqual(const Value& other) const noexcept;
    friend bool operator==(const Value& a, const Value& b) noexcept { return a.isEqual(b); }
    std::size_t hash() const noexcept;
    // The order of two numbers (Bool, Int, Double, Decimal) by value across
    // kinds, exactly (integers as integers, the rest as Decimals); unordered
    // only for a NaN.
    static std::partial_ordering compareNumbers(const Value& a, const Value& b) noexcept;

private:
    bool holdsShared() const noexcept {
        return kind_ == ValueKind::kString || kind_ == ValueKind::kData ||
               kind_ == ValueKind::kObject;
    }
    void destroy() noexcept {
        if (holdsShared()) destroyShared();
        kind_ = ValueKind::kAbsent;
    }
    void destroyShared() noexcept {
        using StrPtr = std::shared_ptr<const qn::String>;
        using DataPtr = std::shared_ptr<const qn::Bytes>;
        if (kind_ == ValueKind::kString) {
            u_.str.~StrPtr();
        } else if (kind_ == ValueKind::kData) {
            u_.data.~DataPtr();
        } else {
            u_.obj.~Ref<qn::Object>();
        }
    }
    void copySharedFrom(const Value& other) noexcept {
        if (kind_ == ValueKind::kString) {
            new (&u_.str) std::shared_ptr<const qn::String>(other.u_.str);
        } else if (kind_ == ValueKind::kData) {
            new (&u_.data) std::shared_ptr<const qn::Bytes>(other.u_.data);
        } else {
            new (&u_.obj) Ref<qn::Object>(other.u_.obj);
        }
    }
    // Moves `other`'s payload into this Value (whose kind_ is already
    // other's and whose payload is empty) and leaves `other` Absent.
    void takeFrom(Value& other) noexcept {
        switch (kind_) {
            case ValueKind::kString:
                new (&u_.str) std::shared_ptr<const qn::String>(std::move(other.u_.str));
                break;
            case ValueKind::kData:
                new (&u_.data) std::shared_ptr<const qn::Bytes>(std::move(other.u_.data));
                break;
            case ValueKind::kObject:
                new (&u_.obj) Ref<qn::Object>(std::move(other.u_.obj));
                break;
            default:
                std::memcpy(static_cast<void*>(&u_), static_cast<const void*>(&other.u_),
                            sizeof u_);
                return;  // nothing to release in `other`
        }
        other.destroy();
    }

    union Payload {
        Payload() noexcept : i(0) {}
        ~Payload() {}
        bool b;
        std::int64_t i;
        double d;
        qn::Decimal dec;
        DateTime date;
        QNUUID uuid;
        std::shared_ptr<const qn::String> str;
        std::shared_ptr<const qn::Bytes> data;
        Ref<qn::Object> obj;
    } u_;
    ValueKind kind_;
};

}  // namespace qn

template <>
struct std::hash<qn::Value> {
    std::size_t operator()(const qn::Value& v) const noexcept { return v.hash(); }
};

#include <qn/core/containers.h>
