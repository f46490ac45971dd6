#include <qn/host/registry.h>
#include <qn/value.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

// Outside any namespace so that its C++ name is also its class name.
class ValueTestGadget : public qn::Object {};

class ValueTestPart : public qn::Object {
    QN_OBJECT(ValueTestPart)
};
class ValueTestWheel : public ValueTestPart {
    QN_OBJECT(ValueTestWheel)
};
QN_REGISTER_CLASS(ValueTestPart, Object)
QN_REGISTER_CLASS(ValueTestWheel, ValueTestPart)

namespace {

using qn::Array;
using qn::DateTime;
using qn::Decimal;
using qn::Dictionary;
using qn::QNUUID;
using qn::String;
using qn::Value;
using qn::ValueKind;

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Decimal dec(const char* text) {
    return Decimal::fromString(std::string_view(text));
}

// --- Kinds -------------------------------------------------------------------

TEST(ValueKinds, ConstructorsThatCouldGoWrong) {
    EXPECT_EQ(sizeof(Value), 32u);
    EXPECT_TRUE(Value(std::uint8_t{7}).isInt());
    EXPECT_TRUE(Value(qn::Ref<Array>()).isAbsent());  // a null reference is no object
    EXPECT_TRUE(Value(qn::makeRef<Array>()).isArray());
    EXPECT_FALSE(Value(qn::makeRef<Array>()).isDictionary());
    // A 64-bit unsigned beyond the signed range stays exact.
    const Value big(std::numeric_limits<std::uint64_t>::max());
    EXPECT_TRUE(big.isDecimal());
    EXPECT_EQ(big.description(), u"18446744073709551615");
    EXPECT_FALSE(Value(u"1").isNumber());
}

TEST(ValueKinds, PayloadAccessorsAnswerEmptyForOtherKinds) {
    const Value n(5);
    EXPECT_TRUE(n.asString().empty());
    EXPECT_TRUE(n.asData().empty());
    EXPECT_EQ(n.asObject(), nullptr);
    EXPECT_EQ(n.asArray(), nullptr);
    EXPECT_EQ(n.as<Array>(), nullptr);
    EXPECT_TRUE(n.asUuid().isEmpty());
    EXPECT_EQ(n.asDate(), DateTime());
}

// --- Copying -----------------------------------------------------------------

TEST(ValueCopy, CopiesShareTheTextAndMovesLeaveAbsent) {
    const Value a(String(1000, u'x'));
    const Value b = a;
    Value c;
    c = b;
    EXPECT_EQ(&a.asString(), &b.asString());
    EXPECT_EQ(&a.asString(), &c.asString());
    const Value data(qn::Bytes(100, 7));
    const Value dataCopy = data;
    EXPECT_EQ(&data.asData(), &dataCopy.asData());

    Value moved = std::move(c);
    EXPECT_EQ(&moved.asString(), &a.asString());
    EXPECT_TRUE(c.isAbsent());  // NOLINT(bugprone-use-after-move): defined state
    EXPECT_TRUE(c.asString().empty());
    Value target(5);
    target = std::move(moved);
    EXPECT_TRUE(moved.isAbsent());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(target.asString().size(), 1000u);
}

TEST(ValueCopy, AssigningAValueOwnedByTheTargetIsSafe) {
    Value v(qn::makeRef<Array>(Array{Value(u"inner text that is long enough to be on the heap")}));
    v = v.asArray()->at(0);  // the array (and the item) die during the assignment
    EXPECT_EQ(v.asString(), u"inner text that is long enough to be on the heap");

    Value w(qn::makeRef<Array>(Array{Value(u"moved inner text, also long enough for the heap")}));
    w = std::move(w.as<Array>()->items()[0]);
    EXPECT_EQ(w.asString(), u"moved inner text, also long enough for the heap");

    Value self(u"self");
    const Value& alias = self;
    self = alias;
    EXPECT_EQ(self.asString(), u"self");
}

// --- Readings ------------------------------------------------------------------

TEST(ValueReadings, NumbersReadAsEveryNumericType) {
    EXPECT_EQ(Value(true).integerValue(), 1);
    EXPECT_EQ(Value(true).doubleValue(), 1.0);
    EXPECT_EQ(Value(true).decimalValue(), dec("1"));
    EXPECT_FALSE(Value(0).boolValue());
    EXPECT_TRUE(Value(-3).boolValue());
    EXPECT_EQ(Value(kMax).decimalValue().toStdString(), "9223372036854775807");
    EXPECT_EQ(Value(kMin).doubleValue(), -9223372036854775808.0);

    EXPECT_TRUE(Value(0.25).boolValue());
    EXPECT_FALSE(Value(-0.0).boolValue());
    EXPECT_EQ(Value(-2.7).integerValue(), -2);
    EXPECT_EQ(Value(1e300).integerValue(), kMax);
    EXPECT_EQ(Value(-1e300).integerValue(), kMin);
    EXPECT_EQ(Value(9223372036854775807.0).integerValue(), kMax);  // 2^63 exactly
    EXPECT_EQ(Value(kNaN).integerValue(), 0);
    EXPECT_EQ(Value(0.1).decimalValue().toStdString(), "0.1");
    EXPECT_TRUE(Value(kInf).decimalValue().isNaN());

    EXPECT_TRUE(Value(dec("0.001")).boolValue());
    EXPECT_FALSE(Value(dec("-0.000")).boolValue());
    EXPECT_EQ(Value(dec("-7.9")).integerValue(), -7);
    EXPECT_EQ(Value(dec("1e30")).integerValue(), kMax);
    EXPECT_EQ(Value(dec("0.1")).doubleValue(), 0.1);
}

TEST(ValueReadings, StringsFollowTheTextRules) {
    // (1) truth
    for (const char16_t* yes : {u"Y", u"yes", u"t", u"True", u"1", u"  +0007", u"-5", u"\u3000 9"})
        EXPECT_TRUE(Value(yes).boolValue()) << qn::toUtf8(yes);
    for (const char16_t* no : {u"", u"0", u"000", u"no", u"false", u"0x1", u"+-1", u" - 1", u"N"})
        EXPECT_FALSE(Value(no).boolValue()) << qn::toUtf8(no);

    // (2) integers
    EXPECT_EQ(Value(u"  -12abc").integerValue(), -12);
    EXPECT_EQ(Value(u"+7").integerValue(), 7);
    EXPECT_EQ(Value(u"3.99").integerValue(), 3);
    EXPECT_EQ(Value(u"abc").integerValue(), 0);
    EXPECT_EQ(Value(u"- 7").integerValue(), 0);
    EXPECT_EQ(Value(u"9223372036854775807").integerValue(), kMax);
    EXPECT_EQ(Value(u"99999999999999999999999").integerValue(), kMax);
    EXPECT_EQ(Value(u"-9223372036854775808").integerValue(), kMin);
    EXPECT_EQ(Value(u"-99999999999999999999999").integerValue(), kMin);
    EXPECT_EQ(Value(u"1e5").integerValue(), 1);

    // (3) the number at the start
    EXPECT_EQ(Value(u" 3.5e2xyz").doubleValue(), 350.0);
    EXPECT_EQ(Value(u" 3.5e2xyz").decimalValue(), dec("350"));
    EXPECT_EQ(Value(u"\n-.5").doubleValue(), -0.5);
    EXPECT_EQ(Value(u"+0.1").doubleValue(), 0.1);
    EXPECT_EQ(Value(u"abc").doubleValue(), 0.0);
    EXPECT_EQ(Value(u"abc").decimalValue(), dec("0"));
    EXPECT_EQ(Value(u"12e").doubleValue(), 12.0);
    // The double reading has the double's range, the decimal reading its own.
    EXPECT_EQ(Value(u"1e300").doubleValue(), 1e300);
    EXPECT_TRUE(Value(u"1e300").decimalValue().isNaN());
    EXPECT_EQ(Value(u"1e400").doubleValue(), kInf);
    EXPECT_EQ(Value(u"-1e400").doubleValue(), -kInf);
    EXPECT_EQ(Value(u"1e-400").doubleValue(), 0.0);
    EXPECT_EQ(Value(u"1e-300").doubleValue(), 1e-300);
}

TEST(ValueReadings, OtherKindsReadAsZero) {
    for (const Value& v : {Value(), Value::null(), Value(DateTime(100)), Value(qn::Bytes{1}),
                           Value(QNUUID::createUUID()), Value(qn::makeRef<Array>())}) {
        EXPECT_FALSE(v.boolValue());
        EXPECT_EQ(v.integerValue(), 0);
        EXPECT_EQ(v.doubleValue(), 0.0);
        EXPECT_TRUE(v.decimalValue().isZero());
    }
}

// --- Description -------------------------------------------------------------------

TEST(ValueDescription, FollowsTheTable) {
    EXPECT_EQ(Value().description(), u"(null)");
    EXPECT_EQ(Value::null().description(), u"<null>");
    EXPECT_EQ(Value(true).description(), u"1");
    EXPECT_EQ(Value(kMin).description(), u"-9223372036854775808");
    EXPECT_EQ(Value(0.1).description(), u"0.1");
    EXPECT_EQ(Value(2.0).description(), u"2");
    EXPECT_EQ(Value(1e21).description(), u"1e+21");
    EXPECT_EQ(Value(-kNaN).description(), u"nan");
    EXPECT_EQ(Value(-kInf).description(), u"-inf");
    EXPECT_EQ(Value(dec("-3.50")).description(), u"-3.5");
    EXPECT_EQ(Value(u"as is").description(), u"as is");
    EXPECT_EQ(Value(DateTime(0)).description(), u"2001-01-01 00:00:00 +0000");
    EXPECT_EQ(Value(qn::Bytes{0x0a, 0x1b, 0x2c, 0x3d, 0x4e}).description(), u"<0a1b2c3d 4e>");
    EXPECT_EQ(Value(qn::Bytes{0, 1, 2, 3}).description(), u"<00010203>");
    EXPECT_EQ(Value(qn::Bytes{}).description(), u"<>");
    const QNUUID id = *QNUUID::fromString(std::string_view("0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d"));
    EXPECT_EQ(Value(id).description(), u"0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D");
    EXPECT_EQ(Value(qn::makeRef<ValueTestGadget>()).description(), u"<ValueTestGadget>");
    const Value list(qn::makeRef<Array>(Array{1, u"a", Value()}));
    EXPECT_EQ(list.description(), u"(1, a, (null))");
    EXPECT_EQ(Value(qn::makeRef<Array>()).description(), u"()");
    const Value map(qn::makeRef<Dictionary>(Dictionary{{u"b", 2}, {u"a", list}}));
    EXPECT_EQ(map.description(), u"{b = 2; a = (1, a, (null));}");
    EXPECT_EQ(Value(qn::makeRef<Dictionary>()).description(), u"{}");
}

// --- Equality and hash -----------------------------------------------------------------

TEST(ValueEquality, NumbersAreEqualByValueAcrossKinds) {
    EXPECT_EQ(Value(1), Value(true));
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(1.0), Value(dec("1.000")));
    EXPECT_EQ(Value(0.1), Value(dec("0.1")));
    EXPECT_EQ(Value(-0.0), Value(0));
    EXPECT_NE(Value(0.1), Value(dec("0.10000000000000001")));
    EXPECT_NE(Value(2), Value(true));
    EXPECT_NE(Value(1.5), Value(1));
    // 2^53 + 1 has no double; the nearest double is not that integer.
    EXPECT_NE(Value(std::int64_t{9007199254740993}), Value(9007199254740992.0));
    // A double means its shortest round-trip text: 2^60 is written out in
    // full, 2^80 is 1.2089258196146292e+24.
    EXPECT_EQ(Value(1152921504606846976.0), Value(std::int64_t{1152921504606846976}));
    EXPECT_NE(Value(1152921504606846976.0), Value(std::int64_t{1152921504606847000}));
    EXPECT_EQ(Value(1208925819614629174706176.0), Value(dec("1208925819614629200000000")));
    EXPECT_NE(Value(1208925819614629174706176.0), Value(dec("1208925819614629174706176")));
    // NaN: equal to itself within its kind only.
    EXPECT_EQ(Value(kNaN), Value(-kNaN));
    EXPECT_EQ(Value(Decimal::notANumber()), Value(Decimal::notANumber()));
    EXPECT_NE(Value(kNaN), Value(Decimal::notANumber()));
    // Doubles beyond the Decimal range.
    EXPECT_EQ(Value(1e300), Value(1e300));
    EXPECT_NE(Value(1e300), Value(Decimal::notANumber()));
    EXPECT_NE(Value(1e-200), Value(0));
    EXPECT_NE(Value(kInf), Value(-kInf));
    // Numbers are not strings.
    EXPECT_NE(Value(1), Value(u"1"));
}

