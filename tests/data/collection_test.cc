#include <qn/collections/collection.h>
#include <qn/core/containers.h>
#include <qn/host.h>

#include "support/test_support.h"

namespace qn {

// A generated record class as the collections see one.
class SdtTrip : public Object {
    QN_OBJECT(SdtTrip)
public:
    String description() const override { return u"trip"; }
};
QN_REGISTER_CLASS(SdtTrip, Object)

class module_SdtCustomer_Item : public Object {
    QN_OBJECT(module_SdtCustomer_Item)
};
QN_REGISTER_CLASS(module_SdtCustomer_Item, Object)

namespace {

using test::ScopedFatalErrorPolicy;

TEST(ObjectCollectionTest, PositionsAreOneBasedAndOnlyChangesMarkModified) {
    QNObjectCollection c;
    c.clear();
    EXPECT_FALSE(c.sdtLastModifiedDate()) << "clearing an empty collection changes nothing";

    c.addItem(Value(u"b"));
    c.addItemAtIndex(Value(u"a"), 1);  // front
    c.addItemAtIndex(Value(3), 0);     // appends
    c.addItemAtIndex(Value(), 4);      // count + 1 appends; absent is stored as null
    ASSERT_EQ(c.count(), 4u);
    EXPECT_EQ(c.stringAtIndex(1), u"a");
    EXPECT_EQ(c.stringAtIndex(2), u"b");
    EXPECT_EQ(c.int64ElementAt(3), 3);
    EXPECT_TRUE(c.objectAtIndex(4).isNull());
    EXPECT_EQ(c.indexOf(Value(u"b")), 2);
    EXPECT_EQ(c.indexOf(Value(u"zz")), 0);
    EXPECT_TRUE(c.valueForItemAtIndex(4).isAbsent()) << "0-based, past the end";

    const auto stamp = c.sdtLastModifiedDate();
    ASSERT_TRUE(stamp);
    for (std::int64_t p : {0, 5, -1})
        EXPECT_FALSE(c.removeElement(p)) << p;
    c.removeItemAtIndex(~std::uint64_t{0});
    EXPECT_EQ(c.count(), 4u);
    EXPECT_EQ(c.sdtLastModifiedDate(), stamp) << "failed removals leave the date alone";
    c.removeItemAtIndex(1);
    EXPECT_EQ(c.stringAtIndex(1), u"b");

    auto snapshot = c.objectEnumerator();
    c.removeAllItems();
    EXPECT_EQ(snapshot.size(), 3u) << "enumeration works on a snapshot";
    EXPECT_EQ(c.size(), 0);
}

TEST(ObjectCollectionTest, OutOfRangeGoesToTheFatalErrorHook) {
    QNObjectCollection strings;
    strings.addItem(Value(u"x"));
    try {
        (void)strings.objectAtIndex(2);
        ADD_FAILURE() << "the raise policy throws";
    } catch (const FatalError& e) {
        EXPECT_NE(
            toUtf8(String(e.reason())).find("Collection.Item() argument was out of range (2)."),
            std::string::npos);
    }

    ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
    test::ScopedCapturingLogger log;
    EXPECT_TRUE(strings.objectAtIndex(0).isAbsent()) << "no item class: nothing to recover with";
    QNObjectCollection trips(String(u"Trip"));
    const Value blank = trips.objectAtIndex(7);
    ASSERT_TRUE(blank.isObject());
    EXPECT_EQ(blank.asObject()->className(), u"SdtTrip") << "found through the SDT name";
    EXPECT_EQ(trips.count(), 0u) << "the blank item is not added";
    trips.addItemAtIndex(Value(1), 9);
    EXPECT_EQ(trips.count(), 0u) << "an insertion past count + 1 is refused";

    trips.addItem(Value(u"seven"));
    EXPECT_EQ(trips.intElementAt(1), 0) << "not a number: reported, reads 0";
    trips.addItem(Value(Decimal::fromString("2.75")));
    EXPECT_EQ(trips.decimalElementAt(2), Decimal::fromString("2.75"));
    EXPECT_EQ(trips.intElementAt(2), 2);

    // Int is 64 bits; a position out of range is one report, not two.
    trips.addItem(Value(std::int64_t{3000000000}));
    EXPECT_EQ(trips.intElementAt(3), 3000000000);
    log->clear();
    EXPECT_EQ(trips.intElementAt(9), 0);
    ASSERT_EQ(log->lines().size(), 1u);
    EXPECT_TRUE(log->contains(u"Collection.Item() argument was out of range (9)."));
}

// The text is carried, never read: not even invalid JSON is touched, and the
// class is found by the name generated code uses.
TEST(JSONArrayTest, CarriesItsTextUnreadAndIsFoundByName) {
    const ClassInfo* info = ClassRegistry::classNamed(std::string_view("QNJSONArray"));
    ASSERT_NE(info, nullptr);
    auto array = std::dynamic_pointer_cast<QNJSONArray>(info->create());
    ASSERT_TRUE(array);
    EXPECT_EQ(array->toJSONString(), u"");
    const String odd = u"[1, \"caf\u00e9\", {\"open\": ";
    array->fromJSONString(odd);
    EXPECT_EQ(array->toJson(), odd);
    EXPECT_EQ(QNJSONArray(u"[ 1 ,2 ]").jsonStr(), u"[ 1 ,2 ]");
}

TEST(ObjectCollectionTest, ItemClassesNestedArraysAndText) {
    EXPECT_EQ(QNObjectCollection(String(u"Module.Customer.Item")).collectionItemsClass(),
              ClassRegistry::classNamed(std::string_view("module_SdtCustomer_Item")));
    EXPECT_EQ(QNObjectCollection(String(u"SdtTrip")).collectionItemsClass()->name(), "SdtTrip");
    EXPECT_EQ(QNObjectCollection(String(u"Nothing")).collectionItemsClass(), nullptr);

    auto inner = makeRef<Array>(std::initializer_list<Value>{Value(1), Value(2)});
    const QNObjectCollection c(std::vector<Value>{Value(u"a"), Value(inner), Value()});
    ASSERT_EQ(c.count(), 3u);
    auto nested = c.objectAtIndex(2).as<QNObjectCollection>();
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->int64ElementAt(2), 2);
    EXPECT_TRUE(c.objectAtIndex(3).isNull());
    EXPECT_FALSE(c.sdtLastModifiedDate()) << "building from a list is not a change";
    EXPECT_EQ(c.description(),
              u"<<QNObjectCollection>\n\titems: (a, " + nested->description() + u", <null>)>");
}

// A collection SDT without a class of its own stands for the type of its
// items; metadata that leads on and on still gives a name.
TEST(ObjectCollectionTest, ItemClassOfACollectionSDTFromItsMetadata) {
    ClassRegistry::registerClass(ClassDefinition("SdtShopOrders_Order", "", nullptr));
    const auto collectionOf = [](String name, String itemName) {
        QNStructureDataTypeLevelInfo::Definition d;
        d.name = name;
        d.isCollection = true;
        d.collectionItemName = std::move(itemName);
        return std::make_shared<const QNStructureDataTypeInfo>(
            std::move(name), std::make_shared<const QNStructureDataTypeLevelInfo>(std::move(d)));
    };
    QNStructureDataTypeInfo::installSDTInfo(collectionOf(u"ShopOrders", u"Order"));
    const ClassInfo* itemClass = QNObjectCollection(String(u"ShopOrders")).collectionItemsClass();
    ASSERT_NE(itemClass, nullptr);
    EXPECT_EQ(itemClass->name(), "SdtShopOrders_Order");

    String name = u"Loop";
    for (int i = 0; i < 40; ++i) {
        QNStructureDataTypeInfo::installSDTInfo(collectionOf(name, u"Loop"));
        name += u".Loop";
    }
    EXPECT_EQ(QNObjectCollection(String(u"Loop")).collectionItemsClass(), nullptr);
    QNStructureDataTypeInfo::removeInstalledSDTInfos();
}

TEST(StringCollectionTest, SemicolonTextForm) {
    auto c = QNStringCollection::stringCollectionFromString(u"a;;b");
    ASSERT_EQ(c->count(), 3u);
    EXPECT_EQ(c->item(2), u"");
    EXPECT_EQ(c->getString(), u"a;;b");
    EXPECT_EQ(QNStringCollection::stringCollectionFromString(u"")->count(), 1u);
    c->addItem(Value(42));
    EXPECT_TRUE(c->objectAtIndex(4).isString()) << "other values are kept as their text";
    EXPECT_EQ(c->getString(), u"a;;b;42");
}

}  // namespace
}  // namespace qn
