// Collections' JSON forms, typed loading and item replacement.
#include <qn/data.h>
#include <qn/files/file.h>
#include <qn/host/errors.h>

#include <gtest/gtest.h>

#include <generated/sdt_customer.h>
#include "support/test_support.h"

using namespace qn;
using travelagency::SdtCustomer;

namespace {

class CollectionJSONTest : public ::testing::Test {
protected:
    void SetUp() override { QNThreadErrorHandler::errorHandler().clear(); }
    test::ScopedBundle bundle_{QN_SAMPLE_BUNDLE_DIR};
};

String onlyMessage(const QNObjectCollection& messages) {
    EXPECT_EQ(messages.count(), 1u);
    auto message = messages.count() ? messages.items()[0].as<QNSDTMessage>() : nullptr;
    return message ? message->messageDescription() : String(u"<no message>");
}

TEST_F(CollectionJSONTest, ListsMapsAndPropertiesAreWrittenAsJSON) {
    auto list = QNObjectCollection::init();
    list->addItem(Value(makeRef<Array>(Array{Value(1), Value(u"x")})));
    list->addItem(Value(makeRef<Dictionary>(Dictionary{{u"a", Value(1)}})));
    auto props = QNProperties::init();
    props->set(u"k", u"v");
    list->addItem(Value(props));
    list->addItem(Value::null());
    list->addItem(Value(Decimal::fromString(u"0.25")));
    EXPECT_EQ(toUtf8(list->toJSONString()), R"([[1,"x"],{"a":1},{"k":"v"},null,0.25])");
    EXPECT_EQ(list->toJSONString(true), list->toJSONString(false, false));

    QNPropertiesCollection typed;
    typed.addItem(Value(props));
    EXPECT_EQ(toUtf8(typed.toJSONString()), R"([{"k":"v"}])");
}

TEST_F(CollectionJSONTest, UntypedLoadingKeepsValuesAndTheDate) {
    auto list = QNObjectCollection::init();
    EXPECT_TRUE(list->fromJSONString(u"[null,1,\"x\",[2]]"));
    EXPECT_EQ(toUtf8(list->toJSONString()), R"([null,1,"x",[2]])");
    EXPECT_FALSE(list->sdtLastModifiedDate()) << "bulk loading is no modification";
    EXPECT_TRUE(list->sdtDataFromJson(Value(7))) << "neither text nor a file: nothing to do";

    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(list->fromJSONString(u"{\"a\":1}", messages.get()));
    EXPECT_EQ(list->count(), 0u);
    EXPECT_EQ(onlyMessage(*messages), u"Parsed JSON is not an array");
    EXPECT_FALSE(list->fromJSONString(u"[1,"));
    EXPECT_EQ(QNThreadErrorHandler::errorHandler().errors().size(), 1u);
}

TEST_F(CollectionJSONTest, TypedLoadingMakesRecordsAndReportsWhatItCannotLoad) {
    QNObjectCollection customers(std::optional<String>(u"Customer"));
    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(
        customers.fromJSONString(u"[{\"CustomerId\":1,\"name\":\"A\",\"Lines\":[{\"LineId\":3}]},"
                                 u"\"oops\",{\"CustomerId\":2}]",
                                 messages.get()));
    ASSERT_EQ(customers.count(), 3u) << "every element keeps its place";
    EXPECT_EQ(onlyMessage(*messages), u"Element 2: Invalid format, expected a Dictionary");
    auto first = customers.items()[0].as<SdtCustomer>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->customerName(), u"A");
    EXPECT_EQ(first->lines()->valueForFieldSpecifier(u"1.LineId").integerValue(), 3);
    EXPECT_EQ(customers.valueForFieldSpecifier(u"item(3).CustomerId").integerValue(), 2);

    // Written back with JSON names and loaded again: the same records.
    QNObjectCollection again(std::optional<String>(u"Customer"));
    EXPECT_TRUE(again.fromJSONString(customers.sdtDataToJson()));
    EXPECT_TRUE(again.isEqual(Value(customers.clone())));
    EXPECT_EQ(again.hash(), customers.hash());

    QNObjectCollection unknown(std::optional<String>(u"NoSuchType"));
    EXPECT_FALSE(unknown.fromJSONString(u"[{}]", messages.get())) << "no class, nothing loaded";
    EXPECT_TRUE(unknown.fromJSONString(u"[]"));
}

TEST_F(CollectionJSONTest, FilesThatCannotBeReadLeaveTheCollectionAlone) {
    test::TempDir dir;
    auto list = QNObjectCollection::initWithArray({Value(1), Value(2)});
    QNFile missing(fromUtf8((dir.path() / "none.json").string()));
    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(list->fromJSONFile(missing, messages.get()));
    EXPECT_EQ(list->count(), 2u);
    EXPECT_EQ(messages->count(), 1u);
    EXPECT_FALSE(list->sdtDataFromJson(Value(makeRef<QNFile>(missing.source()))));
    EXPECT_EQ(list->count(), 2u);

    QNFile file(fromUtf8(dir.write("l.json", "[\"a\"]").string()));
    EXPECT_TRUE(list->fromJSonFile(file));
    EXPECT_EQ(toUtf8(list->toJSONString()), R"(["a"])");
}