TEST(ValueEquality, IsAnEquivalenceThatTheHashFollows) {
    const std::vector<Value> values = {
        Value(),
        Value::null(),
        Value(false),
        Value(true),
        Value(0),
        Value(1),
        Value(-1),
        Value(kMax),
        Value(kMin),
        Value(0.0),
        Value(-0.0),
        Value(1.0),
        Value(0.1),
        Value(1e20),
        Value(1e300),
        Value(1e-300),
        Value(kNaN),
        Value(kInf),
        Value(9007199254740992.0),
        Value(9007199254740994.0),
        Value(1152921504606846976.0),
        Value(std::int64_t{1152921504606847000}),
        Value(std::int64_t{1152921504606846976}),
        Value(1208925819614629174706176.0),
        Value(dec("1208925819614629200000000")),
        Value(dec("1208925819614629174706176")),
        Value(std::int64_t{9007199254740993}),
        Value(dec("0")),
        Value(dec("1.0")),
        Value(dec("0.10")),
        Value(dec("1e20")),
        Value(dec("9223372036854775807")),
        Value(dec("9223372036854775808")),
        Value(dec("1152921504606847000")),
        Value(Decimal::notANumber()),
        Value(u""),
        Value(u"1"),
        Value(qn::Bytes{}),
        Value(qn::Bytes{1}),
        Value(DateTime(0)),
        Value(DateTime(-0.0)),
        Value(QNUUID()),
        Value(qn::makeRef<Array>(Array{1, 2})),
        Value(qn::makeRef<Array>(Array{1.0, dec("2")})),
        Value(qn::makeRef<Dictionary>(Dictionary{{u"a", 1}, {u"b", u"x"}})),
        Value(qn::makeRef<Dictionary>(Dictionary{{u"b", u"x"}, {u"a", true}}))};
    for (const Value& a : values) {
        EXPECT_TRUE(a.isEqual(a)) << qn::toUtf8(a.description());
        for (const Value& b : values) {
            EXPECT_EQ(a.isEqual(b), b.isEqual(a));
            if (!a.isEqual(b)) continue;
            EXPECT_EQ(a.hash(), b.hash())
                << qn::toUtf8(a.description()) << " / " << qn::toUtf8(b.description());
            for (const Value& c : values)
                if (b.isEqual(c)) {
                    EXPECT_TRUE(a.isEqual(c));
                }
        }
    }
}

