// Property tables of record classes: descriptors from the name mapping and
// the level metadata, look-ups and enumeration by mask, and the class cache.
#include <qn/core/registry.h>
#include <qn/data/enumeration.h>
#include <qn/data/sdt_properties.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace qn {
namespace {

std::shared_ptr<const QNStructureDataTypeItemInfo> item(String name, int type = 1,
                                                        String jsonName = {}) {
    QNStructureDataTypeItemInfo::Definition d;
    d.jsonName = jsonName.empty() ? name : jsonName;
    d.name = std::move(name);
    d.dataType = type;
    return std::make_shared<const QNStructureDataTypeItemInfo>(std::move(d));
}

std::shared_ptr<const QNStructureDataTypeLevelInfo> level(
    String name, std::vector<std::shared_ptr<const QNStructureDataTypeItemInfo>> items,
    std::vector<std::shared_ptr<const QNStructureDataTypeLevelInfo>> levels = {},
    String collectionItemName = {}) {
    QNStructureDataTypeLevelInfo::Definition d;
    d.jsonName = name;
    d.name = std::move(name);
    d.items = std::move(items);
    d.levels = std::move(levels);
    d.isCollection = !collectionItemName.empty();
    d.collectionItemName = std::move(collectionItemName);
    return std::make_shared<const QNStructureDataTypeLevelInfo>(std::move(d));
}

QNSDTPropertiesInfo::NameMapping mapping(std::initializer_list<const char16_t*> names) {
    QNSDTPropertiesInfo::NameMapping m;
    for (const char16_t* n : names)
        m.emplace_back(n, String(u"gxTv_") + n);
    return m;
}

std::vector<std::string> keys(const QNSDTPropertiesInfo& table, std::uint8_t mask) {
    std::vector<std::string> out;
    table.enumeratePropertiesWithFilterFlags(
        mask, [&](const String& key, const QNSDTPropertyInfo&) { out.push_back(toUtf8(key)); });
    return out;
}

TEST(SDTPropertiesTest, DescriptorsFromMappingAndLevel) {
    auto lvl = level(u"Customer", {item(u"Name", 1, u"name"), item(u"Photo", 8)},
                     {level(u"Lines", {item(u"Amount", 0)}, {}, u"Line")});
    const QNSDTPropertiesInfo table(
        mapping({u"Mode", u"Name", u"Name_N", u"Extra", u"Lines", u"Initialized", u"Name_N_Z",
                 u"Photo_QNI", u"Ghost_N", u"Photo"}),
        lvl, nullptr);
    ASSERT_EQ(table.size(), 10u);
    // Declaration order, whatever order the table was built in.
    EXPECT_EQ(keys(table, kQNSDTMaskAll),
              (std::vector<std::string>{"mode", "name", "name_n", "extra", "lines", "initialized",
                                        "name_n_z", "photo_qni", "ghost_n", "photo"}));

    const auto* name = table.propertyInfoForShortName(u"NAME");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->type(), QNSDTPropertyTypeItem);
    EXPECT_EQ(name->propertyFullName(), u"gxTv_Name");
    EXPECT_EQ(name->propertyJsonName(), u"name");

    const auto* flag = table.propertyInfoForShortName(u"name_n");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(flag->type(), QNSDTPropertyTypeItemN);
    EXPECT_EQ(flag->propertyJsonName(), u"name") << "companions carry their item's JSON name";
    EXPECT_EQ(flag->entityDataFieldInfo()->dataType(), QNEntityDataTypeBoolean);
    // A companion of a companion belongs to the same item.
    const auto* old = table.propertyInfoForShortName(u"Name_N_Z");
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->type(), QNSDTPropertyTypeItemZ);
    EXPECT_EQ(static_cast<const QNSDTPropertyInfo*>(
                  &static_cast<const QNSDTPropertyInfoWithReferenceBase*>(old)->itemPropInfo()),
              name);
    EXPECT_EQ(table.propertyInfoForShortName(u"photo_qni")->entityDataFieldInfo()->dataType(),
              QNEntityDataTypeURI);
    EXPECT_EQ(table.propertyInfoForShortName(u"lines")->type(), QNSDTPropertyTypeLevel);
    EXPECT_EQ(table.propertyInfoForShortName(u"mode")->entityDataFieldInfo()->length(), 3);
    EXPECT_EQ(table.propertyInfoForShortName(u"extra")->type(), QNSDTPropertyTypeUnknown);
    EXPECT_EQ(table.propertyInfoForShortName(u"missing"), nullptr);
}

TEST(SDTPropertiesTest, MasksForLookupAndEnumerationDiffer) {
    auto lvl = level(u"R", {item(u"Name"), item(u"Photo", 8)});
    const QNSDTPropertiesInfo table(mapping({u"Mode", u"Name", u"Name_N", u"Photo_QNI", u"Extra",
                                             u"Old_Z", u"Name_Z", u"Photo"}),
                                    lvl, nullptr);
    // 219 leaves out 32 for a look-up, but enumerates everything.
    EXPECT_EQ(table.propertyInfoForShortName(u"Photo_QNI", kQNSDTMaskAll), nullptr);
    EXPECT_EQ(keys(table, kQNSDTMaskAll).size(), 8u);
    // JSON's mask: no state, no old values; unknown names judged by their
    // suffix ("Old_Z" reads as an old value, so it is left out).
    EXPECT_EQ(keys(table, kQNSDTMaskSerializable),
              (std::vector<std::string>{"name", "name_n", "photo_qni", "extra", "photo"}));
    EXPECT_EQ(keys(table, kQNSDTMaskXML),
              (std::vector<std::string>{"name", "name_n", "photo_qni", "extra", "old_z", "name_z",
                                        "photo"}));
    EXPECT_EQ(keys(table, kQNSDTMaskItemsAndLevels), (std::vector<std::string>{"name", "photo"}));
    EXPECT_NE(table.propertyInfoForShortName(u"Old_Z", QNSDTPropertyTypeUnknown, false), nullptr);
    EXPECT_EQ(table.propertyInfoForShortName(u"Old_Z", QNSDTPropertyTypeUnknown, true), nullptr);
}

