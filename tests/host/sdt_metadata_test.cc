#include <qn/core/json.h>
#include <qn/host.h>

#include <latch>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qn {
namespace {

using test::ScopedBundle;
using test::TempDir;
using SDTs = std::vector<std::shared_ptr<const QNStructureDataTypeInfo>>;

// SDTs installed in memory are process-wide: every test starts and ends
// without any.
class SDTMetadataTest : public ::testing::Test {
protected:
    void SetUp() override { QNStructureDataTypeInfo::removeInstalledSDTInfos(); }
    void TearDown() override { QNStructureDataTypeInfo::removeInstalledSDTInfos(); }
};

SDTs sdtsFromJSON(std::string_view json) {
    auto value = QNJSON::parse(json);
    EXPECT_TRUE(value) << json;
    return QNStructureDataTypeInfo::sdtInfosFromJSONValue(value ? *value : Value());
}

template <class Infos>
std::vector<String> namesOf(const Infos& infos) {
    std::vector<String> out;
    for (const auto& info : infos)
        out.push_back(info->name());
    return out;
}

std::shared_ptr<const QNStructureDataTypeInfo> sdtNamed(String name,
                                                        std::vector<String> itemNames) {
    QNStructureDataTypeLevelInfo::Definition level;
    level.name = name;
    level.jsonName = name;
    for (auto& itemName : itemNames) {
        QNStructureDataTypeItemInfo::Definition item;
        item.name = itemName;
        item.jsonName = std::move(itemName);
        level.items.push_back(std::make_shared<const QNStructureDataTypeItemInfo>(std::move(item)));
    }
    auto root = std::make_shared<const QNStructureDataTypeLevelInfo>(std::move(level));
    return std::make_shared<const QNStructureDataTypeInfo>(std::move(name), std::move(root));
}

TEST_F(SDTMetadataTest, SampleBundleMetadataReadsBackWhole) {
    ScopedBundle bundle(QN_SAMPLE_BUNDLE_DIR);
    auto model = QNApplicationModel::currentModel();
    EXPECT_EQ(model->appName(), u"TravelAgency") << "the rest of the model is still read";
    ASSERT_EQ(namesOf(model->sdts()), (std::vector<String>{u"Customer", u"Flight", u"CustomerNames",
                                                           u"Trip", u"CustomerProfile"}));

    auto customer = QNStructureDataTypeInfo::sdtInfoForName(u"cUSTOMER");
    ASSERT_TRUE(customer);
    EXPECT_EQ(customer, model->sdts()[0]) << "one info object per model";
    EXPECT_FALSE(customer->isCollection());
    const auto& root = *customer->rootLevel();
    EXPECT_EQ(root.jsonName(), u"Customer");

    struct Expected {
        const char16_t* name;
        const char16_t* jsonName;
        int type;
        std::int64_t length;
        std::int64_t decimals;
    };
    const std::vector<Expected> expected = {
        {u"CustomerId", u"CustomerId", QNEntityDataTypeNumeric, 9, 0},
        {u"CustomerName", u"name", QNEntityDataTypeCharacter, 40, 0},
        {u"CustomerGuid", u"CustomerGuid", QNEntityDataTypeGUID, 0, 0},
        {u"CustomerSince", u"CustomerSince", QNEntityDataTypeDateTime, 0, 0},
        {u"CustomerBalance", u"CustomerBalance", QNEntityDataTypeNumeric, 38, 10},
        {u"CustomerActive", u"CustomerActive", QNEntityDataTypeBoolean, 0, 0},
        {u"CustomerPhoto", u"CustomerPhoto", QNEntityDataTypeImage, 0, 0},
    };
    ASSERT_EQ(root.items().size(), expected.size());
    EXPECT_EQ(root.itemsByName().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& item = root.items()[i];
        SCOPED_TRACE(toUtf8(expected[i].name));
        EXPECT_EQ(item->name(), expected[i].name) << "file order";
        EXPECT_EQ(item->jsonName(), expected[i].jsonName);
        EXPECT_EQ(item->dataType(), expected[i].type);
        EXPECT_EQ(item->length(), expected[i].length);
        EXPECT_EQ(item->decimals(), expected[i].decimals);
        EXPECT_TRUE(item->jsonSerializeWhenEmpty()) << "written when empty unless told";
        EXPECT_FALSE(item->isCollection() || item->basedOnName() || item->inputPicture());
    }
    // The maps are keyed by the lower-cased name, and any case finds an entry.
    EXPECT_EQ(root.itemsByName().at(u"customerbalance"), root.items()[4]);
    EXPECT_EQ(root.itemForName(u"CUSTOMERBALANCE"), root.items()[4]);
    EXPECT_EQ(root.itemForName(u"name"), nullptr) << "the JSON name is not a look-up name";

    ASSERT_EQ(root.levels().size(), 1u);
    auto lines = root.levels()[0];
    EXPECT_EQ(root.levelsByName().at(u"lines"), lines);
    EXPECT_EQ(root.levelForName(u"LINES"), lines);
    EXPECT_EQ(root.levelWithCollectionItemName(u"lInE"), lines);
    EXPECT_EQ(root.levelWithCollectionItemName(u"Lines"), nullptr);
    EXPECT_EQ(root.levelForName(u"Line"), nullptr);
    EXPECT_TRUE(lines->isCollection());
    EXPECT_EQ(lines->collectionItemName(), u"Line");
    EXPECT_EQ(namesOf(lines->items()), (std::vector<String>{u"LineId", u"Product", u"Amount"}));
    EXPECT_EQ(lines->itemForName(u"amount")->decimals(), 2);

    auto names = QNStructureDataTypeInfo::sdtInfoForName(u"customernames");
    ASSERT_TRUE(names);
    EXPECT_TRUE(names->isCollection());
    ASSERT_EQ(names->rootLevel()->items().size(), 1u);
    EXPECT_TRUE(names->rootLevel()->items()[0]->jsonCollectionSerializeAsSequence());

    auto field = QNStructureDataTypeInfo::sdtFieldInfoForName(u"CUSTOMERNAMES");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->dataType(), QNEntityDataTypeStructured);
    EXPECT_TRUE(field->isCollection());
    EXPECT_EQ(field->basedOnName(), String(u"CustomerNames")) << "the SDT's own spelling";
    EXPECT_EQ(field->levelInfo(), names->rootLevel());
    EXPECT_FALSE(QNStructureDataTypeInfo::sdtFieldInfoForName(u"Customer")->isCollection());