TEST(ValueEquality, PayloadsCompareByContentObjectsByTheirOwnRule) {
    EXPECT_EQ(Value(String(100, u'a')), Value(String(100, u'a')));
    EXPECT_NE(Value(u"a"), Value(u"A"));
    EXPECT_NE(Value(), Value::null());
    EXPECT_EQ(Value(qn::Bytes{1, 2}), Value(qn::Bytes{1, 2}));
    EXPECT_NE(Value(qn::Bytes{}), Value(u""));
    const auto gadget = qn::makeRef<ValueTestGadget>();
    EXPECT_EQ(Value(gadget), Value(gadget));
    EXPECT_NE(Value(gadget), Value(qn::makeRef<ValueTestGadget>()));
    EXPECT_EQ(Value(qn::makeRef<Array>(Array{1, u"x"})),
              Value(qn::makeRef<Array>(Array{true, u"x"})));
    EXPECT_NE(Value(qn::makeRef<Array>(Array{1})), Value(qn::makeRef<Array>(Array{1, 1})));
    EXPECT_NE(Value(qn::makeRef<Array>()), Value(qn::makeRef<Dictionary>()));
}

// --- Objects -------------------------------------------------------------------------

TEST(ObjectNames, RegisteredOrCxxNameAndKinship) {
    EXPECT_EQ(ValueTestGadget().className(), u"ValueTestGadget");
    EXPECT_EQ(ValueTestWheel().className(), u"ValueTestWheel");
    EXPECT_EQ(ValueTestWheel().description(), u"<ValueTestWheel>");
    EXPECT_TRUE(ValueTestWheel().isKindOfClassNamed("ValueTestPart"));
    EXPECT_TRUE(ValueTestWheel().isKindOfClassNamed("ValueTestWheel"));
    EXPECT_FALSE(ValueTestPart().isKindOfClassNamed("ValueTestWheel"));
    EXPECT_FALSE(ValueTestGadget().isKindOfClassNamed("ValueTestGadget"));
    EXPECT_EQ(Array().className(), u"Array");
}

