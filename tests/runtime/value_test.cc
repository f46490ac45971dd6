#include <qn/value.h>

#include "support/test_support.h"

// Outside any namespace so that its C++ name is also its class name.
class ValueTestGadget : public qn::Object {};

namespace qn {
namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Decimal dec(const char* text) {
    return Decimal::fromString(std::string_view(text));
}
Value list(std::initializer_list<Value> items) {
    return Value(makeRef<Array>(Array(items)));
}
Value map(std::initializer_list<Dictionary::Entry> entries) {
    return Value(makeRef<Dictionary>(Dictionary(entries)));
}
String key(int i) {
    return u"key" + fromUtf8(std::to_string(i));
}
template <class... T>
void addSingletons(std::vector<std::vector<Value>>& classes, const T&... values) {
    (classes.push_back({Value(values)}), ...);
}
void expectSameDouble(double got, double want) {
    EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want))) << got << " vs " << want;
}

// --- Copies, kinds and readings ---------------------------------------------------

TEST(ValueCopy, SharesThePayloadMovesLeaveAbsentAndAliasedSourcesSurvive) {
    EXPECT_EQ(sizeof(Value), 32u);
    const Value a(String(1000, u'x')), data(Bytes(100, 7));
    const Value b = a, dataCopy = data;
    Value c;
    c = b;
    EXPECT_EQ(&a.asString(), &b.asString());
    EXPECT_EQ(&a.asString(), &c.asString());
    EXPECT_EQ(&data.asData(), &dataCopy.asData());

    Value moved = std::move(c);
    EXPECT_EQ(&moved.asString(), &a.asString());
    EXPECT_TRUE(c.isAbsent());  // NOLINT(bugprone-use-after-move): defined state
    Value target(5);
    target = std::move(moved);
    EXPECT_TRUE(moved.isAbsent());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(&target.asString(), &a.asString());

    // Assigning from a value that the target itself owns.
    Value v = list({Value(u"inner text that is long enough to be on the heap")});
    v = v.asArray()->at(0);  // the array (and the item) die during the assignment
    EXPECT_EQ(v.asString(), u"inner text that is long enough to be on the heap");
    Value w = list({Value(u"moved inner text, also long enough for the heap")});
    w = std::move(w.as<Array>()->items()[0]);
    EXPECT_EQ(w.asString(), u"moved inner text, also long enough for the heap");
    Value self(u"self");
    const Value& alias = self;
    self = alias;
    EXPECT_EQ(self.asString(), u"self");
}