    EXPECT_EQ(QNStructureDataTypeInfo::sdtInfoForName(u"Customer.Lines"), nullptr);
    EXPECT_EQ(QNStructureDataTypeInfo::sdtFieldInfoForName(u"Nobody"), nullptr);
}

TEST_F(SDTMetadataTest, EveryMemberIsReadAndDuplicatesKeepTheFirst) {
    auto sdts = sdtsFromJSON(R"([{
        "name": "Order",
        "level": {
            "jsonName": "order",
            "items": [
                {"name": "Code", "type": 1, "length": 10, "isPassword": true,
                 "inputPicture": "@!", "jsonSerializeWhenEmpty": false},
                {"name": "CODE", "type": 0},
                {"name": "Parent", "type": 10, "basedOn": "Order", "basedOnType": 1,
                 "isCollection": true, "jsonName": null},
                {"name": "Untyped"}
            ],
            "levels": [
                {"name": "Step", "jsonName": "step", "items": []},
                {"name": "step", "isCollection": true, "collectionItemName": "StepItem"}
            ]
        }
    }])");
    ASSERT_EQ(sdts.size(), 1u);
    const auto& root = *sdts[0]->rootLevel();
    EXPECT_EQ(root.name(), u"Order") << "the root level takes the SDT's name";
    EXPECT_EQ(root.jsonName(), u"order");

    ASSERT_EQ(namesOf(root.items()),
              (std::vector<String>{u"Code", u"CODE", u"Parent", u"Untyped"}));
    EXPECT_EQ(root.itemsByName().size(), 3u);
    auto code = root.itemForName(u"code");
    EXPECT_EQ(code, root.items()[0]) << "a later duplicate stays out of the map";
    EXPECT_EQ(code->length(), 10);
    EXPECT_TRUE(code->isPassword());
    EXPECT_EQ(code->inputPicture(), String(u"@!"));
    EXPECT_FALSE(code->jsonSerializeWhenEmpty());

    auto parent = root.itemForName(u"parent");
    EXPECT_EQ(parent->jsonName(), u"Parent") << "null is as good as absent";
    EXPECT_EQ(parent->basedOnName(), String(u"Order"));
    EXPECT_EQ(parent->basedOnType(), 1);
    EXPECT_TRUE(parent->isCollection());
    EXPECT_EQ(root.itemForName(u"Untyped")->dataType(), QNEntityDataTypeCharacter);

    ASSERT_EQ(namesOf(root.levels()), (std::vector<String>{u"Step", u"step"}));
    EXPECT_EQ(root.levelForName(u"STEP"), root.levels()[0]);
    EXPECT_EQ(root.levelWithCollectionItemName(u"stepitem"), root.levels()[1])
        << "the duplicate name does not hide the collection item name";
}

