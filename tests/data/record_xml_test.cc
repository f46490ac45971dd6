// Records and collections in XML: both forms, round trips, the mended
// faults of reading, and hostile input.
#include <qn/data.h>
#include <qn/files/file.h>
#include <qn/host/errors.h>
#include <qn/host/utilities.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include <generated/sdt_customer.h>
#include <generated/sdt_flight.h>
#include "support/test_support.h"

using namespace qn;
using travelagency::SdtCustomer;
using travelagency::SdtCustomer_Line;
using travelagency::SdtFlight;
using travelagency::SdtFlight_Leg;

namespace {

// A record of every data type, with a null flag, a sub-record level and a
// collection level. Values are kept as given, as generated accessors would
// keep them in typed members.
class SdtKinds_Part : public QNSdtBusinessComponent {
    QN_OBJECT(SdtKinds_Part)
public:
    const std::vector<String>& sdtLevelPathNames() const override {
        static const std::vector<String> path{u"Kinds", u"Part"};
        return path;
    }
    const QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override {
        static const QNSDTPropertiesInfo::NameMapping mapping{{u"PartId", u"PartId"},
                                                              {u"Label", u"Label"}};
        return mapping;
    }
    Value objectValueForPropertyName(StringView name) const override {
        auto found = values.find(String(name));
        return found == values.end() ? Value() : found->second;
    }
    void setObjectValueForPropertyName(const Value& value, StringView name) override {
        values[String(name)] = value;
    }
    std::map<String, Value> values;
};

class SdtKinds_Info : public SdtKinds_Part {
    QN_OBJECT(SdtKinds_Info)
public:
    const std::vector<String>& sdtLevelPathNames() const override {
        static const std::vector<String> path{u"Kinds", u"Info"};
        return path;
    }
    const QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override {
        static const QNSDTPropertiesInfo::NameMapping mapping{{u"Remark", u"Remark"}};
        return mapping;
    }
};

const char* const kKindNames[] = {"Num",  "Dec",  "Chr",   "Long",  "Day",  "Stamp",
                                  "Link", "Flag", "Guid",  "Photo", "Blob", "Sound",
                                  "Clip", "Geo",  "Store", "Chr_N"};

class SdtKinds : public SdtKinds_Part {
    QN_OBJECT(SdtKinds)
public:
    SdtKinds() {
        values[u"Info"] = Value(makeRef<SdtKinds_Info>());
        values[u"Parts"] = Value(makeRef<QNObjectCollection>(std::optional<String>(u"Kinds.Part")));
    }
    const std::vector<String>& sdtLevelPathNames() const override {
        static const std::vector<String> path{u"Kinds"};
        return path;
    }
    const QNSDTPropertiesInfo::NameMapping& sdtPropertiesNameMapping() const override {
        static const QNSDTPropertiesInfo::NameMapping mapping = [] {
            QNSDTPropertiesInfo::NameMapping m;
            for (const char* name : kKindNames)
                m.emplace_back(fromUtf8(name), fromUtf8(name));
            m.emplace_back(u"Info", u"Info");
            m.emplace_back(u"Parts", u"Parts");
            m.emplace_back(u"Extra", u"Extra");
            return m;
        }();
        return mapping;
    }
    Ref<QNObjectCollection> parts() const { return values.at(u"Parts").as<QNObjectCollection>(); }
    Ref<SdtKinds_Info> info() const { return values.at(u"Info").as<SdtKinds_Info>(); }
};

QN_REGISTER_CLASS(SdtKinds_Part, QNSdtBusinessComponent)
QN_REGISTER_CLASS(SdtKinds_Info, QNSdtBusinessComponent)
QN_REGISTER_CLASS(SdtKinds, QNSdtBusinessComponent)

void installKindsMetadata() {
    const auto sdts = QNJSON::parse(std::string_view(R"([{"name":"Kinds","level":{"name":"Kinds",
        "items":[{"name":"Num","type":0,"length":9},{"name":"Dec","type":0,"length":20,"decimals":6},
            {"name":"Chr","type":1,"length":20},{"name":"Long","type":2},{"name":"Day","type":3},
            {"name":"Stamp","type":4},{"name":"Link","type":5},{"name":"Flag","type":6},
            {"name":"Guid","type":7},{"name":"Photo","type":8},{"name":"Blob","type":9},
            {"name":"Sound","type":12},{"name":"Clip","type":13},{"name":"Geo","type":14},
            {"name":"Store","type":15}],
        "levels":[{"name":"Info","items":[{"name":"Remark","type":1,"length":40}]},
            {"name":"Parts","isCollection":true,"collectionItemName":"Part","items":[
                {"name":"PartId","type":0,"length":4},{"name":"Label","type":1,"length":20}]}]}}])"));
    for (const auto& info : QNStructureDataTypeInfo::sdtInfosFromJSONValue(*sdts))
        QNStructureDataTypeInfo::installSDTInfo(info);
}

class RecordXMLTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNThreadErrorHandler::errorHandler().clear();
        installKindsMetadata();
    }
    void TearDown() override { QNStructureDataTypeInfo::removeInstalledSDTInfos(); }
    test::ScopedBundle bundle_{QN_SAMPLE_BUNDLE_DIR};
};

String onlyMessage(const QNObjectCollection& messages) {
    EXPECT_EQ(messages.count(), 1u);
    auto message = messages.count() ? messages.items()[0].as<QNSDTMessage>() : nullptr;
    EXPECT_TRUE(message && message->id() == u"FromXML Error");
    return message ? message->messageDescription() : String(u"<no message>");
}

Ref<SdtKinds> fullKinds() {
    auto kinds = makeRef<SdtKinds>();
    auto& v = kinds->values;
    v[u"Num"] = Value(std::int64_t{-42});
    v[u"Dec"] = Value(Decimal::fromString(u"12345678901234.123456"));
    v[u"Chr"] = Value(String(u"a < b & \"c\" \u00e9\U0001F600\r\n  "));
    v[u"Long"] = Value(String(u"  two\nlines  "));
    v[u"Day"] = Value(DateTime::fromCivilUTC({2024, 2, 29, 0, 0, 0, 0}));
    v[u"Stamp"] = Value(DateTime::fromCivilUTC({1999, 12, 31, 23, 59, 58, 0}));
    v[u"Link"] = Value(String(u"https://example.com/a?b=1&c=2"));
    v[u"Flag"] = Value(true);
    v[u"Guid"] = Value(*QNUUID::fromString(u"0f8fad5b-d9cb-469f-a165-70867728950e"));
    for (const char16_t* media : {u"Photo", u"Blob", u"Sound", u"Clip", u"Store"})
        v[media] = Value(String(u"file:///data/") + media);
    v[u"Geo"] = Value(String(u"POINT (-56.18 -34.9)"));
    v[u"Chr_N"] = Value(true);
    v[u"Extra"] = Value(String(u"not in the metadata"));
    kinds->info()->values[u"Remark"] = Value(String(u"inside"));
    for (std::int64_t id : {1, 2}) {
        auto part = makeRef<SdtKinds_Part>();
        part->values[u"PartId"] = Value(id);
        part->values[u"Label"] = Value(id == 1 ? String() : String(u"second"));
        kinds->parts()->addItem(Value(part));
    }
    return kinds;
}

// --- Records -----------------------------------------------------------------------

TEST_F(RecordXMLTest, EveryDataTypeAndLevelRoundTrips) {
    const auto kinds = fullKinds();
    const String xml = kinds->toxml();
    EXPECT_TRUE(toUtf8(xml).starts_with("<Kinds xmlns=\"\"><Num>-42</Num>")) << toUtf8(xml);
    EXPECT_TRUE(xml.ends_with(u"</Kinds>\n")) << "a returned document keeps libxml2's newline";
    EXPECT_NE(xml.find(u"<Info xmlns=\"\"><Remark>inside</Remark></Info>"), String::npos)
        << "a sub-record is written as its properties, not as a description";
    EXPECT_NE(xml.find(u"<Parts><Part xmlns=\"\"><PartId>1</PartId><Label></Label></Part>"),
              String::npos);

    SdtKinds back;
    ASSERT_TRUE(back.fromxml(xml)) << toUtf8(xml);
    EXPECT_TRUE(back.isEqual(Value(kinds))) << toUtf8(back.toJSONString()) << "\n"
                                            << toUtf8(kinds->toJSONString());
    EXPECT_EQ(back.values[u"Num"], Value(-42)) << "numbers come back as numbers";
    EXPECT_TRUE(back.values[u"Guid"].isUuid());
    EXPECT_TRUE(back.values[u"Day"].isDate());
    EXPECT_EQ(back.parts()->count(), 2u);

    SdtKinds withDeclaration;
    EXPECT_TRUE(withDeclaration.fromxml(kinds->toxmlIncludeHeader(true, false, {}, {})));
    EXPECT_TRUE(withDeclaration.isEqual(Value(kinds)));
}