// --- Containers ------------------------------------------------------------------------

TEST(ArrayContainer, KeepsOrderAndAnswersAbsentPastTheEnd) {
    Array a{1, u"two"};
    a.append(3.0);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a.at(1), Value(u"two"));
    EXPECT_TRUE(a.at(3).isAbsent());
    EXPECT_TRUE(a.at(static_cast<std::size_t>(-1)).isAbsent());
    EXPECT_EQ(Value(qn::makeRef<Array>(a)).hash(),
              Value(qn::makeRef<Array>(Array{1, u"two", 3})).hash());
}

std::vector<String> keysOf(const Dictionary& d) {
    return d.keys();
}

String key(int i) {
    return u"key" + qn::fromUtf8(std::to_string(i));
}

TEST(DictionaryContainer, KeepsInsertionOrderAndReplacesInPlace) {
    Dictionary d{{u"z", 1}, {u"a", 2}, {u"m", 3}, {u"a", 4}};
    EXPECT_EQ(keysOf(d), (std::vector<String>{u"z", u"a", u"m"}));
    EXPECT_EQ(d.get(u"a"), Value(4));
    d.set(u"z", u"new");
    EXPECT_EQ(keysOf(d), (std::vector<String>{u"z", u"a", u"m"}));
    EXPECT_EQ(d.get(u"z"), Value(u"new"));
    EXPECT_TRUE(d.get(u"missing").isAbsent());
    EXPECT_FALSE(d.remove(u"missing"));

    // A stored Absent is not a missing key.
    d.set(u"nothing", Value());
    EXPECT_TRUE(d.contains(u"nothing"));
    Dictionary other{{u"z", u"new"}, {u"a", 4}, {u"m", 3}, {u"other", Value()}};
    EXPECT_FALSE(Value(qn::makeRef<Dictionary>(d)).isEqual(Value(qn::makeRef<Dictionary>(other))));
}

