// Records: their JSON forms, loading modes, property access and copies, on
// the sample application's generated classes and metadata.
#include <qn/data.h>
#include <qn/files/file.h>
#include <qn/host/errors.h>
#include <qn/host/model.h>
#include <qn/host/sdt_metadata.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <generated/sdt_customer.h>
#include "support/test_support.h"

using namespace qn;
using travelagency::SdtCustomer;
using travelagency::SdtCustomer_Line;
using travelagency::SdtCustomerNames;

namespace {

// The sample bundle must be current before a record class is first used:
// property tables are built once per class from the model of that moment.
class RecordTest : public ::testing::Test {
protected:
    void SetUp() override { QNThreadErrorHandler::errorHandler().clear(); }
    test::ScopedBundle bundle_{QN_SAMPLE_BUNDLE_DIR};
};

Ref<SdtCustomer> sampleCustomer() {
    auto customer = makeRef<SdtCustomer>();
    customer->setCustomerId(42);
    customer->setCustomerName(u"Ana \"Q\" Pérez");
    customer->setCustomerGuid(*QNUUID::fromString(u"0f8fad5b-d9cb-469f-a165-70867728950e"));
    customer->setCustomerSince(DateTime::fromCivilUTC({2024, 2, 29, 13, 5, 9, 0}));
    customer->setCustomerBalance(Decimal::fromString(u"1234567890123456789012345678.0123456789"));
    customer->setCustomerActive(true);
    customer->setCustomerPhoto(u"https://example.com/p.png");
    for (int i = 1; i <= 2; ++i) {
        auto line = makeRef<SdtCustomer_Line>();
        line->setLineId(i);
        line->setProduct(i == 1 ? u"Tent" : u"Stove");
        line->setAmount(Decimal::fromString(i == 1 ? u"19.99" : u"0.01"));
        customer->lines()->addItem(Value(line));
    }
    return customer;
}

std::string json(const Value& value) {
    return toUtf8(yajl_JSONString(value).value_or(u"<none>"));
}

TEST_F(RecordTest, EntryPointsWriteEveryTypeInDeclarationOrderUnderTheirFlags) {
    auto customer = sampleCustomer();
    const std::string lines = R"("Lines":[{"LineId":1,"Product":"Tent","Amount":19.99},)"
                              R"({"LineId":2,"Product":"Stove","Amount":0.01}])";
    // No name conversion: short names. Mode, Initialized and the old value
    // never appear.
    EXPECT_EQ(toUtf8(customer->toJSONString()),
              R"({"CustomerId":42,"CustomerName":"Ana \"Q\" Pérez","CustomerName_N":false,)"
              R"("CustomerGuid":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
              R"("CustomerSince":"2024-02-29T13:05:09",)"
              R"("CustomerBalance":1234567890123456789012345678.0123456789,)"
              R"("CustomerActive":true,"CustomerPhoto":"https://example.com/p.png",)"
              R"("CustomerPhoto_QNI":"",)" +
                  lines + "}");
    EXPECT_EQ(json(customer->JSON()), toUtf8(customer->toJSONString()));
    EXPECT_EQ(json(customer->qnJSONSerialize()), toUtf8(customer->toJSONString(true, true)));
    // sdtDataToJson converts names, and a companion keeps its own suffix on
    // its item's JSON name, so it cannot collide with the item.
    const std::string converted = toUtf8(customer->sdtDataToJson());
    EXPECT_NE(converted.find(R"("name":"Ana \"Q\" Pérez","name_N":false)"), std::string::npos)
        << converted;
    EXPECT_EQ(converted, toUtf8(customer->sdtDataToJsonIncludingState(false)));
    EXPECT_EQ(converted, json(customer->serialize(true)));
    // restParamSerialize leaves out companions (and unknown properties).
    EXPECT_EQ(json(customer->restParamSerialize()).find("_N"), std::string::npos);
    EXPECT_EQ(json(customer->restParamSerialize()).find("_QNI"), std::string::npos);
    // The database form holds values as the record does.
    const Value databaseForm = customer->qnSerialize();
    const Dictionary* stored = databaseForm.asDictionary();
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(stored->get(u"CustomerSince").isDate());
    EXPECT_TRUE(stored->get(u"CustomerGuid").isUuid());
}

TEST_F(RecordTest, RoundTripsInEveryLoadingMode) {
    auto original = sampleCustomer();
    original->setCustomerNameIsNull(true);
    const String plain = original->toJSONString();
    const String converted = original->sdtDataToJson();
    struct Case {
        const char* what;
        String text;
        int mode;
    } cases[] = {
        {"short names, mode 0", plain, QNSDTNameConversionShortName},
        {"short names, mode 2", plain, QNSDTNameConversionJSONOrShort},
        {"JSON names, mode 1", converted, QNSDTNameConversionJSONName},
        {"JSON names, mode 2", converted, QNSDTNameConversionJSONOrShort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto loaded = makeRef<SdtCustomer>();
        String error;
        ASSERT_TRUE(loaded->loadFromValue(Value(c.text), c.mode, &error)) << toUtf8(error);
        EXPECT_TRUE(loaded->isEqual(Value(original))) << toUtf8(loaded->toJSONString());
        EXPECT_EQ(loaded->hash(), original->hash());
        EXPECT_TRUE(loaded->customerNameIsNull()) << "the flag is not read from the name";
        EXPECT_EQ(loaded->customerName(), original->customerName());
        EXPECT_EQ(loaded->lines()->count(), 2u);
    }
    // Mode 1 reads JSON names only; mode 0 short names only.
    auto byJSONName = makeRef<SdtCustomer>();
    EXPECT_TRUE(byJSONName->loadFromValue(Value(plain), QNSDTNameConversionJSONName, nullptr));
    EXPECT_EQ(byJSONName->customerName(), u"");
    EXPECT_EQ(byJSONName->customerId(), 42);
    auto byShortName = makeRef<SdtCustomer>();
    EXPECT_TRUE(byShortName->loadFromValue(Value(u"{\"NAME\":\"x\",\"customername\":\"y\"}"),
                                           QNSDTNameConversionShortName, nullptr));
    EXPECT_EQ(byShortName->customerName(), u"y");
}

TEST_F(RecordTest, LoadingTakesWhatFitsAndSaysWhatDoesNot) {
    auto customer = sampleCustomer();
    // Missing members stay; text that does not read as the type gives its
    // empty value; a GUID text becomes a GUID; empty dates stay empty.
    ASSERT_TRUE(customer->loadFromValue(
        Value(u"{\"customerid\":\"x\",\"CustomerGuid\":\"0f8fad5b-d9cb-469f-a165-70867728950f\","
              u"\"CustomerSince\":\"0000-00-00T00:00:00\"}")));
    EXPECT_EQ(customer->customerId(), 0);
    EXPECT_EQ(customer->customerGuid().uuidString(), u"0F8FAD5B-D9CB-469F-A165-70867728950F");
    EXPECT_EQ(customer->customerName(), u"Ana \"Q\" Pérez");
    EXPECT_EQ(customer->toJSONString().find(u"\"CustomerSince\":\"0000-00-00T00:00:00\""),
              customer->toJSONString().find(u"\"CustomerSince\""));

    String error;
    EXPECT_FALSE(customer->loadFromValue(Value(u"[1,2]"), QNSDTNameConversionJSONOrShort, &error));
    EXPECT_EQ(error, u"Invalid format, expected a Dictionary");
    EXPECT_FALSE(
        customer->loadFromValue(Value(u"{\"a\":"), QNSDTNameConversionJSONOrShort, &error));
    EXPECT_EQ(error, u"Invalid format, expected a Dictionary");
    EXPECT_TRUE(QNThreadErrorHandler::errorHandler().errors().empty());
    EXPECT_FALSE(customer->loadFromValue(Value(u"{\"a\":")));
    EXPECT_EQ(QNThreadErrorHandler::errorHandler().errors().size(), 1u) << "the parser's error";

    // A line that cannot load still gives its item; the record says false.
    auto messages = QNObjectCollection::init();
    auto other = makeRef<SdtCustomer>();
    EXPECT_FALSE(other->fromJSONString(u"{\"Lines\":[{\"LineId\":1},7]}", messages.get()));
    EXPECT_EQ(other->lines()->count(), 2u);
    ASSERT_EQ(messages->count(), 1u);
    auto message = messages->items()[0].as<QNSDTMessage>();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->id(), u"FromJSON Error");
    EXPECT_EQ(message->messageDescription(),
              u"Lines: Element 2: Invalid format, expected a Dictionary");
}

TEST_F(RecordTest, FilesThatCannotBeReadLeaveTheRecordAlone) {
    test::TempDir dir;
    auto customer = sampleCustomer();
    const String before = customer->toJSONString();
    QNFile missing(fromUtf8((dir.path() / "none.json").string()));
    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(customer->fromJSONFile(missing, messages.get()));
    EXPECT_EQ(messages->count(), 1u);
    EXPECT_EQ(customer->toJSONString(), before);

    QNFile file(fromUtf8(dir.write("c.json", toUtf8(before)).string()));
    auto loaded = makeRef<SdtCustomer>();
    EXPECT_TRUE(loaded->fromJSONFile(file));
    EXPECT_EQ(loaded->customerId(), 42);
}

TEST_F(RecordTest, PropertiesByNameAndFieldSpecifier) {
    auto customer = sampleCustomer();
    EXPECT_EQ(customer->getvalue(u"customerID"), u"42");
    EXPECT_EQ(customer->getvalue(u"NoSuchThing"), u"");
    EXPECT_EQ(customer->valueForFieldSpecifier(u"Lines.item(2).Product").asString(), u"Stove");
    EXPECT_EQ(customer->valueForFieldSpecifier(u"Lines.count").integerValue(), 2);
    EXPECT_TRUE(customer->valueForFieldSpecifier(u"CustomerId.x").isAbsent());
    EXPECT_FALSE(customer->sdtLastModifiedDate());
    customer->setValueForFieldSpecifier(Value(u"Lamp"), u"Lines.2.Product");
    EXPECT_EQ(customer->lines()->valueForFieldSpecifier(u"item(2).product").asString(), u"Lamp");
    EXPECT_TRUE(customer->sdtLastModifiedDate());

    // The null marker sets the type's empty value; a media value also goes
    // to its "_qni" accessor; a GUID text becomes a GUID.
    customer->setvalueForKey(u"CustomerId", Value::null());
    EXPECT_EQ(customer->customerId(), 0);
    customer->setvalueForKey(u"customerphoto", Value(u"file:///tmp/a.png"));
    EXPECT_EQ(customer->customerPhotoURI(), u"file:///tmp/a.png");
    customer->setvalue(u"CustomerGuid", Value(u"not a guid"));
    EXPECT_TRUE(customer->customerGuid().isEmpty());
    EXPECT_EQ(customer->objectValueForLowercaseFieldName(u"customerphoto").asString(),
              u"file:///tmp/a.png");
    EXPECT_TRUE(customer->isDirty(u"CUSTOMERPHOTO"));
    customer->resetDirties();
    EXPECT_FALSE(customer->isDirty(u"CustomerPhoto"));
}

TEST_F(RecordTest, ClonesAreDeepAndEqualUntilChanged) {
    auto customer = sampleCustomer();
    auto copy = std::dynamic_pointer_cast<SdtCustomer>(customer->clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->isEqual(Value(customer)));
    EXPECT_EQ(copy->hash(), customer->hash());
    EXPECT_NE(copy->lines(), customer->lines()) << "nested collections are copied";
    copy->lines()->setValueForFieldSpecifier(Value(u"Kettle"), u"1.Product");
    EXPECT_FALSE(copy->isEqual(Value(customer)));
    EXPECT_EQ(customer->lines()->valueForFieldSpecifier(u"1.Product").asString(), u"Tent");
    EXPECT_NE(customer->description().find(u"CustomerId => 42"), String::npos);
}

TEST_F(RecordTest, SequenceRecordIsItsArray) {
    SdtCustomerNames names;
    names.names()->addItem(Value(u"Ana"));
    names.names()->addItem(Value(u"Bo"));
    EXPECT_EQ(toUtf8(names.toJSONString()), R"(["Ana","Bo"])");
    SdtCustomerNames loaded;
    EXPECT_TRUE(loaded.fromJSONString(u"[\"x\",\"y\",\"z\"]"));
    EXPECT_EQ(loaded.names()->count(), 3u);
    String error;
    EXPECT_FALSE(loaded.loadFromValue(Value(u"7"), QNSDTNameConversionJSONOrShort, &error));
    EXPECT_EQ(error, u"Invalid format, expected a Dictionary");
}

// A record and collection that contain themselves: every walk stops.
TEST_F(RecordTest, SelfContainingStructuresStopAtTheDepthLimit) {
    auto list = QNObjectCollection::init();
    list->addItem(Value(u"a"));
    list->addItem(Value(list));
    EXPECT_NO_FATAL_FAILURE((void)list->toJSONString());
    EXPECT_NO_FATAL_FAILURE((void)list->description());
    EXPECT_NO_FATAL_FAILURE((void)list->hash());
    auto copy = list->clone();
    EXPECT_EQ(copy->count(), 2u);
    EXPECT_FALSE(copy->isEqual(Value(list))) << "an unbounded structure is never proven equal";
    EXPECT_TRUE(list->isEqual(Value(list)));
    list->removeAllItems();  // breaks the cycle, so nothing leaks
}

// A trip with a sub-record (not a collection) holding an image: the
// sub-record is written with the caller's flags and its file is gathered.
class SdtTrip_Cover : public QNSdtBusinessComponent {
    QN_OBJECT(SdtTrip_Cover)
public:
    const std::vector<String>& sdtLevelPathNames() const override {
        static const std::vector<String> path{u"Trip", u"Cover"};
        return path;
    }
    const QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override {
        static const QNSDTPropertiesInfo::NameMapping mapping{{u"Photo", u"Photo"},
                                                              {u"Caption", u"Caption"}};
        return mapping;
    }
    Value objectValueForPropertyName(StringView name) const override {
        return name == u"Photo" ? Value(photo) : name == u"Caption" ? Value(caption) : Value();
    }
    void setObjectValueForPropertyName(const Value& value, StringView name) override {
        (name == u"Photo" ? photo : caption) = value.asString();
    }
    String photo, caption;
};

class SdtTrip : public QNSdtBusinessComponent {
    QN_OBJECT(SdtTrip)
public:
    const std::vector<String>& sdtLevelPathNames() const override {
        static const std::vector<String> path{u"Trip"};
        return path;
    }
    const QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override {
        static const QNSDTPropertiesInfo::NameMapping mapping{
            {u"TripId", u"TripId"}, {u"Cover", u"Cover"}, {u"Note", u"Note"}};
        return mapping;
    }
    Value objectValueForPropertyName(StringView name) const override {
        if (name == u"TripId") return Value(tripId);
        if (name == u"Cover") return Value(cover);
        return Value();  // Note never has a value
    }
    void setObjectValueForPropertyName(const Value& value, StringView name) override {
        if (name == u"TripId") tripId = value.integerValue();
    }
    std::int64_t tripId = 0;
    Ref<SdtTrip_Cover> cover = makeRef<SdtTrip_Cover>();
};

QN_REGISTER_CLASS(SdtTrip_Cover, QNSdtBusinessComponent)
QN_REGISTER_CLASS(SdtTrip, QNSdtBusinessComponent)

void installTripMetadata() {
    const auto sdts = QNJSON::parse(std::string_view(R"([{"name":"Trip","level":{"name":"Trip",
        "items":[{"name":"TripId","type":0,"length":4}],
        "levels":[{"name":"Cover","jsonName":"cover","items":[
            {"name":"Photo","jsonName":"picture","type":8},
            {"name":"Caption","type":1,"length":20}]}]}}])"));
    for (const auto& info : QNStructureDataTypeInfo::sdtInfosFromJSONValue(*sdts))
        QNStructureDataTypeInfo::installSDTInfo(info);
}