TEST(ValueKinds, EachKindDescribesAndReadsByTheTable) {
    using K = ValueKind;
    const Value nested = list({1, u"a", Value()});
    // value, kind, description, boolValue, integerValue, doubleValue, decimalValue
    const std::tuple<Value, K, const char16_t*, bool, std::int64_t, double, const char*> cases[] = {
        {Value(), K::kAbsent, u"(null)", false, 0, 0.0, "0"},
        {Ref<Array>(), K::kAbsent, u"(null)", false, 0, 0.0, "0"},  // no object
        {Value::null(), K::kNull, u"<null>", false, 0, 0.0, "0"},
        {true, K::kBool, u"1", true, 1, 1.0, "1"},
        {kMin, K::kInt, u"-9223372036854775808", true, kMin, -9223372036854775808.0,
         "-9223372036854775808"},
        // Beyond the signed range an unsigned stays exact.
        {std::numeric_limits<std::uint64_t>::max(), K::kDecimal, u"18446744073709551615", true,
         kMax, 18446744073709551615.0, "18446744073709551615"},
        {-0.0, K::kDouble, u"-0", false, 0, 0.0, "0"},
        {-2.7, K::kDouble, u"-2.7", true, -2, -2.7, "-2.7"},
        {1e21, K::kDouble, u"1e+21", true, kMax, 1e21, "1000000000000000000000"},
        {1e300, K::kDouble, u"1e+300", true, kMax, 1e300, "NaN"},
        {9223372036854775808.0, K::kDouble, u"9223372036854775808", true, kMax,  // 2^63
         9223372036854775808.0, "9223372036854775808"},
        {-kNaN, K::kDouble, u"nan", true, 0, kNaN, "NaN"},
        {-kInf, K::kDouble, u"-inf", true, kMin, -kInf, "NaN"},
        {dec("-0.000"), K::kDecimal, u"0", false, 0, 0.0, "0"},
        {dec("-7.90"), K::kDecimal, u"-7.9", true, -7, -7.9, "-7.9"},
        {dec("1e30"), K::kDecimal, u"1000000000000000000000000000000", true, kMax, 1e30,
         "1000000000000000000000000000000"},
        {DateTime(0), K::kDate, u"2001-01-01 00:00:00 +0000", false, 0, 0.0, "0"},
        {Bytes{0x0a, 0x1b, 0x2c, 0x3d, 0x4e}, K::kData, u"<0a1b2c3d 4e>", false, 0, 0.0, "0"},
        {Bytes{0, 1, 2, 3}, K::kData, u"<00010203>", false, 0, 0.0, "0"},
        {*QNUUID::fromString(std::string_view("0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d")), K::kUuid,
         u"0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D", false, 0, 0.0, "0"},
        {makeRef<ValueTestGadget>(), K::kObject, u"<ValueTestGadget>", false, 0, 0.0, "0"},
        {nested, K::kObject, u"(1, a, (null))", false, 0, 0.0, "0"},
        {map({{u"b", 2}, {u"a", nested}}), K::kObject, u"{b = 2; a = (1, a, (null));}", false, 0,
         0.0, "0"}};
    for (const auto& [value, kind, text, b, i, d, decimal] : cases) {
        SCOPED_TRACE(toUtf8(text));
        EXPECT_EQ(value.kind(), kind);
        EXPECT_EQ(value.description(), text);
        EXPECT_EQ(value.boolValue(), b);
        EXPECT_EQ(value.integerValue(), i);
        expectSameDouble(value.doubleValue(), d);
        EXPECT_EQ(value.decimalValue().toStdString(), decimal);
    }
    // Payload accessors answer empty for other kinds.
    const Value n(5);
    EXPECT_TRUE(n.asString().empty() && n.asData().empty() && n.asUuid().isEmpty());
    EXPECT_TRUE(n.asObject() == nullptr && n.as<Array>() == nullptr && n.asArray() == nullptr);
    EXPECT_EQ(n.asDate(), DateTime());
    EXPECT_TRUE(list({}).isArray() && !list({}).isDictionary() && map({}).isDictionary());
}

TEST(ValueReadings, StringsFollowTheTextRules) {
    // (1) truth: after white space, sign and zeros, Y, y, T, t or 1-9.
    for (const char16_t* yes : {u"Y", u"yes", u"t", u"True", u"  +0007", u"-5", u"\u3000 9"})
        EXPECT_TRUE(Value(yes).boolValue()) << toUtf8(yes);
    for (const char16_t* no : {u"", u"000", u"N", u"false", u"0x1", u"+-1", u" - 1", u"+0.1"})
        EXPECT_FALSE(Value(no).boolValue()) << toUtf8(no);
    // (2) and (3): text, integerValue, doubleValue, decimalValue
    const std::tuple<const char16_t*, std::int64_t, double, const char*> cases[] = {
        {u" - 1", 0, 0.0, "0"},
        {u"\u3000 9", 9, 9.0, "9"},
        {u"  -12abc", -12, -12.0, "-12"},
        {u"3.99", 3, 3.99, "3.99"},
        {u"\n-.5", 0, -0.5, "-0.5"},
        {u" 3.5e2xyz", 3, 350.0, "350"},
        {u"99999999999999999999999", kMax, 99999999999999999999999.0, "99999999999999999999999"},
        {u"-99999999999999999999999", kMin, -99999999999999999999999.0, "-99999999999999999999999"},
        // The double reading has the double's range, the decimal reading its own.
        {u"1e300", 1, 1e300, "NaN"},
        {u"1e-300", 1, 1e-300, "0"},
        {u"-1e400", -1, -kInf, "NaN"},
        {u"1e-400", 1, 0.0, "0"}};
    for (const auto& [text, i, d, decimal] : cases) {
        SCOPED_TRACE(toUtf8(text));
        EXPECT_EQ(Value(text).integerValue(), i);
        expectSameDouble(Value(text).doubleValue(), d);
        EXPECT_EQ(Value(text).decimalValue().toStdString(), decimal);
    }
}