TEST(DictionaryContainer, IndexStaysRightThroughGrowthRemovalAndShrinking) {
    Dictionary d;
    std::vector<int> live;
    for (int i = 0; i < 40; ++i) {
        d.set(key(i), i);
        live.push_back(i);
    }
    const auto check = [&] {
        ASSERT_EQ(d.size(), live.size());
        for (std::size_t pos = 0; pos < live.size(); ++pos) {
            EXPECT_EQ(d.entries()[pos].first, key(live[pos]));
            EXPECT_EQ(d.get(key(live[pos])), Value(live[pos])) << live[pos];
        }
        for (int i = 0; i < 40; ++i) {
            const bool present = std::find(live.begin(), live.end(), i) != live.end();
            EXPECT_EQ(d.contains(key(i)), present) << i;
        }
    };
    const auto drop = [&](int i) {
        EXPECT_TRUE(d.remove(key(i)));
        live.erase(std::find(live.begin(), live.end(), i));
    };
    // First, middle and last, while well above the threshold.
    drop(0);
    drop(20);
    drop(39);
    check();
    // Removing by a view of the entry's own key.
    const int victim = live[5];
    EXPECT_TRUE(d.remove(d.entries()[5].first));
    live.erase(live.begin() + 5);
    (void)victim;
    check();
    // Down through the threshold to empty, checking at each size.
    while (!live.empty()) {
        drop(live[live.size() / 2]);
        check();
    }
    // And up again, replacing values on the way.
    for (int i = 0; i < 30; ++i) {
        d.set(key(i), -1);
        d.set(key(i), i);
        live.push_back(i);
    }
    check();
    d.clear();
    EXPECT_TRUE(d.empty());
    EXPECT_FALSE(d.contains(key(3)));
}

