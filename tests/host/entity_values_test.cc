// Field values by data type: JSON forms, held values, empty values, field
// specifier indexes and lower-cased dictionaries.
#include <qn/host.h>

#include <gtest/gtest.h>

namespace qn {
namespace {

class Field final : public QNEntityDataFieldInfo {
public:
    explicit Field(int type) : type_(type) {}
    int dataType() const noexcept override { return type_; }

private:
    int type_;
};

Value json(int type, const Value& v) {
    Field f(type);
    return QNEntityHelper::jsonFieldValueForFieldInfo(&f, v);
}
Value held(int type, const Value& v) {
    Field f(type);
    return QNEntityHelper::coreDataFieldValueForFieldInfo(&f, v);
}

TEST(FieldValuesTest, NumbersStayExact) {
    const Decimal big = Decimal::fromString("12345678901234567890.123456789012345678");
    EXPECT_EQ(json(QNEntityDataTypeNumeric, Value(big)).decimalValue(), big);
    EXPECT_EQ(held(QNEntityDataTypeNumeric, Value(u"12345678901234567890.123456789012345678"))
                  .decimalValue(),
              big);
    // A double through its shortest text, not its binary value.
    EXPECT_EQ(json(QNEntityDataTypeNumeric, Value(0.1)).decimalValue().toString(), u"0.1");
    EXPECT_TRUE(json(QNEntityDataTypeNumeric, Value(std::int64_t{1} << 62)).isInt());
    EXPECT_EQ(held(QNEntityDataTypeNumeric, Value(u"not a number")).integerValue(), 0);
    EXPECT_EQ(held(QNEntityDataTypeNumeric, Value::null()).integerValue(), 0);
    EXPECT_EQ(QNEntityHelper::jsonValueFromValueForDataType(Value(Decimal::fromString("-2.345")),
                                                            QNEntityDataTypeNumeric, 2)
                  .decimalValue()
                  .toString(),
              u"-2.35");
}

TEST(FieldValuesTest, DatesAtFixedWidthBothWays) {
    const DateTime when = DateTime::fromCivilUTC({2026, 3, 4, 5, 6, 7, 0});
    const DateTime day = DateTime::fromCivilUTC({2026, 3, 4, 0, 0, 0, 0});
    EXPECT_EQ(json(QNEntityDataTypeDateTime, Value(when)).asString(), u"2026-03-04T05:06:07");
    EXPECT_EQ(json(QNEntityDataTypeDate, Value(when)).asString(), u"2026-03-04");
    EXPECT_EQ(json(QNEntityDataTypeDate, Value(qnEmptyDate())).asString(), u"0000-00-00");
    EXPECT_EQ(json(QNEntityDataTypeDateTime, Value(qnEmptyDate())).asString(),
              u"0000-00-00T00:00:00");

    EXPECT_EQ(held(QNEntityDataTypeDateTime, Value(u"2026-03-04T05:06:07")).asDate(), when);
    EXPECT_EQ(held(QNEntityDataTypeDateTime, Value(u"2026-03-04 05:06:07.250Z")).asDate(), when)
        << "fraction digits are read past: the field holds what its JSON form writes";
    EXPECT_EQ(held(QNEntityDataTypeDate, Value(u"2026-03-04T05:06:07")).asDate(), day)
        << "a date keeps the day only";
    EXPECT_EQ(held(QNEntityDataTypeDate, Value(when)).asDate(), day);
    EXPECT_EQ(held(QNEntityDataTypeDate, Value(u"2024-02-29")).asDate(),
              DateTime::fromCivilUTC({2024, 2, 29, 0, 0, 0, 0}));
    for (StringView bad :
         {u"0000-00-00", u"0000-00-00T00:00:00", u"2026-02-29", u"2026-13-01", u"2026-04-31",
          u"2026-03-04X", u"2026-03-04T24:00:00", u"2026-3-4", u"2026-03-04T05:06",
          u"2026-03-04T05:06:07.", u"", u"2", u"abcd-ef-gh"}) {
        EXPECT_EQ(held(QNEntityDataTypeDateTime, Value(String(bad))).asDate(), qnEmptyDate())
            << toUtf8(bad);
    }
}

TEST(FieldValuesTest, TextBooleansAndGUIDs) {
    EXPECT_EQ(held(QNEntityDataTypeCharacter, Value(std::int64_t{42})).asString(), u"42");
    EXPECT_EQ(json(QNEntityDataTypeURI, Value(u"https://x")).asString(), u"https://x");
    EXPECT_EQ(held(QNEntityDataTypeLongText, Value::null()).asString(), u"");
    EXPECT_EQ(json(QNEntityDataTypeBoolean, Value(std::int64_t{2})), Value(true));
    EXPECT_EQ(held(QNEntityDataTypeBoolean, Value(u"false")), Value(false));

    const Value lower(u"0f8fad5b-d9cb-469f-a165-70867728950e");
    EXPECT_EQ(json(QNEntityDataTypeGUID, lower).asString(),
              u"0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_TRUE(held(QNEntityDataTypeGUID, lower).isUuid());
    EXPECT_TRUE(held(QNEntityDataTypeGUID, Value(u"nope")).asUuid().isEmpty());
    EXPECT_TRUE(json(QNEntityDataTypeCharacter, Value()).isNull());
}

class Lines final : public Object, public QNStructuredFieldValue {
public:
    explicit Lines(int count) : count_(count) {}
    Value structuredJSONValue() const override {
        auto array = makeRef<Array>();
        for (int i = 0; i < count_; ++i)
            array->append(Value(std::int64_t{i}));
        return Value(array);
    }
    bool isEmptyStructuredValue() const override { return count_ == 0; }

private:
    int count_;
};

TEST(FieldValuesTest, EmptyValuesPerTypeAndStructuredValues) {
    for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 14, 15}) {
        const Value empty = QNEntityHelper::emptyValueForDataType(type);
        EXPECT_FALSE(empty.isAbsentOrNull()) << type;
        EXPECT_TRUE(QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(empty, type, false))
            << type;
        // The empty value survives the JSON form and back.
        EXPECT_EQ(held(type, json(type, empty)), empty) << type;
    }
    EXPECT_TRUE(QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(
        Value(Decimal::fromString("0.000")), QNEntityDataTypeNumeric, false));
    EXPECT_FALSE(QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(
        Value(u"0001-01-02"), QNEntityDataTypeDate, false));
    EXPECT_FALSE(QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(Value(u" "), 1, false));