// --- Equality and hash -------------------------------------------------------------

TEST(ValueEquality, PartitionsIntoTheExpectedClassesAndTheHashFollows) {
    const auto gadget = makeRef<ValueTestGadget>();
    // Values in one row are equal to each other and to nothing in another row.
    std::vector<std::vector<Value>> classes = {
        {false, 0, 0.0, -0.0, dec("0"), dec("-0.000")},
        {true, 1, 1.0, dec("1.000")},
        {kMax, dec("9223372036854775807")},
        {dec("9223372036854775808"), std::uint64_t{9223372036854775808u}, 9223372036854775808.0},
        // A double means its shortest round-trip text.
        {0.1, dec("0.1"), dec("0.10")},
        {9007199254740992.0, std::int64_t{9007199254740992}},
        {1152921504606846976.0, std::int64_t{1152921504606846976}},  // 2^60, written in full
        {std::int64_t{1152921504606847000}, dec("1152921504606847000")},
        {1208925819614629174706176.0, dec("1208925819614629200000000")},  // 2^80
        {1e20, dec("1e20")},
        {kNaN, -kNaN},  // NaN equals itself within its kind only
        {String(100, u'a'), String(100, u'a')},
        {Bytes{1, 2}, Bytes{1, 2}},
        {DateTime(0), DateTime(-0.0)},
        {gadget, gadget},
        {list({1, 2}), list({true, 2.0}), list({1.0, dec("2")})},
        {map({{u"a", 1}, {u"b", u"x"}}), map({{u"b", u"x"}, {u"a", true}})}};
    // Each equal only to itself. 2^53 + 1 has no double; doubles beyond the
    // Decimal range equal only themselves; a stored Absent is not a missing key.
    addSingletons(classes, Value(), Value::null(), 2, 1.5, -1, kMin, dec("0.10000000000000001"),
                  std::int64_t{9007199254740993}, 9007199254740994.0,
                  dec("1208925819614629174706176"), Decimal::notANumber(), 1e300, 1e-200, kInf,
                  -kInf, u"", u"1", u"a", u"A", Bytes{}, QNUUID(), makeRef<ValueTestGadget>(),
                  list({1}), list({1, 1}), list({}), map({}), map({{u"a", 1}, {u"n", Value()}}),
                  map({{u"a", 1}, {u"o", Value()}}), map({{u"a", 2}, {u"b", u"x"}}));
    for (std::size_t i = 0; i < classes.size(); ++i)
        for (const Value& a : classes[i])
            for (std::size_t j = 0; j < classes.size(); ++j)
                for (const Value& b : classes[j]) {
                    SCOPED_TRACE(toUtf8(a.description() + u" / " + b.description()));
                    EXPECT_EQ(a.isEqual(b), i == j);
                    if (i == j) {
                        EXPECT_EQ(a.hash(), b.hash());
                    }
                }
}

// --- Containers ----------------------------------------------------------

TEST(Containers, AbsentPastTheEndAndFirstPlaceLastValue) {
    const Array a{1, u"two"};
    EXPECT_TRUE(a.at(2).isAbsent());
    EXPECT_TRUE(a.at(static_cast<std::size_t>(-1)).isAbsent());
    const Dictionary d{{u"z", 1}, {u"a", 2}, {u"m", 3}, {u"a", 4}, {u"nothing", Value()}};
    EXPECT_EQ(d.keys(), (std::vector<String>{u"z", u"a", u"m", u"nothing"}));
    EXPECT_EQ(d.get(u"a"), Value(4));
    EXPECT_TRUE(d.contains(u"nothing"));  // a stored Absent is not a missing key
    EXPECT_FALSE(d.contains(u"missing"));
    EXPECT_TRUE(d.get(u"missing").isAbsent());
}