TEST_F(RecordTest, SubRecordsTakeTheFlagsAndGiveTheirFiles) {
    installTripMetadata();
    // Only files inside the application's folders are queued for upload.
    const auto photo = std::filesystem::path(toUtf8(QNFileSystemObject::tempPath())) / "beach.jpg";
    test::writeFile(photo, "jpeg bytes");
    SdtTrip trip;
    trip.tripId = 7;
    trip.cover->photo = fromUtf8(photo.string());
    trip.cover->caption = u"Sun";
    trip.cover->setDirty(u"Photo");  // a binary field goes out once assigned
    EXPECT_EQ(toUtf8(trip.sdtDataToJson()), R"({"TripId":7,"cover":{"picture":")" + photo.string() +
                                                R"(","Caption":"Sun"},)"
                                                R"("Note":null})")
        << "JSON names reach into the sub-record; a property without value is null";
    EXPECT_EQ(trip.getvalue(u"Note"), u"");

    std::vector<String> files;
    const Value message =
        trip.generateSerialization({true, false, false, false, true}, &files, u"file:%1");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(json(message.asDictionary()->get(u"Cover")), R"({"Photo":"file:0","Caption":"Sun"})");
    EXPECT_TRUE(toUtf8(files[0]).starts_with("$UPLOADS/")) << toUtf8(files[0]);
    EXPECT_TRUE(toUtf8(files[0]).ends_with(".jpg"));
    const auto copied = std::filesystem::path(toUtf8(QNFileSystemObject::pendingUploadsPath())) /
                        toUtf8(files[0]).substr(std::string("$UPLOADS/").size());
    EXPECT_TRUE(std::filesystem::exists(copied));
    std::filesystem::remove(copied);
    std::filesystem::remove(photo);
    QNStructureDataTypeInfo::removeInstalledSDTInfos();
}

}  // namespace