TEST_F(SDTMetadataTest, MalformedEntriesAreSkippedAndLogged) {
    test::ScopedCapturingLogger log;
    auto sdts = sdtsFromJSON(R"([
        5,
        {"level": {}},
        {"name": 3},
        {"name": "A", "level": {
            "items": [
                7,
                {"type": 1},
                {"name": "Big", "type": 256},
                {"name": "Negative", "type": -1},
                {"name": "Text", "type": "1"},
                {"name": "Fraction", "length": 1.5},
                {"name": "Short", "length": -3},
                {"name": "Flag", "jsonSerializeWhenEmpty": "no"},
                {"name": "Named", "jsonName": 4},
                {"name": "Last", "type": 255},
                {"name": "First", "type": 0}
            ],
            "levels": [
                "x",
                {"items": []},
                {"name": "BadItems", "items": {}},
                {"name": "BadLevels", "levels": 1},
                {"name": "BadFlag", "isCollection": 1},
                {"name": "Good", "items": [{"name": "G", "type": 99}, {"noname": 1}]}
            ]}},
        {"name": "B", "level": []},
        {"name": "C", "level": {"name": 1}},
        {"name": "D"}
    ])");
    ASSERT_EQ(namesOf(sdts), (std::vector<String>{u"A", u"D"}));
    const auto& a = *sdts[0]->rootLevel();
    EXPECT_EQ(namesOf(a.items()), (std::vector<String>{u"Last", u"First"}));
    ASSERT_EQ(namesOf(a.levels()), std::vector<String>{u"Good"});
    EXPECT_EQ(namesOf(a.levels()[0]->items()), std::vector<String>{u"G"});
    EXPECT_EQ(sdts[1]->rootLevel()->name(), u"D") << "no level: an empty root of the SDT's name";

    // Each line says where and why.
    for (const char16_t* fragment :
         {u"SDT #0: not an object", u"SDT #1: no name", u"item #1: no name",
          u"\"Big\": \"type\" is out of range", u"\"Text\": \"type\" is not an integer",
          u"\"Short\": \"length\" is out of range", u"\"Named\": \"jsonName\" is not a string",
          u"\"Flag\": \"jsonSerializeWhenEmpty\" is not true or false",
          u"\"BadLevels\": \"levels\" is not an array", u"\"Good\" item #1: no name",
          u"SDT \"B\": its root level"}) {
        EXPECT_TRUE(log->contains(fragment)) << "not logged: " << toUtf8(fragment);
    }
    for (const auto& line : log->lines()) {
        EXPECT_EQ(line.level, QNLogLevelError);
        EXPECT_NE(line.text.find(u"skipped"), String::npos) << toUtf8(line.text);
    }

    log->clear();
    EXPECT_TRUE(sdtsFromJSON(R"({"name": "NotAList"})").empty());
    EXPECT_TRUE(log->contains(u"\"sdts\" is not an array"));
    log->clear();
    EXPECT_TRUE(QNStructureDataTypeInfo::sdtInfosFromJSONValue(Value()).empty());
    EXPECT_TRUE(log->lines().empty()) << "no SDTs is not an error";

    // The model reads its member alike, and the first SDT of a name answers.
    TempDir dir;
    dir.write("model.json", R"({"appName": "Still", "sdts": [12,
        {"name": "Dup", "level": {"items": [{"name": "First"}]}}, {"name": "DUP"}]})");
    ScopedBundle bundle(dir.path());
    auto model = QNApplicationModel::currentModel();
    EXPECT_EQ(model->appName(), u"Still");
    EXPECT_EQ(namesOf(model->sdts()), (std::vector<String>{u"Dup", u"DUP"}));
    EXPECT_EQ(QNStructureDataTypeInfo::sdtInfoForName(u"dup"), model->sdts()[0]);
}