    const Value none(makeRef<Lines>(0));
    const Value two(makeRef<Lines>(2));
    EXPECT_TRUE(QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(none, 10, true));
    EXPECT_FALSE(QNEntityHelper::valueIsEmptyValueForDataTypeIsCollection(two, 10, true));
    EXPECT_EQ(json(QNEntityDataTypeStructured, two).asArray()->size(), 2u);
    EXPECT_EQ(QNEntityHelper::jsonFieldValueForFieldInfo(nullptr, two).asArray()->size(), 2u);
    EXPECT_TRUE(QNEntityHelper::emptyValueForDataType(QNEntityDataTypeStructured).isNull());
}

TEST(FieldValuesTest, SpecifierIndexesAndLowerCasedKeys) {
    EXPECT_EQ(QNEntityHelper::indexFromFieldSpecifier(u"item(3).Name"), 2);
    EXPECT_EQ(QNEntityHelper::indexFromFieldSpecifier(u"ITEM(1)"), 0);
    EXPECT_EQ(QNEntityHelper::indexFromFieldSpecifier(u"12"), 11);
    for (StringView bad :
         {u"0", u"item(0)", u"-1", u"x", u"", u"item()", u"item(2", u"99999999999999999999", u".1"})
        EXPECT_FALSE(QNEntityHelper::indexFromFieldSpecifier(bad)) << toUtf8(bad);

    Dictionary d{{u"Name", Value(u"first")}, {u"NAME", Value(u"second")}, {u"\u00d1o", Value(1)}};
    auto lowered = QNEntityHelper::dictionaryWithLowercaseKeys(d);
    EXPECT_EQ(lowered->size(), 2u);
    EXPECT_EQ(lowered->get(u"name").asString(), u"first");
    EXPECT_EQ(lowered->get(u"\u00f1o").integerValue(), 1);
}

}  // namespace
}  // namespace qn