TEST(SDTPropertiesTest, UnknownNullFlagNeedsADeclaredBooleanProperty) {
    ClassDefinition withFlag("PropsTestWithFlag", "", nullptr);
    withFlag.property("gxTv_Other_N", 'B');
    withFlag.property("gxTv_Count_N", 'q');
    const ClassInfo* cls = ClassRegistry::registerClass(std::move(withFlag));
    const QNSDTPropertiesInfo table(mapping({u"Other_N", u"Count_N"}), nullptr, cls);
    const auto* other =
        static_cast<const QNSDTPropertyInfoUnknown*>(table.propertyInfoForShortName(u"other_n"));
    const auto* count =
        static_cast<const QNSDTPropertyInfoUnknown*>(table.propertyInfoForShortName(u"count_n"));
    ASSERT_NE(other, nullptr);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(other->typeFromName(), QNSDTPropertyTypeItemN);
    EXPECT_EQ(count->typeFromName(), QNSDTPropertyTypeUnknown);
    const QNSDTPropertiesInfo noClass(mapping({u"Other_N"}), nullptr, nullptr);
    EXPECT_EQ(
        static_cast<const QNSDTPropertyInfoUnknown*>(noClass.propertyInfoForShortName(u"Other_N"))
            ->typeFromName(),
        QNSDTPropertyTypeUnknown);
}

TEST(SDTPropertiesTest, ClassCacheFindsTheLevelOfThePathConcurrently) {
    auto line = level(u"Lines", {item(u"Amount", 0)}, {}, u"Line");
    auto root = level(u"Customer", {item(u"Name")}, {line});
    QNStructureDataTypeInfo::installSDTInfo(
        std::make_shared<const QNStructureDataTypeInfo>(u"Shop.Customer", root));

    const std::vector<String> path = {u"Shop_Customer", u"Line"};
    const auto m = mapping({u"Amount", u"Name"});
    std::vector<std::shared_ptr<const QNSDTPropertiesInfo>> seen(6);
    test::onThreads(6, [&](int i) {
        seen[i] = QNSDTPropertiesInfo::propertiesInfoForClass("PropsTestShopLine", path, m);
    });
    for (const auto& table : seen)
        EXPECT_EQ(table, seen.front()) << "one table per class";
    ASSERT_NE(seen.front()->levelInfo(), nullptr);
    EXPECT_EQ(seen.front()->levelInfo()->name(), u"Lines");
    EXPECT_EQ(seen.front()->propertyInfoForShortName(u"Amount")->type(), QNSDTPropertyTypeItem);
    EXPECT_EQ(seen.front()->propertyInfoForShortName(u"Name")->type(), QNSDTPropertyTypeUnknown);

    auto top = QNSDTPropertiesInfo::propertiesInfoForClass("PropsTestShop", {u"Shop_Customer"}, m);
    EXPECT_EQ(top->propertyInfoForShortName(u"Name")->type(), QNSDTPropertyTypeItem);
    auto none = QNSDTPropertiesInfo::propertiesInfoForClass("PropsTestNone", {}, m);
    EXPECT_EQ(none->levelInfo(), nullptr);
    QNStructureDataTypeInfo::removeInstalledSDTInfos();
}

TEST(SDTPropertiesTest, NamesBeyondASCIIAreFoundInAnyCase) {
    const QNSDTPropertiesInfo table(mapping({u"\u00d1and\u00da", u"Plain"}), nullptr, nullptr);
    EXPECT_NE(table.propertyInfoForShortName(u"\u00f1AND\u00fa"), nullptr);
    EXPECT_NE(table.propertyInfoForShortName(u"PLAIN"), nullptr);
    EXPECT_EQ(table.propertyInfoForShortName(u"\u00f1and"), nullptr);
}

TEST(EnumerationTest, DescriptionsByValueInDeclarationOrder) {
    QNEnumeration status({{Value(std::int64_t{2}), u"Closed"}, {Value(std::int64_t{1}), u"Open"}});
    status.addValueDescription(Value(u"X"), u"Unknown");
    status.addValueDescription(Value(2.0), u"Shut");
    EXPECT_EQ(status.getDescriptionKey(Value(Decimal::fromString("2"))), u"Shut");
    EXPECT_EQ(status.getDescriptionKey(Value(u"X")), u"Unknown");
    EXPECT_EQ(status.getDescriptionKey(Value(u"1")), u"") << "text is not the number";
    auto values = status.getValues();
    ASSERT_EQ(values->count(), 3u);
    EXPECT_EQ(values->objectAtIndex(1).integerValue(), 2);
    EXPECT_EQ(values->objectAtIndex(3).asString(), u"X");
    EXPECT_FALSE(values->itemsTypeName());
}

}  // namespace
}  // namespace qn