// Levels nested `depth` deep under an SDT named "Deep", plus a sibling SDT.
std::string nestedModel(int depth) {
    std::string level =
        R"({"name": "L)" + std::to_string(depth) + R"(", "items": [{"name": "I"}]})";
    for (int i = depth - 1; i >= 1; --i) {
        level = R"({"name": "L)" + std::to_string(i) + R"(", "levels": [)" + level + "]}";
    }
    return R"([{"name": "Deep", "level": )" + level + R"(}, {"name": "Fine"}])";
}

TEST_F(SDTMetadataTest, LevelsNestedTooDeepRefuseTheSDT) {
    constexpr int kLimit = QNStructureDataTypeInfo::kMaxLevelDepth;
    {
        auto sdts = sdtsFromJSON(nestedModel(kLimit));
        ASSERT_EQ(namesOf(sdts), (std::vector<String>{u"Deep", u"Fine"}));
        auto level = sdts[0]->rootLevel();
        for (int i = 2; i <= kLimit; ++i) {
            ASSERT_EQ(level->levels().size(), 1u) << i;
            level = level->levelForName(u"l" + fromUtf8(std::to_string(i)));
            ASSERT_TRUE(level) << i;
        }
        EXPECT_TRUE(level->itemForName(u"i")) << "the deepest level allowed is whole";
    }
    test::ScopedCapturingLogger log;
    // As deep as the JSON reader itself allows.
    for (int depth : {kLimit + 1, QNJSON::kMaxDepth / 2 - 2}) {
        log->clear();
        auto sdts = sdtsFromJSON(nestedModel(depth));
        EXPECT_EQ(namesOf(sdts), std::vector<String>{u"Fine"}) << depth;
        EXPECT_TRUE(log->contains(u"SDT \"Deep\": levels nest deeper than 64")) << depth;
    }
}

TEST_F(SDTMetadataTest, InstalledSDTsAnswerBeforeTheModelsUntilRemoved) {
    ScopedBundle bundle(QN_SAMPLE_BUNDLE_DIR);
    auto fromModel = QNStructureDataTypeInfo::sdtInfoForName(u"Customer");
    ASSERT_TRUE(fromModel);

    auto shadow = sdtNamed(u"CUSTOMER", {u"Only"});
    QNStructureDataTypeInfo::installSDTInfo(shadow);
    QNStructureDataTypeInfo::installSDTInfo(nullptr);
    EXPECT_EQ(QNStructureDataTypeInfo::sdtInfoForName(u"customer"), shadow);
    EXPECT_EQ(QNStructureDataTypeInfo::sdtFieldInfoForName(u"Customer")->levelInfo(),
              shadow->rootLevel());
    EXPECT_EQ(QNApplicationModel::currentModel()->sdtInfoForName(u"customer"), fromModel)
        << "the model itself is untouched";

    auto replacement = sdtNamed(u"Customer", {u"Other"});
    QNStructureDataTypeInfo::installSDTInfo(replacement);
    EXPECT_EQ(QNStructureDataTypeInfo::sdtInfoForName(u"CUSTOMER"), replacement);

    auto memoryOnly = sdtNamed(u"Scratch", {});
    QNStructureDataTypeInfo::installSDTInfo(memoryOnly);
    EXPECT_EQ(QNStructureDataTypeInfo::sdtInfoForName(u"scratch"), memoryOnly);

    QNStructureDataTypeInfo::removeInstalledSDTInfos();
    EXPECT_EQ(QNStructureDataTypeInfo::sdtInfoForName(u"Customer"), fromModel);
    EXPECT_EQ(QNStructureDataTypeInfo::sdtInfoForName(u"Scratch"), nullptr);
    EXPECT_EQ(replacement.use_count(), 1) << "the registry let go of what it held";
}