TEST_F(RecordXMLTest, GeneratedRecordsRoundTripThroughTheirOwnMethods) {
    SdtFlight flight;
    flight.flightId = 90;
    flight.code = u"UA 1 & 2";
    flight.flightDate = DateTime::fromCivilUTC({2025, 1, 31, 0, 0, 0, 0});
    flight.departure = DateTime::fromCivilUTC({2025, 1, 31, 22, 5, 0, 0});
    flight.price = Decimal::fromString(u"1999.95");
    flight.open = true;
    for (std::int64_t id : {1, 2}) {
        auto leg = makeRef<SdtFlight_Leg>();
        leg->legId = id;
        leg->from = id == 1 ? u"MVD" : u"GRU";
        leg->to = id == 1 ? u"GRU" : u"";
        flight.legs->addItem(Value(leg));
    }
    const String xml = flight.toxmlIncludeHeader(true, true, {}, u"TravelAgency");
    EXPECT_TRUE(toUtf8(xml).starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_NE(xml.find(u"<Flight xmlns=\"TravelAgency\">"), String::npos) << toUtf8(xml);
    SdtFlight back;
    ASSERT_TRUE(back.fromxml(xml));
    EXPECT_TRUE(back.isEqual(Value(flight.clone()))) << toUtf8(back.toJSONString());

    // An empty collection is written self-closing and read as complete.
    SdtFlight empty;
    empty.code = u"X";
    const String emptyXML = empty.toxml();
    EXPECT_NE(emptyXML.find(u"<Legs xmlns=\"\"/>"), String::npos) << toUtf8(emptyXML);
    SdtFlight emptyBack;
    EXPECT_TRUE(emptyBack.fromxml(emptyXML));
    EXPECT_EQ(emptyBack.code, u"X");

    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(back.fromxml(u"<Trip/>", messages.get()));
    EXPECT_EQ(onlyMessage(*messages), u"Root node does not match with collection name");
}

// Input that breaks off inside an element a generated reader skips: the
// reader has no current node from then on, so the reader's loop ends.
TEST_F(RecordXMLTest, GeneratedReadersEndOnInputThatBreaksOff) {
    SdtFlight flight;
    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(flight.fromxml(u"<Flight><x>", messages.get()));
    EXPECT_EQ(messages->count(), 1u);

    QNXMLReader reader;
    reader.openFromString(u"<Legs><Leg><LegId>1</LegId><x>");
    reader.read();
    QNObjectCollection legs{std::optional<String>(u"Flight.Leg")};
    EXPECT_EQ(readxmlcollection(legs, reader, u"Legs", u"Leg"), 0);
    EXPECT_TRUE(reader.eof()) << "reading broke off (in skip: error 4)";
    EXPECT_EQ(reader.nodeType(), 0);
    EXPECT_EQ(reader.name(), u"");
}

// Only the root's children are properties: a field of a nested level or of
// an unknown element never overwrites the top-level property of its name.
TEST_F(RecordXMLTest, OnlyTheRootsChildrenAreProperties) {
    SdtCustomer customer;
    ASSERT_TRUE(
        customer.fromxml(u"<Customer><CustomerId>7</CustomerId>"
                         u"<Lines><Line><CustomerId>99</CustomerId><LineId>3</LineId>"
                         u"<Product><CustomerName>deep</CustomerName>Tea</Product></Line></Lines>"
                         u"<Other><CustomerName>wrong</CustomerName></Other>"
                         u"<CustomerName>Ana</CustomerName></Customer>"));
    EXPECT_EQ(customer.customerId(), 7);
    EXPECT_EQ(customer.customerName(), u"Ana");
    ASSERT_EQ(customer.lines()->count(), 1u);
    auto line = customer.lines()->items()[0].as<SdtCustomer_Line>();
    EXPECT_EQ(line->lineId(), 3);
    EXPECT_EQ(line->product(), u"Tea") << "a field's own text, its child elements passed over";

    // An empty element is the field's empty value, not "no change".
    EXPECT_TRUE(customer.fromxml(u"<Customer><CustomerName/><CustomerId></CustomerId></Customer>"));
    EXPECT_EQ(customer.customerName(), u"");
    EXPECT_EQ(customer.customerId(), 0);
}

TEST_F(RecordXMLTest, FailuresAreReportedWithTheirTexts) {
    SdtCustomer customer;
    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(customer.fromxml(u"<Client><CustomerId>1</CustomerId></Client>", messages.get()));
    EXPECT_EQ(onlyMessage(*messages), u"Root node does not match with collection name");
    EXPECT_EQ(customer.customerId(), 0) << "nothing loads from another root";

    messages->removeAllItems();
    EXPECT_FALSE(customer.fromxml(u"<Customer><CustomerId>5</CustomerId><Lines>", messages.get()));
    EXPECT_EQ(onlyMessage(*messages), u"Error parsing XML string (-1)");
    EXPECT_EQ(customer.customerId(), 5) << "what loaded before the error stays";

    messages->removeAllItems();
    EXPECT_FALSE(customer.fromxml(u"", messages.get()));
    EXPECT_EQ(onlyMessage(*messages), u"Could not create XML Reader");

    // Without a list the failure goes to the thread's errors.
    EXPECT_FALSE(customer.fromxml(u"<Client/>"));
    EXPECT_EQ(QNThreadErrorHandler::errorHandler().errors().size(), 1u);

    test::TempDir dir;
    QNFile missing(fromUtf8((dir.path() / "none.xml").string()));
    messages->removeAllItems();
    EXPECT_FALSE(customer.fromxmlfile(missing, messages.get()))
        << "an unreadable file is a failure, not an empty success";
    EXPECT_EQ(messages->count(), 1u);
    QNFile file(
        fromUtf8(dir.write("c.xml", "<Customer><CustomerId>12</CustomerId></Customer>").string()));
    EXPECT_TRUE(customer.fromxmlfile(file));
    EXPECT_EQ(customer.customerId(), 12);
}

TEST_F(RecordXMLTest, TheBaseGeneratedMethodsAreAbstract) {
    const auto policy = QNUtilities::fatalErrorPolicy();
    SdtCustomer customer;
    QNXMLWriter writer;
    writer.openToString();
    EXPECT_THROW(customer.writexml(writer, u"C", u""), FatalError);
    QNUtilities::setFatalErrorPolicy(QNUtilities::FatalErrorPolicy::kRecover);
    QNXMLReader reader;
    reader.openFromString(u"<C/>");
    EXPECT_EQ(customer.readxml(reader, u"C"), 1);
    QNUtilities::setFatalErrorPolicy(policy);
}

// --- Collections ---------------------------------------------------------------------

TEST_F(RecordXMLTest, UntypedCollectionsKeepNullsEmptyTextsAndNesting) {
    auto list = QNObjectCollection::init();
    list->addItem(Value(u"a<b"));
    list->addItem(Value::null());
    list->addItem(Value(u""));
    auto nested = QNObjectCollection::init();
    nested->addItem(Value(u"x"));
    list->addItem(Value(nested));
    EXPECT_EQ(toUtf8(list->toxml()),
              "<item>a&lt;b</item><item/><item></item><item><item>x</item></item>\n");
    const String xml = list->toxmlIncludeHeader(true, true, u"Collection", {});
    EXPECT_TRUE(
        toUtf8(xml).starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Collection>"));

    auto back = QNObjectCollection::init();
    ASSERT_TRUE(back->fromxml(xml));
    EXPECT_TRUE(back->isEqual(Value(list))) << toUtf8(back->toJSONString());
    EXPECT_FALSE(back->items()[1].isString()) << "<item/> is the null marker";

    auto other = QNObjectCollection::init();
    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(other->fromxml(u"<Other/>", messages.get()));
    EXPECT_EQ(onlyMessage(*messages), u"FromXML: root node does not match with collection name");
    EXPECT_TRUE(
        other->fromxmlUseCollectionNameForRootNode(u"<Other><item>z</item></Other>", false));
    EXPECT_EQ(other->count(), 1u);
    messages->removeAllItems();
    EXPECT_FALSE(other->fromxml(u"<Collection><item>q</item>", messages.get()));
    EXPECT_EQ(onlyMessage(*messages), u"FromXML: error parsing XML string");
    EXPECT_GE(other->count(), 1u) << "loading appends: what was there stays";
}

TEST_F(RecordXMLTest, TypedCollectionsRoundTripAndReportItemsOfAnotherLevel) {
    const auto kinds = fullKinds();
    QNObjectCollection list{std::optional<String>(u"Kinds")};
    list.addItem(Value(kinds));
    list.addItem(Value(makeRef<SdtKinds>()));
    // The root a typed collection expects is its items' SDT name.
    const String xml = list.toxmlIncludeHeader(false, true, u"Kinds", {});
    QNObjectCollection back{std::optional<String>(u"Kinds")};
    ASSERT_TRUE(back.fromxml(xml)) << toUtf8(xml);
    EXPECT_TRUE(back.isEqual(Value(list.clone())));

    QNObjectCollection lines{std::optional<String>(u"Kinds.Part")};
    auto messages = QNObjectCollection::init();
    EXPECT_FALSE(
        lines.fromxml(u"<Kinds><Part><PartId>4</PartId></Part><Piece/></Kinds>", messages.get()));
    EXPECT_EQ(lines.count(), 2u) << "an item of another name is still made, blank";
    EXPECT_EQ(onlyMessage(*messages), u"Root node does not match with collection name");
}

// Generated-XML records inside a collection are written by their own
// writer; the document's final newline is dropped so no text node appears
// between items.
TEST_F(RecordXMLTest, NestedDocumentsAddNoBlankText) {
    QNObjectCollection legs{std::optional<String>(u"Flight.Leg")};
    for (std::int64_t id : {1, 2}) {
        auto leg = makeRef<SdtFlight_Leg>();
        leg->legId = id;
        legs.addItem(Value(leg));
    }
    const String xml = legs.toxmlIncludeHeader(false, true, u"Flight", {});
    EXPECT_NE(xml.find(u"</Leg><Leg>"), String::npos) << toUtf8(xml);
    QNObjectCollection back{std::optional<String>(u"Flight.Leg")};
    ASSERT_TRUE(back.fromxml(xml));
    EXPECT_TRUE(back.isEqual(Value(legs.clone())));
}

String writtenByGeneratedCode(const std::function<void(QNXMLWriter&)>& write) {
    QNXMLWriter writer;
    writer.openToString();
    writer.setIndentation(0);
    write(writer);
    return writer.resultingString();
}

TEST_F(RecordXMLTest, GeneratedCollectionFormsMapItemNamesAndNamespaces) {
    auto strings = QNObjectCollection::init();
    strings->addItem(Value(u"a&b"));
    strings->addItem(Value::null());
    strings->addItem(Value(std::int64_t{5}));
    EXPECT_EQ(toUtf8(writtenByGeneratedCode([&](QNXMLWriter& w) {
                  writexmlcollection(*strings, w, u"Names", u"[*:nosend]urn:x", u"internal",
                                     u"urn:x");
              })),
              "<Names><item>a&amp;b</item><item/><item>5</item></Names>")
        << "no xmlns where marked; equal namespaces give none on the items";
    EXPECT_EQ(toUtf8(writtenByGeneratedCode([&](QNXMLWriter& w) {
                  writexmlcollection(*strings, w, u"Names", u"urn:a", u" Name ", u"urn:b");
              })),
              "<Names xmlns=\"urn:a\"><Name xmlns=\"urn:b\">a&amp;b</Name><Name xmlns=\"urn:b\"/>"
              "<Name xmlns=\"urn:b\">5</Name></Names>");

    // Read back with the same item-name mapping ("internal" is "item").
    QNXMLReader reader;
    reader.openFromString(u"<Names><item>a&amp;b</item><item/><item></item><item>5</item></Names>");
    reader.read();
    auto back = QNObjectCollection::init();
    EXPECT_EQ(readxmlcollection(*back, reader, u"Names", u"internal"), 1);
    ASSERT_EQ(back->count(), 4u);
    EXPECT_EQ(back->items()[0], Value(u"a&b"));
    EXPECT_EQ(back->items()[2], Value(u"")) << "an element with an end tag is stepped past";
    EXPECT_EQ(back->items()[3], Value(u"5")) << "generated code reads simple items as text";

    reader.openFromString(u"<Names/>");
    reader.read();
    EXPECT_EQ(readxmlcollection(*back, reader, u"Names", u""), 1) << "an empty collection";
    reader.openFromString(u"<Names><Other/></Names>");
    reader.read();
    EXPECT_EQ(readxmlcollection(*back, reader, u"Names", u""), 0);
    EXPECT_EQ(readxml(*back, reader, u"Names"), 0);
}

TEST_F(RecordXMLTest, GeneratedCollectionFormsCarryOtherRecordsAsTheirXML) {
    QNObjectCollection lines{std::optional<String>(u"Customer.Line")};
    for (std::int64_t id : {4, 5}) {
        auto line = makeRef<SdtCustomer_Line>();
        line->setLineId(id);
        line->setProduct(u"P" + fromUtf8(std::to_string(id)));
        lines.addItem(Value(line));
    }
    const String xml = writtenByGeneratedCode([&](QNXMLWriter& w) {
        w.writeStartElement(u"Order");
        writexmlcollection(lines, w, u"Lines", u"", u"Line", u"");
        w.writeElementValue(u"After", u"x");
        w.writeEndElement();
    });
    QNXMLReader reader;
    reader.openFromString(xml);
    reader.read();
    reader.read();
    QNObjectCollection back{std::optional<String>(u"Customer.Line")};
    ASSERT_EQ(readxmlcollection(back, reader, u"Lines", u"Line"), 1) << toUtf8(xml);
    EXPECT_TRUE(back.isEqual(Value(lines.clone()))) << toUtf8(back.toJSONString());
    EXPECT_EQ(reader.read(), 1);
    EXPECT_EQ(reader.name(), u"After") << "the reader ends on the collection's end tag";
}

// --- Hostile input -----------------------------------------------------------------

// Whatever the XML reader refuses, loading refuses; what it lets through
// never brings in an entity's or a file's content.
TEST_F(RecordXMLTest, HostileDocumentsAreRefusedAsTheReaderRefusesThem) {
    std::string laughs = "<!DOCTYPE Customer [<!ENTITY a \"" + std::string(64, 'a') + "\">";
    std::string previous = "a";
    for (char level = 'b'; level <= 'k'; ++level) {
        laughs += "<!ENTITY " + std::string(1, level) + " \"";
        for (int i = 0; i < 10; ++i)
            laughs += "&" + previous + ";";
        laughs += "\">";
        previous = std::string(1, level);
    }
    laughs += "]><Customer><CustomerName>&k;</CustomerName></Customer>";
    std::string deep;
    for (int i = 0; i < 600; ++i)
        deep += "<Lines>";
    const std::string cases[] = {
        laughs,
        "<!DOCTYPE Customer [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<Customer><CustomerName>&x;</CustomerName></Customer>",
        "<!DOCTYPE Customer SYSTEM \"http://127.0.0.1:9/none.dtd\"><Customer/>",
        "<Customer>" + deep,
    };
    const bool refused[] = {true, false, false, true};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string& text = cases[i];
        QNXMLReader reader;
        reader.openFromString(fromUtf8(text));
        while (reader.read() == 1) {
        }
        const bool readerRefuses = reader.errCode() == QNXMLReader::kMalformedError;
        EXPECT_EQ(readerRefuses, refused[i]) << text.substr(0, 80);
        SdtCustomer customer;
        auto messages = QNObjectCollection::init();
        EXPECT_EQ(customer.fromxml(fromUtf8(text), messages.get()), !readerRefuses)
            << text.substr(0, 80);
        EXPECT_EQ(customer.customerName().find(u"root:"), String::npos);
        EXPECT_LT(customer.customerName().size(), 1000u) << "no entity is expanded";
        auto list = QNObjectCollection::init();
        EXPECT_EQ(list->fromxmlUseCollectionNameForRootNode(fromUtf8(text), false), !readerRefuses);
    }
}

}  // namespace