TEST_F(CollectionJSONTest, ReplacingItemsKeepsKindsAndAcceptsAnyNumber) {
    auto list = QNObjectCollection::initWithArray({Value(1), Value(u"s"), Value::null()});
    list->setValueForItemAtIndexFieldSpecifier(Value(Decimal::fromString(u"2.5")), 0, u"");
    EXPECT_EQ(list->items()[0].decimalValue(), Decimal::fromString(u"2.5"));
    list->setValueForItemAtIndexFieldSpecifier(Value(3), 1, u"");
    EXPECT_EQ(list->items()[1].asString(), u"s") << "a number does not replace a string";
    list->setValueForItemAtIndexFieldSpecifier(Value(u"now set"), 2, u"");
    EXPECT_EQ(list->items()[2].asString(), u"now set") << "a null item takes a value";
    list->setValueForItemAtIndexFieldSpecifier(Value::null(), 1, u"");
    EXPECT_TRUE(list->items()[1].isNull());
    list->setValueForFieldSpecifier(Value(u"again"), u"item(2)");
    EXPECT_EQ(list->items()[1].asString(), u"again");

    // A record item takes a record, or another structured value converted to
    // the item class; the null marker blanks it.
    QNObjectCollection customers(std::optional<String>(u"Customer"));
    customers.fromJSONString(u"[{\"CustomerId\":1}]");
    auto other = QNObjectCollection::init();
    other->fromJSONString(u"[5]");
    customers.setValueForItemAtIndexFieldSpecifier(Value::null(), 0, u"");
    EXPECT_EQ(customers.valueForFieldSpecifier(u"1.CustomerId").integerValue(), 0);
    auto replacement = makeRef<SdtCustomer>();
    replacement->setCustomerId(9);
    customers.setValueForFieldSpecifier(Value(replacement), u"1");
    EXPECT_EQ(customers.items()[0].as<SdtCustomer>(), replacement);
}

TEST_F(CollectionJSONTest, TypedConstructionAndConversions) {
    auto customers = QNObjectCollection::typeNameItems(
        u"Customer", {Value(makeRef<Dictionary>(Dictionary{{u"CustomerId", Value(5)}}))});
    EXPECT_EQ(customers->valueForFieldSpecifier(u"1.CustomerId").integerValue(), 5);
    auto plain = QNObjectCollection::typeNameItems(std::nullopt, {Value(1)});
    EXPECT_EQ(plain->count(), 1u);

    // Library messages stand in for an SDT the application does not have.
    auto messages = QNSDTDataHelper::tryConvertSDTDataToWellKnownTypeWithName(
        *QNJSON::parse(std::string_view(R"([{"Id":"a","Type":1,"Description":"d"}])")),
        u"Norvale.Common.Messages");
    auto list = messages.as<QNObjectCollection>();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 1u);
    EXPECT_EQ(list->items()[0].as<QNSDTMessage>()->messageDescription(), u"d");
    EXPECT_TRUE(
        QNSDTDataHelper::tryConvertSDTDataToWellKnownTypeWithName(Value(1), u"Other").isAbsent());

    const Value record = QNSDTDataHelper::sdtDataWithTypeNameValue(
        u"Customer", Value(makeRef<Dictionary>(Dictionary{{u"name", Value(u"Z")}})));
    ASSERT_NE(record.as<SdtCustomer>(), nullptr);
    EXPECT_EQ(record.as<SdtCustomer>()->customerName(), u"Z");
    EXPECT_EQ(QNSDTDataHelper::typeNameFromSDTName(u"Customer.Line"), u"SdtCustomer_Line");
}

}  // namespace

namespace {

TEST(GeneratedPropertyNames, SwiftStyleTitlesWordsAndReplacesDots) {
    using C = QNObjectCollection;
    EXPECT_EQ(C::generatedPropertyNameForPropertyName(u"Module.Customer.Name", true),
              u"Module_Customer_Name");
    EXPECT_EQ(C::generatedPropertyNameForPropertyName(u"Module.Customer.Name", false),
              u"Module.Customer.Name");
    EXPECT_EQ(C::generatedPropertyNameWithPropertyPrefixFieldName(u"gxTv_", u"cUSTOMER name", true),
              u"gxTv_Customer Name");
    // A dot between letters does not break a word.
    EXPECT_EQ(C::generatedPropertyNameWithPropertyPrefixFieldName(u"p.", u"line.item", true),
              u"p_Line_item");
    EXPECT_EQ(C::generatedPropertyNameWithPropertyPrefixFieldName(u"p.", u"\u00e9t\u00c9", true),
              u"p_\u00c9t\u00e9");
    EXPECT_EQ(C::generatedPropertyNameWithPropertyPrefixFieldName(u"p.", u"lineItem", false),
              u"p.lineItem");
}

}  // namespace