TEST_F(SDTMetadataTest, BasedOnLevelIsLookedUpWhenAskedWithoutLooping) {
    ScopedBundle bundle(QN_SAMPLE_BUNDLE_DIR);
    auto sdts = sdtsFromJSON(R"([
        {"name": "Node", "level": {"items": [
            {"name": "Label"},
            {"name": "Children", "type": 10, "isCollection": true, "basedOn": "node"},
            {"name": "Owner", "type": 10, "basedOn": "Customer"},
            {"name": "Later", "type": 10, "basedOn": "Later"}]}}])");
    ASSERT_EQ(sdts.size(), 1u);
    std::weak_ptr<const QNStructureDataTypeInfo> watch = sdts[0];
    QNStructureDataTypeInfo::installSDTInfo(sdts[0]);
    const auto root = sdts[0]->rootLevel();

    // A tree type: following the item keeps landing on the same level.
    auto level = root;
    for (int i = 0; i < 3; ++i) {
        level = level->itemForName(u"children")->basedOnLevelInfo();
        ASSERT_EQ(level, root) << i;
    }
    EXPECT_EQ(root->itemForName(u"Label")->basedOnLevelInfo(), nullptr);
    EXPECT_EQ(root->itemForName(u"Owner")->basedOnLevelInfo(),
              QNApplicationModel::currentModel()->sdtInfoForName(u"Customer")->rootLevel())
        << "the model's SDTs are found too";

    auto later = root->itemForName(u"Later");
    EXPECT_EQ(later->basedOnLevelInfo(), nullptr) << "unknown so far";
    auto installedLater = sdtNamed(u"Later", {u"X"});
    QNStructureDataTypeInfo::installSDTInfo(installedLater);
    EXPECT_EQ(later->basedOnLevelInfo(), installedLater->rootLevel());

    // Nothing the items handed out holds the SDT alive: no ownership cycle.
    QNStructureDataTypeInfo::removeInstalledSDTInfos();
    sdts.clear();
    level.reset();
    later.reset();
    EXPECT_EQ(root.use_count(), 1);
    EXPECT_TRUE(watch.expired());
}

TEST_F(SDTMetadataTest, ConcurrentReadersWhileAnotherThreadInstalls) {
    ScopedBundle bundle(QN_SAMPLE_BUNDLE_DIR);
    const auto fromModel = QNStructureDataTypeInfo::sdtInfoForName(u"Customer");
    ASSERT_TRUE(fromModel);
    constexpr int kReaders = 3;
    constexpr int kRounds = 400;
    std::latch start(kReaders + 1);
    std::atomic<int> wrong{0};
    test::onThreads(kReaders + 1, [&](int index) {
        start.arrive_and_wait();
        for (int round = 0; round < kRounds; ++round) {
            if (index == 0) {
                QNStructureDataTypeInfo::installSDTInfo(sdtNamed(u"Customer", {u"Shadow"}));
                QNStructureDataTypeInfo::installSDTInfo(sdtNamed(u"Extra", {u"E"}));
                if (round % 2 == 0) QNStructureDataTypeInfo::removeInstalledSDTInfos();
                continue;
            }
            // The model's SDT or an installed one, whole, never nothing.
            auto customer = QNStructureDataTypeInfo::sdtInfoForName(u"CUSTOMER");
            if (!customer ||
                (customer != fromModel && !customer->rootLevel()->itemForName(u"shadow")))
                wrong.fetch_add(1);
            if (auto extra = QNStructureDataTypeInfo::sdtFieldInfoForName(u"extra")) {
                if (extra->levelInfo()->items().size() != 1) wrong.fetch_add(1);
            }
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qn