TEST(DictionaryContainer, EqualityAndHashIgnoreOrder) {
    Dictionary a, b;
    for (int i = 0; i < 20; ++i)
        a.set(key(i), i);
    for (int i = 19; i >= 0; --i)
        b.set(key(i), static_cast<double>(i));
    const Value va(qn::makeRef<Dictionary>(a)), vb(qn::makeRef<Dictionary>(b));
    EXPECT_EQ(va, vb);
    EXPECT_EQ(va.hash(), vb.hash());
    b.set(key(3), 4);
    EXPECT_NE(va, Value(qn::makeRef<Dictionary>(b)));
}

// --- UUID ------------------------------------------------------------------------------

TEST(Uuid, ParsesEitherCaseAndPrintsUpperCase) {
    const auto lower = QNUUID::fromString(std::string_view("de305d54-75b4-431b-adb2-eb6b9e546014"));
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(lower->uuidStdString(), "DE305D54-75B4-431B-ADB2-EB6B9E546014");
    EXPECT_EQ(lower->bytes()[0], 0xDE);
    EXPECT_EQ(lower->bytes()[15], 0x14);
    const auto upper = QNUUID::fromString(qn::StringView(u"DE305D54-75B4-431B-ADB2-EB6B9E546014"));
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->hash(), upper->hash());
    EXPECT_EQ(QNUUID::fromString(upper->uuidString()), upper);
    EXPECT_EQ(QNUUID::emptyUUID().uuidStdString(), "00000000-0000-0000-0000-000000000000");
}

TEST(Uuid, RejectsAnythingButTheCanonicalForm) {
    for (const char* bad :
         {"", "de305d54-75b4-431b-adb2-eb6b9e54601", "de305d54-75b4-431b-adb2-eb6b9e5460144",
          "de305d5475b4431badb2eb6b9e546014", "{de305d54-75b4-431b-adb2-eb6b9e546014}",
          "de305d54-75b4-431b-adb2_eb6b9e546014", "de305d5-475b4-431b-adb2-eb6b9e546014",
          "ge305d54-75b4-431b-adb2-eb6b9e546014", " de305d54-75b4-431b-adb2-eb6b9e54601",
          "de305d54-75b4-431b-adb2-eb6b9e54601\n"})
        EXPECT_FALSE(QNUUID::fromString(std::string_view(bad)).has_value()) << bad;
    // A UTF-16 unit whose low byte is a hex digit is still not one.
    EXPECT_FALSE(QNUUID::fromString(qn::StringView(u"\u0141E305D54-75B4-431B-ADB2-EB6B9E546014")));
    EXPECT_FALSE(QNUUID::fromString(qn::StringView(u"DE305D54\u012D75B4-431B-ADB2-EB6B9E546014")));
}

TEST(Uuid, CreatesDistinctVersion4Identifiers) {
    const QNUUID a = QNUUID::createUUID(), b = QNUUID::createUUID();
    EXPECT_NE(a, b);
    for (const QNUUID& u : {a, b}) {
        EXPECT_EQ(u.bytes()[6] >> 4, 4);
        EXPECT_EQ(u.bytes()[8] & 0xC0, 0x80);
        EXPECT_EQ(u.uuidStdString()[14], '4');
    }
}

// --- DateTime --------------------------------------------------------------------------

qn::CivilDateTime civil(std::int64_t y, int mo, int d, int h = 0, int mi = 0, int s = 0,
                        int ms = 0) {
    qn::CivilDateTime c;
    c.year = y;
    c.month = mo;
    c.day = d;
    c.hour = h;
    c.minute = mi;
    c.second = s;
    c.millisecond = ms;
    return c;
}

void expectCivil(const qn::CivilDateTime& got, const qn::CivilDateTime& want) {
    EXPECT_EQ(got.year, want.year);
    EXPECT_EQ(got.month, want.month);
    EXPECT_EQ(got.day, want.day);
    EXPECT_EQ(got.hour, want.hour);
    EXPECT_EQ(got.minute, want.minute);
    EXPECT_EQ(got.second, want.second);
    EXPECT_EQ(got.millisecond, want.millisecond);
}