TEST(Containers, DictionaryIndexStaysRightThroughGrowthRemovalAndShrinking) {
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
    EXPECT_TRUE(d.remove(d.entries()[5].first));
    live.erase(live.begin() + 5);
    check();
    // Down through the threshold, checking at each size, then up again with
    // new keys and replaced values.
    while (live.size() > 3) {
        drop(live[live.size() / 2]);
        check();
    }
    for (int i = 0; i < 40; ++i) {
        if (std::find(live.begin(), live.end(), i) != live.end()) continue;
        d.set(key(i), -1);
        d.set(key(i), i);
        live.push_back(i);
        check();
    }
    EXPECT_FALSE(d.remove(u"missing"));
    d.clear();
    EXPECT_FALSE(d.contains(key(3)));
}

// --- UUID --------------------------------------------------------------------------

TEST(Uuid, ParsesTheCanonicalFormInEitherCaseOnlyAndCreatesVersion4) {
    const auto lower = QNUUID::fromString(std::string_view("de305d54-75b4-431b-adb2-eb6b9e546014"));
    const auto upper = QNUUID::fromString(StringView(u"DE305D54-75B4-431B-ADB2-EB6B9E546014"));
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->uuidStdString(), "DE305D54-75B4-431B-ADB2-EB6B9E546014");
    EXPECT_EQ(lower->bytes()[0], 0xDE);
    EXPECT_EQ(lower->bytes()[15], 0x14);
    for (const char* bad :
         {"", "de305d54-75b4-431b-adb2-eb6b9e54601", "de305d54-75b4-431b-adb2-eb6b9e5460144",
          "de305d5475b4431badb2eb6b9e546014", "{de305d54-75b4-431b-adb2-eb6b9e546014}",
          "de305d54-75b4-431b-adb2_eb6b9e546014", "de305d5-475b4-431b-adb2-eb6b9e546014",
          "ge305d54-75b4-431b-adb2-eb6b9e546014", " de305d54-75b4-431b-adb2-eb6b9e54601",
          "de305d54-75b4-431b-adb2-eb6b9e54601\n"})
        EXPECT_FALSE(QNUUID::fromString(std::string_view(bad)).has_value()) << bad;
    // A UTF-16 unit whose low byte is a hex digit or a dash is still not one.
    for (const char16_t* bad : {u"\u0141E305D54-75B4-431B-ADB2-EB6B9E546014",
                                u"DE305D5\u0134-75B4-431B-ADB2-EB6B9E546014",
                                u"DE305D54\u012D75B4-431B-ADB2-EB6B9E546014"})
        EXPECT_FALSE(QNUUID::fromString(StringView(bad)).has_value()) << toUtf8(bad);

    const QNUUID a = QNUUID::createUUID();
    EXPECT_NE(a, QNUUID::createUUID());
    EXPECT_EQ(a.bytes()[6] >> 4, 4);
    EXPECT_EQ(a.bytes()[8] & 0xC0, 0x80);
}

// --- DateTime ----------------------------------------------------------------------

CivilDateTime civil(std::int64_t y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return {y, mo, d, h, mi, s, ms};
}
auto fields(const CivilDateTime& c) {
    return std::tuple(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond);
}

