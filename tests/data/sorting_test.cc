// Sorting structured collections by members lists.
#include <qn/data.h>
#include <qn/host/sdt_sorting.h>

#include <gtest/gtest.h>

#include <generated/sdt_customer.h>

#include "support/test_support.h"

using namespace qn;
using travelagency::SdtCustomer_Line;

namespace {

class SortingTest : public ::testing::Test {
protected:
    test::ScopedBundle bundle_{QN_SAMPLE_BUNDLE_DIR};
};

Ref<SdtCustomer_Line> line(std::int64_t id, StringView product, StringView amount) {
    auto l = makeRef<SdtCustomer_Line>();
    l->setLineId(id);
    l->setProduct(String(product));
    l->setAmount(Decimal::fromString(amount));
    return l;
}

std::vector<std::int64_t> ids(const QNObjectCollection& lines) {
    std::vector<std::int64_t> out;
    for (const Value& item : lines.items())
        out.push_back(item.as<SdtCustomer_Line>()->lineId());
    return out;
}

TEST_F(SortingTest, MembersListsAscendingDescendingAndBlanks) {
    const auto members = QNSDTDataCollectionSorter::parseMembersList(u" a , (b) ,, ( c ) ,");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, u"a");
    EXPECT_FALSE(members[0].descending);
    EXPECT_EQ(members[1].name, u"b");
    EXPECT_TRUE(members[1].descending);
    EXPECT_EQ(members[2].name, u"c");
    EXPECT_TRUE(members[2].descending);
    EXPECT_TRUE(QNSDTDataCollectionSorter::parseMembersList(u" , ").empty());
}

TEST_F(SortingTest, KindsOrderAndValuesCompareAsGeneratedCodeCompares) {
    using S = QNSDTDataCollectionSorter;
    // Absent and null first, then numbers, strings, dates, anything else.
    const Value ordered[] = {Value(),
                             Value(-5),
                             Value(Decimal::fromString(u"2.5")),
                             Value(3.0),
                             Value(u"B"),
                             Value(u"a"),
                             Value(DateTime::fromTimeIntervalSince1970(0)),
                             Value(makeRef<Array>())};
    for (std::size_t i = 0; i + 1 < std::size(ordered); ++i)
        EXPECT_TRUE(S::compareSortValues(ordered[i], ordered[i + 1]) < 0) << i;
    EXPECT_TRUE(S::compareSortValues(Value(), Value::null()) == 0);
    EXPECT_TRUE(S::compareSortValues(Value(2), Value(Decimal::fromString(u"2.0"))) == 0);

    // Canonically equivalent texts are equal, so the sort keeps their order.
    std::vector<Value> items{Value(u"e\u0301"), Value(u"d"), Value(u"\u00e9"), Value(u"f")};
    S::sortCollectionItems(items, u"x", [](const Value& item, StringView) { return item; });
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].asString(), u"d");
    EXPECT_EQ(items[1].asString(), u"e\u0301");
    EXPECT_EQ(items[2].asString(), u"\u00e9");
    EXPECT_EQ(items[3].asString(), u"f");
}

TEST_F(SortingTest, RecordsSortByTheirPropertiesStablyAndDescending) {
    QNObjectCollection lines(std::optional<String>(u"Customer.Line"));
    lines.addItem(Value(line(1, u"Tent", u"10")));
    lines.addItem(Value(line(2, u"Stove", u"5")));
    lines.addItem(Value(line(3, u"Tent", u"30")));
    lines.addItem(Value(line(4, u"Stove", u"5")));
    lines.addItem(Value(line(5, u"Axe", u"1")));
    const auto date = lines.sdtLastModifiedDate();
    lines.sort(u"PRODUCT, (Amount)");
    EXPECT_EQ(ids(lines), (std::vector<std::int64_t>{5, 2, 4, 3, 1}));
    EXPECT_EQ(lines.sdtLastModifiedDate(), date) << "sorting is no modification";
    lines.sdtDataCollectionSortWithMembersListString(u"(lineid)");
    EXPECT_EQ(ids(lines), (std::vector<std::int64_t>{5, 4, 3, 2, 1}));
    lines.sort(u"nosuchmember");
    EXPECT_EQ(ids(lines), (std::vector<std::int64_t>{5, 4, 3, 2, 1})) << "no values: stable";

    // Without a type name, or one naming no class, nothing moves.
    auto plain = QNObjectCollection::initWithArray({Value(3), Value(1), Value(2)});
    plain->sort(u"x");
    EXPECT_EQ(toUtf8(plain->toJSONString()), "[3,1,2]");
}

TEST_F(SortingTest, AHundredThousandRecordsByTwoMembers) {
    QNObjectCollection lines(std::optional<String>(u"Customer.Line"));
    const char16_t* products[] = {u"Tent", u"Stove", u"Axe", u"Lamp", u"Rope"};
    std::uint32_t seed = 12345;
    for (std::int64_t i = 0; i < 100000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const std::string amount = std::to_string((seed >> 8) % 50);
        lines.addItem(Value(line(i, products[(seed >> 20) % 5], fromUtf8(amount))));
    }
    lines.sort(u"product, (amount)");
    const auto& items = lines.items();
    ASSERT_EQ(items.size(), 100000u);
    for (std::size_t i = 1; i < items.size(); ++i) {
        const auto& a = *items[i - 1].as<SdtCustomer_Line>();
        const auto& b = *items[i].as<SdtCustomer_Line>();
        ASSERT_LE(a.product(), b.product()) << i;
        if (a.product() != b.product()) continue;
        ASSERT_GE(a.amount(), b.amount()) << i;
        if (a.amount() == b.amount()) {
            ASSERT_LT(a.lineId(), b.lineId()) << "stable at " << i;
        }
    }
}

}  // namespace