TEST(DateTimeCivil, KnownInstants) {
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2001, 1, 1)).timeIntervalSinceReferenceDate(), 0.0);
    EXPECT_EQ(DateTime::fromCivilUTC(civil(1970, 1, 1)).timeIntervalSince1970(), 0.0);
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2000, 3, 1)).timeIntervalSince1970(), 951868800.0);
    EXPECT_EQ(DateTime::fromCivilUTC(civil(1, 1, 1)).timeIntervalSince1970(), -62135596800.0);
    EXPECT_EQ(DateTime(-0.001).description(), u"2000-12-31 23:59:59 +0000");
    EXPECT_EQ(DateTime::fromCivilUTC(civil(1, 1, 1)).description(), u"0001-01-01 00:00:00 +0000");
    EXPECT_EQ(DateTime::fromCivilUTC(civil(0, 12, 31, 23, 59, 59)).description(),
              u"0000-12-31 23:59:59 +0000");
    EXPECT_EQ(DateTime::fromCivilUTC(civil(-44, 3, 15)).description(),
              u"-0044-03-15 00:00:00 +0000");
    expectCivil(DateTime(-0.001).toCivilUTC(), civil(2000, 12, 31, 23, 59, 59, 999));
    expectCivil(DateTime(700000000.123).toCivilUTC(), civil(2023, 3, 8, 20, 26, 40, 123));
}

TEST(DateTimeCivil, RoundTripsAcrossErasAndLeapRules) {
    for (const auto& c :
         {civil(1, 1, 1), civil(1600, 2, 29, 12), civil(1900, 2, 28, 23, 59, 59), civil(1900, 3, 1),
          civil(2000, 2, 29, 1, 2, 3, 456), civil(2100, 12, 31), civil(-4, 2, 29),
          civil(-400, 1, 1), civil(9999, 12, 31, 23, 59, 59, 999), civil(275000, 6, 15, 6)}) {
        SCOPED_TRACE(c.year);
        expectCivil(DateTime::fromCivilUTC(c).toCivilUTC(), c);
    }
    // Every day over a span of 1200 years, both ways.
    for (std::int64_t day = -300000; day <= 150000; day += 1) {
        const DateTime t(static_cast<double>(day) * 86400.0);
        const qn::CivilDateTime c = t.toCivilUTC();
        ASSERT_EQ(DateTime::fromCivilUTC(c), t) << day;
        ASSERT_GE(c.day, 1);
        ASSERT_LE(c.day, 31);
    }
}

TEST(DateTimeCivil, OutOfRangeFieldsCarryOver) {
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2000, 13, 1)),
              DateTime::fromCivilUTC(civil(2001, 1, 1)));
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2001, 0, 1)),
              DateTime::fromCivilUTC(civil(2000, 12, 1)));
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2001, -11, 1)),
              DateTime::fromCivilUTC(civil(2000, 1, 1)));
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2000, 3, 0)),
              DateTime::fromCivilUTC(civil(2000, 2, 29)));
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2001, 1, 1, 24)),
              DateTime::fromCivilUTC(civil(2001, 1, 2)));
    EXPECT_EQ(DateTime::fromCivilUTC(civil(2001, 1, 1, 0, -1)),
              DateTime::fromCivilUTC(civil(2000, 12, 31, 23, 59)));
    EXPECT_EQ(
        DateTime::fromCivilUTC(civil(2001, 1, 1, 0, 0, 0, 1500)).timeIntervalSinceReferenceDate(),
        1.5);
}

TEST(DateTimeCivil, ExtremeInstantsDoNotBreak) {
    for (double s : {kNaN, kInf, -kInf, 1e300, -1e300, 1e17, -1e17}) {
        const qn::CivilDateTime c = DateTime(s).toCivilUTC();
        EXPECT_GE(c.month, 1);
        EXPECT_LE(c.month, 12);
        EXPECT_FALSE(DateTime(s).description().empty());
    }
    const auto far =
        civil(std::numeric_limits<std::int64_t>::max(), std::numeric_limits<int>::max(),
              std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    EXPECT_TRUE(std::isfinite(DateTime::fromCivilUTC(far).timeIntervalSinceReferenceDate()));
    const DateTime now = DateTime::now();
    EXPECT_GT(now.timeIntervalSinceReferenceDate(), 7e8);  // later than 2023
}

}  // namespace