TEST(DateTimeCivil, KnownInstantsAndCarries) {
    const std::tuple<CivilDateTime, double, const char16_t*> cases[] = {
        {civil(2001, 1, 1), 978307200.0, u"2001-01-01 00:00:00 +0000"},
        {civil(1970, 1, 1), 0.0, u"1970-01-01 00:00:00 +0000"},
        {civil(2000, 3, 1), 951868800.0, u"2000-03-01 00:00:00 +0000"},
        {civil(1582, 10, 15), -12219292800.0, u"1582-10-15 00:00:00 +0000"},
        {civil(1582, 10, 4), -12219379200.0, u"1582-10-04 00:00:00 +0000"},  // Julian before
        {civil(1, 1, 1), -62135769600.0, u"0001-01-01 00:00:00 +0000"},
        {civil(0, 12, 31, 23, 59, 59), -62135769601.0, u"0000-12-31 23:59:59 +0000"},
        {civil(-44, 3, 15), -63549532800.0, u"-0044-03-15 00:00:00 +0000"}};
    for (const auto& [c, since1970, text] : cases) {
        const DateTime t = DateTime::fromCivilUTC(c);
        EXPECT_EQ(t.timeIntervalSince1970(), since1970);
        EXPECT_EQ(t.description(), text);
        EXPECT_EQ(fields(t.toCivilUTC()), fields(c));
    }
    EXPECT_EQ(DateTime(-0.001).description(), u"2000-12-31 23:59:59 +0000");
    EXPECT_EQ(fields(DateTime(-0.001).toCivilUTC()), fields(civil(2000, 12, 31, 23, 59, 59, 999)));
    EXPECT_EQ(fields(DateTime(700000000.123).toCivilUTC()),
              fields(civil(2023, 3, 8, 20, 26, 40, 123)));
    // Fields out of their range carry over.
    const std::pair<CivilDateTime, CivilDateTime> carries[] = {
        {civil(2000, 13, 1), civil(2001, 1, 1)},
        {civil(2001, 0, 1), civil(2000, 12, 1)},
        {civil(2001, -11, 1), civil(2000, 1, 1)},
        {civil(2000, 3, 0), civil(2000, 2, 29)},
        {civil(2001, 1, 1, 24), civil(2001, 1, 2)},
        {civil(2001, 1, 1, 0, -1), civil(2000, 12, 31, 23, 59)},
        {civil(2001, 1, 1, 0, 0, 0, 1500), civil(2001, 1, 1, 0, 0, 1, 500)}};
    for (const auto& [given, same] : carries)
        EXPECT_EQ(DateTime::fromCivilUTC(given), DateTime::fromCivilUTC(same));
}

TEST(DateTimeCivil, RoundTripsAcrossErasAndLeapRulesAndExtremesDoNotBreak) {
    for (const auto& c : {civil(2000, 2, 29, 1, 2, 3, 456), civil(-4, 2, 29), civil(-400, 1, 1),
                          civil(9999, 12, 31, 23, 59, 59, 999), civil(275000, 6, 15, 6)})
        EXPECT_EQ(fields(DateTime::fromCivilUTC(c).toCivilUTC()), fields(c));
    // Every day over a span of 1200 years, both ways.
    for (std::int64_t day = -300000; day <= 150000; day += 1) {
        const DateTime t(static_cast<double>(day) * 86400.0);
        const CivilDateTime c = t.toCivilUTC();
        ASSERT_EQ(DateTime::fromCivilUTC(c), t) << day;
        ASSERT_TRUE(c.day >= 1 && c.day <= 31) << day;
    }

    for (double s : {kNaN, kInf, -kInf, 1e300, -1e300, 1e17, -1e17}) {
        const CivilDateTime c = DateTime(s).toCivilUTC();
        EXPECT_TRUE(c.month >= 1 && c.month <= 12) << s;
        EXPECT_FALSE(DateTime(s).description().empty());
    }
    const auto far =
        civil(std::numeric_limits<std::int64_t>::max(), std::numeric_limits<int>::max(),
              std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    EXPECT_TRUE(std::isfinite(DateTime::fromCivilUTC(far).timeIntervalSinceReferenceDate()));
    EXPECT_GT(DateTime::now().timeIntervalSinceReferenceDate(), 7e8);  // later than 2023
}

}  // namespace
}  // namespace qn
